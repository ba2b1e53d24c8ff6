"""Runs the HTTP client and source tests under Wine against a scripted
server, nginx and Python's http.server, all on 127.0.0.1.

Usage: run_http_tests.py <test program> [gtest arguments...]
The ports reach the program as NET_SCRIPT_PORT, NET_NGINX_PORT,
NET_PYHTTP_PORT and NET_CLOSED_PORT (nothing listens there).
"""

import os
import sys
import tempfile

import netfixture
from http_script_server import scripted_http_server

# The served file "data"; the C++ side computes the same bytes (ServedData).
DATA_SIZE = 300000
DATA_SEED = 7


def main():
    exe, args = sys.argv[1], sys.argv[2:]
    servers = []
    with tempfile.TemporaryDirectory(prefix="nethttp-") as work:
        os.chmod(work, 0o755)
        root = os.path.join(work, "www")
        os.makedirs(root)
        with open(os.path.join(root, "data"), "wb") as f:
            f.write(netfixture.pattern(DATA_SIZE, DATA_SEED))
        open(os.path.join(root, "empty"), "wb").close()
        try:
            script = scripted_http_server()
            servers.append(script)
            servers.append(netfixture.start_nginx(work, root))
            servers.append(netfixture.start_python_http(work, root))
            env = {
                "NET_SCRIPT_PORT": str(script.port),
                "NET_NGINX_PORT": str(servers[1].port),
                "NET_PYHTTP_PORT": str(servers[2].port),
                "NET_CLOSED_PORT": str(netfixture.free_port()),
                "NET_DATA_SIZE": str(DATA_SIZE),
                "NET_DATA_SEED": str(DATA_SEED),
            }
            return netfixture.run_wine(exe, args, env)
        finally:
            for server in reversed(servers):
                server.stop()


if __name__ == "__main__":
    sys.exit(main())
