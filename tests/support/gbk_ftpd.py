# pyftpdlib speaking GBK (GB18030) on the wire while its files keep UTF-8
# names on disk, as an older Chinese server does: listings, replies and the
# names in commands are GBK bytes. A client that sends a name in UTF-8
# reaches a file of another (garbled) name.
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

WIRE = 'gb18030'


def rewire(chunks):
    for chunk in chunks:
        yield chunk.decode('utf8', 'surrogateescape').encode(WIRE, 'replace')


class GbkFS(AbstractedFS):
    def format_list(self, *args, **kwargs):
        return rewire(super().format_list(*args, **kwargs))

    def format_mlsx(self, *args, **kwargs):
        return rewire(super().format_mlsx(*args, **kwargs))


class GbkHandler(FTPHandler):
    abstracted_fs = GbkFS

    def decode(self, data):
        return data.decode(WIRE, self.unicode_errors)

    def push(self, s):
        # Past FTPHandler's own push, which writes UTF-8.
        super(FTPHandler, self).push(s.encode(WIRE, 'replace'))


port, home, lo, hi = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
host = sys.argv[5] if len(sys.argv) > 5 else '127.0.0.1'
authorizer = DummyAuthorizer()
authorizer.add_user('ftptest', 'ftppass', home, perm='elradfmwMT')
GbkHandler.authorizer = authorizer
GbkHandler.passive_ports = range(lo, hi + 1)
FTPServer((host, port), GbkHandler).serve_forever()
