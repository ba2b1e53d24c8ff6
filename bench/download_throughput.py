#!/usr/bin/env python3
"""Download throughput of the store over loopback, for one 256 MiB data
resource served by nginx and by vsftpd (active mode), each beside two
references:
  - raw recv: a bare Winsock loop under Wine reading the same kind of
    connection in 4096-byte recv() calls, the floor that Wine's per-call
    cost sets for any client;
  - curl: natively (active mode for FTP: --ftp-port -).
The store reads 4096 bytes at a time and hashes every byte, as the
installer does. Times under Wine cover the download alone (not Wine's
start-up, nor the FTP login); curl's include its connection and login.
  bench/download_throughput.py      (BUILD_DIR picks the build; RUNS, default 3)
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
sys.path.insert(0, os.path.join(ROOT, "tools"))
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from mkinstaller import digest_name  # noqa: E402
from netfixture import CLOSED  # noqa: E402

SIZE = 256 << 20


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
    runs = int(os.environ.get("RUNS", "3"))
    subprocess.run([os.path.join(ROOT, "scripts", "configure"), "windows", build],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "download_throughput"],
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

            def curl(*args):
                out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w",
                                      "%{size_download} %{time_total}", *args],
                                     check=True, capture_output=True, text=True).stdout.split()
                return int(out[0]) / 1048576 / float(out[1])

            http = f"127.0.0.1:{nginx.port}"
            ftp = f"127.0.0.1:{vsftpd.port}"
            rows = [
                ("nginx (HTTP/1.0)",
                 lambda: wine("store", f"http://{http}/dat/", f"ftp://{CLOSED}/dat/", name),
                 lambda: wine("raw-http", str(nginx.port), "/dat/" + name),
                 lambda: curl(f"http://{http}/dat/{name}")),
                ("vsftpd (FTP, active)",
                 lambda: wine("store", f"http://{CLOSED}/dat/", f"ftp://{ftp}/dat/", name),
                 lambda: wine("raw-ftp", str(vsftpd.port), "/dat/" + name),
                 lambda: curl("--ftp-port", "-", f"ftp://{ftp}/dat/{name}")),
            ]
            print(f"256 MiB data resource over loopback, MB/s (MB = 2^20 bytes), median of {runs} runs")
            print(f"{'server':24}{'store':>10}{'raw recv':>10}{'curl':>10}{'store/raw':>11}")
            for label, store, raw, native in rows:
                figures = [[store(), raw(), native()] for _ in range(runs)]
                s, r, c = (statistics.median(column) for column in zip(*figures))
                print(f"{label:24}{s:10.1f}{r:10.1f}{c:10.1f}{s / r:10.0%}")
        finally:
            for server in servers:
                server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
