"""pyftpdlib for the end-to-end tests: pyftpd_logged.py ROOT PORT.
Anonymous and read-only; every command is logged, so a test can count the
logins of a run."""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port = sys.argv[1], int(sys.argv[2])
    logging.basicConfig(level=logging.DEBUG, stream=sys.stdout)
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root, perm="elr")
    FTPHandler.authorizer = authorizer
    FTPServer(("127.0.0.1", port), FTPHandler).serve_forever()


if __name__ == "__main__":
    main()
