"""Runs the FTP test program under Wine beside its servers.

    ftp_run.py TEST_PROGRAM [gtest arguments...]

Starts the scripted server (in this process), vsftpd and pyftpdlib on
127.0.0.1 with free ports and a temporary anonymous root, runs the program
with the ports in its environment, stops every server by its pid and exits
with the program's status.
"""

import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from ftp_script_server import ScriptServer  # noqa: E402


def files():
    """The files under /dat that tests/wfs/ftpsource_test.cpp expects."""
    out = {"small%d" % i: netfixture.pattern(100 + i, 100 + i)
           for i in range(50)}
    out["big"] = netfixture.pattern(3 << 20, 2)
    out["empty"] = b""
    return out


def main():
    program, args = sys.argv[1], sys.argv[2:]
    workdir = tempfile.mkdtemp(prefix="ftp-test-")
    servers = []
    scripted = ScriptServer()
    try:
        root = ftpfixture.make_anon_root(workdir, files())
        servers.append(ftpfixture.start_vsftpd(workdir, root))
        servers.append(ftpfixture.start_pyftpdlib(workdir, root))
        env = {
            "FTP_SCRIPT_PORT": str(scripted.ftp_port),
            "FTP_SCRIPT_SIDE_PORT": str(scripted.side_port),
            "FTP_VSFTPD_PORT": str(servers[0].port),
            "FTP_PYFTPD_PORT": str(servers[1].port),
        }
        return netfixture.run_wine(program, args, env)
    finally:
        for server in servers:
            server.stop()
        scripted.stop()
        ftpfixture.remove(workdir)


if __name__ == "__main__":
    sys.exit(main())
