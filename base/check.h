#ifndef BASE_CHECK_H
#define BASE_CHECK_H

// Internal consistency checks. A failed check writes
// "Assertion failed: <check>, file <module>, line <n>" to the standard error
// stream and ends the program; it is never compiled out.
#define CHECK(expr) ((expr) ? (void)0 : CheckFailed(#expr, __FILE__, __LINE__))

[[noreturn]] void CheckFailed(const char *expression, const char *file, int line);

#endif
