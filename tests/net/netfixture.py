"""Shared helpers for the network tests: free ports, real servers on
127.0.0.1 with private configuration, and running a test program under Wine.

Servers are started with their own configuration under the caller's
temporary folder and stopped by their process id. Every wait is bounded.
"""

import os
import socket
import subprocess
import time

START_WAIT = 15.0    # bound on a server coming up
WINE_WAIT = 600.0    # bound on one test program under Wine
CLOSED = "127.0.0.1:1"  # nothing listens on port 1: a server that is down


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on right now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc=None, wait=START_WAIT):
    """Returns once something accepts connections on port."""
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("server exited with %d before listening on %d"
                               % (proc.returncode, port))
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)   # not listening yet; poll again
    raise RuntimeError("nothing listens on port %d" % port)


class Process:
    """A server process, stopped by its pid."""

    def __init__(self, name, proc, port):
        self.name, self.proc, self.port = name, proc, port

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)


def started(name, argv, port, log, ready=wait_for_port):
    """Starts a server with its output in log; returns once ready(port,
    proc) says it serves, or stops it and raises."""
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                            stdout=log, stderr=subprocess.STDOUT)
    server = Process(name, proc, port)
    try:
        ready(port, proc)
    except RuntimeError:
        server.stop()
        raise
    return server


def pattern(size, seed):
    """The bytes of a served test file; the C++ side (tests/net/nettest.h,
    Pattern) computes the same."""
    out = bytearray(size)
    x = seed & 0xFFFFFFFF
    for i in range(size):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def start_nginx(workdir, root, names=None, access_log=None, slow_after=None):
    """nginx serving root, one process in the foreground. names:
    {server name: folder} adds name-based servers on the same port; root
    stays the default for requests that name none of them. access_log: a
    file that gets one line per request, "METHOD PATH STATUS". slow_after:
    a size ("128k") after which each response goes out at 4 KB/s, so that a
    test can act in the middle of a download."""
    port = free_port()
    named = "".join("""
    server {
        listen 127.0.0.1:%d;
        server_name %s;
        root %s;
    }""" % (port, name, folder) for name, folder in (names or {}).items())
    prefix = os.path.join(workdir, "nginx")
    os.makedirs(prefix, exist_ok=True)
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
master_process off;
worker_processes 1;
pid %(p)s/nginx.pid;
error_log %(p)s/error.log;
events { worker_connections 64; }
http {
    %(log)s
    %(rate)s
    client_body_temp_path %(p)s/body;
    proxy_temp_path %(p)s/proxy;
    fastcgi_temp_path %(p)s/fastcgi;
    uwsgi_temp_path %(p)s/uwsgi;
    scgi_temp_path %(p)s/scgi;
    server {
        listen 127.0.0.1:%(port)d default_server;
        root %(root)s;
    }%(named)s
}
""" % {"p": prefix, "port": port, "root": root, "named": named,
       "log": ("log_format requests '$request_method $uri $status';\n"
               "    access_log %s requests;" % access_log) if access_log else "access_log off;",
       "rate": "limit_rate_after %s; limit_rate 4k;" % slow_after if slow_after else ""})
    log = open(os.path.join(prefix, "stdout.log"), "w")
    return started("nginx", ["nginx", "-p", prefix, "-e",
                              os.path.join(prefix, "error.log"), "-c", conf],
                    port, log)


def start_python_http(workdir, root):
    """Python's http.server (answers HTTP/1.0) serving root."""
    port = free_port()
    log = open(os.path.join(workdir, "pyhttp.log"), "w")
    return started("http.server",
                    ["python3", "-m", "http.server", "--bind", "127.0.0.1",
                     "--directory", root, str(port)], port, log)


def wine_env(extra):
    """Environment for a Wine run: this process's, which scripts/wine-env
    set up (through scripts/test or scripts/wine-run), with extra added."""
    if os.environ.get("QUILLON_WINE_ENV") != "1":
        raise RuntimeError("Wine is not set up: run this under scripts/test or scripts/wine-run")
    return dict(os.environ, **extra)


def run_wine(exe, args=(), extra_env=None, wait=WINE_WAIT):
    """Runs exe under Wine (directly when it is not a Windows program);
    gives its exit status, or 124 when it ran out of time."""
    argv = [exe] + list(args)
    if exe.lower().endswith(".exe"):
        argv = ["wine"] + argv
    try:
        return subprocess.run(argv, env=wine_env(extra_env or {}),
                              timeout=wait).returncode
    except subprocess.TimeoutExpired:
        print("%s ran out of time after %ds" % (exe, wait))
        return 124
