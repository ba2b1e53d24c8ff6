#ifndef TOOLS_MKSETUP_PROGRESS_H
#define TOOLS_MKSETUP_PROGRESS_H

#include <stdint.h>

#include <chrono>

// A progress line for long builds, on the error stream and only when that
// is a terminal (never in a pipe or a log): the bytes hashed and written of
// the whole, the rate and the time left, redrawn in place every 200 ms,
// from the first 200 ms on, and cleared at the end.
class Progress {
public:
    // total: the bytes the build will hash. A progress that is not enabled
    // (--quiet) or not on a terminal shows nothing.
    Progress(uint64_t total, bool enabled);
    ~Progress();
    void Add(uint64_t bytes);

private:
    using Clock = std::chrono::steady_clock;
    void Draw(Clock::time_point now);
    uint64_t total_, done_ = 0;
    bool active_, drawn_ = false;
    Clock::time_point start_, next_;
};

#endif
