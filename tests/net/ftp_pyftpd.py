"""pyftpdlib server for the tests: ftp_pyftpd.py ROOT PORT IDLE_TIMEOUT.

Anonymous login, read everywhere under ROOT, write in ROOT/up only. Every
command is logged to the standard output (the fixture keeps it in
pyftpd.log), so that a test can count the logins of a run.
"""

import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port, idle = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    logging.basicConfig(level=logging.DEBUG, stream=sys.stdout)
    auth = DummyAuthorizer()
    auth.add_anonymous(root, perm="elr")
    auth.override_perm("anonymous", os.path.join(root, "up"), perm="elradfmw",
                       recursive=True)
    handler = FTPHandler
    handler.authorizer = auth
    handler.permit_foreign_addresses = False
    handler.timeout = idle
    server = FTPServer(("127.0.0.1", port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
