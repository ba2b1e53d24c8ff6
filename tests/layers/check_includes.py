"""Fails when a product header includes one of a layer it may not use.

The layers, each allowed the ones listed: base at the bottom; crypto and
net on it; wfs on crypto and net; the status window beside wfs; setup on top.
"""
import pathlib
import re
import sys

ALLOWED = {
    "base": {"base"},
    "crypto": {"base", "crypto"},
    "net": {"base", "net"},
    "wfs": {"base", "crypto", "net", "wfs"},
    "gui": {"base", "gui"},
    "setup": {"base", "gui", "wfs", "setup"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/', re.M)


def main(root):
    faults = []
    for layer, allowed in ALLOWED.items():
        for path in sorted((root / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".rc"):
                continue
            for used in INCLUDE.findall(path.read_text(errors="replace")):
                if used not in allowed:
                    faults.append(f"{path.relative_to(root)} includes a {used}/ header")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
