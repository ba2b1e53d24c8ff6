// Holds a file open for writing without sharing it, as another program
// using the file would, until its standard input ends. Prints "held" once
// the file is open. Test code.
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: holdfile FILE\n");
        return 64;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        printf("error %lu\n", GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF)
        continue;
    CloseHandle(file);
    return 0;
}
