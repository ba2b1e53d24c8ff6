"""Real FTP servers for the tests: vsftpd and pyftpdlib on 127.0.0.1.

Each server gets a private configuration, a free port and an anonymous root
under the caller's temporary folder; it is stopped by its process id.
"""

import os
import shutil
import socket
import subprocess
import sys
import time

from netfixture import START_WAIT, free_port, started

IDLE_TIMEOUT = 20   # seconds a real server waits for an idle client


def wait_for_greeting(port, proc):
    """Returns once the server answers on port; raises if it never does."""
    deadline = time.monotonic() + START_WAIT
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("FTP server exited with %d" % proc.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
                if s.recv(64).startswith(b"220"):
                    return
        except OSError:
            time.sleep(0.05)   # the server is still starting; poll again
    raise RuntimeError("FTP server on port %d did not greet" % port)


def start_vsftpd(workdir, anon_root):
    """Anonymous, read-only, active mode only, connecting from any port."""
    port = free_port()
    empty = os.path.join(workdir, "vsftpd-empty")
    os.makedirs(empty, exist_ok=True)
    conf = os.path.join(workdir, "vsftpd.conf")
    with open(conf, "w") as f:
        f.write("\n".join([
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
            "listen_port=%d" % port, "background=NO",
            "anonymous_enable=YES", "local_enable=NO", "write_enable=NO",
            "no_anon_password=NO", "anon_root=%s" % anon_root,
            "connect_from_port_20=NO", "port_enable=YES", "pasv_enable=NO",
            "secure_chroot_dir=%s" % empty, "seccomp_sandbox=NO",
            "isolate=NO", "isolate_network=NO", "xferlog_enable=NO",
            "max_per_ip=0", "max_clients=0",
            # A client stuck waiting for a reply is cut off soon, so a test
            # fails instead of hanging.
            "idle_session_timeout=%d" % IDLE_TIMEOUT,
            "data_connection_timeout=%d" % IDLE_TIMEOUT, ""]))
    log = open(os.path.join(workdir, "vsftpd.log"), "w")
    return started("vsftpd", ["vsftpd", conf], port, log, wait_for_greeting)


def pyftpdlib_python():
    """A Python that has pyftpdlib: this one, or Debian's own."""
    for exe in (sys.executable, "/usr/bin/python3"):
        if exe and subprocess.run([exe, "-c", "import pyftpdlib"],
                                  capture_output=True).returncode == 0:
            return exe
    raise RuntimeError("no Python with pyftpdlib (python3-pyftpdlib)")


def start_pyftpdlib(workdir, anon_root):
    """Anonymous with write permission inside anon_root's folder "up"."""
    port = free_port()
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "ftp_pyftpd.py")
    log = open(os.path.join(workdir, "pyftpd.log"), "w")
    return started("pyftpdlib",
                   [pyftpdlib_python(), script, anon_root, str(port), str(IDLE_TIMEOUT)],
                   port, log, wait_for_greeting)


def make_anon_root(workdir, files):
    """files: {name: bytes}. The root is readable by the ftp user."""
    root = os.path.join(workdir, "anon")
    os.makedirs(os.path.join(root, "dat"), exist_ok=True)
    up = os.path.join(root, "up")
    os.makedirs(up, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(root, "dat", name), "wb") as f:
            f.write(data)
    os.chmod(workdir, 0o755)
    for folder, dirs, names in os.walk(root):
        os.chmod(folder, 0o755)
        for n in names:
            os.chmod(os.path.join(folder, n), 0o644)
    os.chmod(up, 0o777)
    return root


def remove(workdir):
    shutil.rmtree(workdir, ignore_errors=True)
