#!/usr/bin/env python3
"""Download throughput of the store over loopback, for one 256 MiB data
resource served by nginx and by vsftpd (active mode), each beside its
anchor: a bare Winsock loop under Wine reading the same kind of connection
in 64 KiB recv() calls, measured in the same run. The store reads 4096
bytes a call and hashes every byte, as the installer does. Times cover the
download alone (not Wine's start-up, nor the FTP login). Store and anchor
take turns, RUNS times (default 5); the figures are medians. Beside them,
sha1 is SHA-1 alone over the same amount in 4096-byte updates under Wine:
were receiving and hashing done one after the other, the store could not
beat 1 / (1/anchor + 1/sha1); its reader thread receives while the caller
hashes.

One line per row, fields separated by blanks, each a key=value pair after
the row's name:
  download-http ours=<MB/s> anchor=<MB/s> ratio=<ours/anchor> goal=0.80 sha1=<MB/s> unit=MB/s runs=<n>
  download-ftp  ...
(MB = 2^20 bytes.)
  bench/download_throughput.py      (BUILD_DIR picks the build)
It runs itself under scripts/wine-run, which sets up Wine.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "net"))
sys.path.insert(0, os.path.join(ROOT, "tests", "wfs"))
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from digestname import digest_name  # noqa: E402
from netfixture import CLOSED  # noqa: E402

SIZE = 256 << 20
ANCHOR_PIECE = 65536
GOAL = "0.80"


def mb_per_s(output: str) -> float:
    match = re.search(r"([0-9.]+) MB/s", output)
    if not match:
        raise RuntimeError("no figure in: " + output)
    return float(match.group(1))


def main() -> int:
    if os.environ.get("QUILLON_WINE_ENV") != "1":
        wine_run = os.path.join(ROOT, "scripts", "wine-run")
        os.execv(wine_run, [wine_run, sys.executable, os.path.abspath(__file__), *sys.argv[1:]])
    build = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
    runs = int(os.environ.get("RUNS", "5"))
    subprocess.run([os.path.join(ROOT, "scripts", "configure"), "windows", build],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", "download_throughput"],
                   check=True, stdout=subprocess.DEVNULL)
    exe = os.path.join(build, "bench", "download_throughput.exe")

    with tempfile.TemporaryDirectory(prefix="download-bench-") as work:
        env = netfixture.wine_env({})
        servers = []
        try:
            data = os.urandom(SIZE)
            name = digest_name(data)
            www = os.path.join(work, "www")
            os.makedirs(os.path.join(www, "dat"))
            with open(os.path.join(www, "dat", name), "wb") as f:
                f.write(data)
            os.chmod(work, 0o755)
            os.chmod(www, 0o755)
            nginx = netfixture.start_nginx(work, www)
            servers.append(nginx)
            vsftpd = ftpfixture.start_vsftpd(work, ftpfixture.make_anon_root(work, {name: data}))
            servers.append(vsftpd)
            del data

            def wine(*args):
                return mb_per_s(subprocess.run(["wine", exe, *args], env=env, check=True,
                                               capture_output=True, text=True).stdout)

            http = f"127.0.0.1:{nginx.port}"
            ftp = f"127.0.0.1:{vsftpd.port}"
            rows = [
                ("download-http",
                 lambda: wine("store", f"http://{http}/dat/", f"ftp://{CLOSED}/dat/", name),
                 lambda: wine("raw-http", str(nginx.port), "/dat/" + name, str(ANCHOR_PIECE))),
                ("download-ftp",
                 lambda: wine("store", f"http://{CLOSED}/dat/", f"ftp://{ftp}/dat/", name),
                 lambda: wine("raw-ftp", str(vsftpd.port), "/dat/" + name, str(ANCHOR_PIECE))),
            ]
            for label, store, anchor in rows:
                figures = [(store(), anchor(), wine("hash")) for _ in range(runs)]
                ours, theirs, sha1 = (statistics.median(column) for column in zip(*figures))
                print(f"{label} ours={ours:.1f} anchor={theirs:.1f} ratio={ours / theirs:.2f} "
                      f"goal={GOAL} sha1={sha1:.1f} unit=MB/s runs={runs}", flush=True)
        finally:
            for server in servers:
                server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
