"""An FTP server for the transfer tests: pyftpdlib on 127.0.0.1, passive mode, one user
"lv" with password "secret" whose home is the folder given as the first argument. Prints
"PORT <n>" once it listens and stops by itself after the seconds given as the second
argument (default 120), so a test that dies cannot leave it behind for long."""
import logging
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

logging.basicConfig(level=logging.ERROR)
authorizer = DummyAuthorizer()
authorizer.add_user("lv", "secret", sys.argv[1], perm="elradfmwMT")
FTPHandler.authorizer = authorizer
FTPHandler.timeout = 30
server = FTPServer(("127.0.0.1", 0), FTPHandler)
lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0
threading.Timer(lifetime, server.close_all).start()
print("PORT", server.socket.getsockname()[1], flush=True)
server.serve_forever(timeout=0.2, handle_exit=False)
