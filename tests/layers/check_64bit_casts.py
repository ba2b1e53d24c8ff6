"""Fails when product or packager code cuts a 64-bit value or pointer to 32
bits without a cast that says so.

Under 64-bit Wine the heap and the stack lie below 4 GiB, so no test run can
show a pointer cut to 32 bits; the compiler can. GCC has no warning for an
implicit 64-to-32-bit conversion, so clang checks every source of the
64-bit build for it, with the mingw-w64 headers that build uses.

usage: check_64bit_casts.py SOURCE_DIR BUILD_DIR
"""
import glob
import pathlib
import subprocess
import sys

FOLDERS = ["base", "crypto", "net", "wfs", "gui/win32", "setup", "tools/mksetup"]
WARNINGS = ["-Werror=shorten-64-to-32", "-Werror=int-to-pointer-cast",
            "-Werror=pointer-to-int-cast", "-Werror=int-conversion"]


def main(root: pathlib.Path, build: pathlib.Path) -> int:
    libstdcxx = sorted(glob.glob("/usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++"))
    if not libstdcxx:
        print("no mingw-w64 x86-64 C++ headers (g++-mingw-w64-x86-64-posix)")
        return 1
    command = ["clang++", "--target=x86_64-w64-mingw32", "-std=c++17", "-fsyntax-only",
               "-D__USE_MINGW_ANSI_STDIO=0", f"-I{root}", f"-I{build / 'base'}", f"-I{build / 'tools' / 'mksetup'}",
               "-isystem", libstdcxx[-1], "-isystem", libstdcxx[-1] + "/x86_64-w64-mingw32",
               *WARNINGS]
    sources = sorted(p for folder in FOLDERS for p in (root / folder).glob("*.cpp"))
    faults = 0
    for source in sources:
        proc = subprocess.run(command + [str(source)], capture_output=True, text=True)
        if proc.returncode != 0:
            faults += 1
            print(proc.stderr)
    print(f"{len(sources)} sources checked, {faults} with faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])))
