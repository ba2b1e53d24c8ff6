#ifndef TOOLS_MKSETUP_COMMANDS_H
#define TOOLS_MKSETUP_COMMANDS_H

// The packager's commands, as tools/mksetup/main.cpp dispatches them. argv
// holds the arguments after the command's name (argc of them); each returns
// the process exit status: 0 on success, 1 when the work failed, 2 for
// wrong usage. Errors are one line on stderr each, and a failed command
// leaves no output file.

// build TEMPLATE -o OUT.exe [options]: an installer (and a mirror) from a
// template and its files (tools/mksetup/build.cpp).
int RunBuild(int argc, char **argv);

// release TEMPLATE --key KEYFILE --mirror DIR -o OUT.exe [build options]:
// build with an updater that checks against KEYFILE's public key, then the
// signed LATEST for the new description, written into the mirror last
// (tools/mksetup/build.cpp).
int RunRelease(int argc, char **argv);

// set-urls INSTALLER [--http URL] [--ftp URL] [-o OUT.exe]: the same
// installer pointed at other servers (tools/mksetup/seturls.cpp).
int RunSetUrls(int argc, char **argv);

// list INSTALLER [--codepage N]: what an installer carries and downloads
// (tools/mksetup/listing.cpp).
int RunList(int argc, char **argv);

// keygen KEYFILE [--public PUBFILE]
// Makes a DSA key (p of 2048 bits, q of 160 bits) from the system's random
// source and writes it to KEYFILE, which must not exist yet; with --public
// also the public key file (tools/mksetup/keyfile.h gives both formats).
int RunKeygen(int argc, char **argv);

// sign-latest KEYFILE DIGESTNAME -o LATEST
// Writes the 60-byte LATEST file that points at DIGESTNAME, signed with the
// key in KEYFILE. The nonce is derived from the key and the name, so the
// same inputs give the same file.
int RunSignLatest(int argc, char **argv);

#endif
