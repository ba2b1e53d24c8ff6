// Runs the signing commands as the packager's dispatcher does, for the
// tests: latestcmd_driver keygen|sign-latest ARGS... The tests' paths are
// ASCII, so the arguments pass as they come (the commands read UTF-8).
#include <stdio.h>
#include <string.h>

#include "tools/mksetup/commands.h"

int main(int argc, char **argv) {
    if (argc >= 2 && strcmp(argv[1], "keygen") == 0)
        return RunKeygen(argc - 2, argv + 2);
    if (argc >= 2 && strcmp(argv[1], "sign-latest") == 0)
        return RunSignLatest(argc - 2, argv + 2);
    fprintf(stderr, "usage: latestcmd_driver keygen|sign-latest ARGS...\n");
    return 2;
}
