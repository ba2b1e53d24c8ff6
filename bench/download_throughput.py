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

SIZE = 256 << 20
CLOSED = "127.0.0.1:1"  # nothing listens there: the store falls through to FTP


def mb_per_s(output: str) -> float:
    match = re.search(r"([0-9.]+) MB/s", output)
    if not match:
        raise RuntimeError("no figure in: " + output)
    return float(match.group(1))


def main() -> int:
    build = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
    runs = int(os.environ.get("RUNS", "3"))
    subprocess.run(["cmake", "-S", ROOT, "-B", build,
                    "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-i686.cmake")],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "download_throughput"],
                   check=True, stdout=subprocess.DEVNULL)
    exe = os.path.join(build, "bench", "download_throughput.exe")

    with tempfile.TemporaryDirectory(prefix="download-bench-") as work:
        env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=")
        servers, xvfb = [], None
        try:
            if not env.get("DISPLAY"):
                read, write = os.pipe()
                xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"],
                                        pass_fds=[write], stderr=subprocess.DEVNULL)
                os.close(write)
                env["DISPLAY"] = ":" + os.read(read, 16).decode().strip()
            subprocess.run(["wineboot", "-i"], env=env, capture_output=True, check=True)
            # One server and Wine's services for all runs, away from our pipes.
            subprocess.run(["wineserver", "-p"], env=env, check=True)
            subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

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
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
            if xvfb is not None:
                xvfb.terminate()
                xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
