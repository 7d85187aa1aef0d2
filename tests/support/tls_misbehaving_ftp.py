"""An FTPS server (explicit TLS) whose downloads end the way no good server
ends them, for the tests of how the client judges a TLS download's end.

    tls_misbehaving_ftp.py PORT CERT KEY MODE

RETR sends SIZE_BYTES bytes of a pattern over a TLS data connection, then
MODE says how the stream ends:
  clean        close_notify, then the socket closed (the good ending)
  exact        the socket closed without close_notify, all bytes sent,
               the size announced in the 150 reply
  short        as exact, but a quarter of the bytes missing
  nosize       as exact, with no size announced
  plaintext    half the bytes in TLS, then bytes in the clear on the same
               connection (TLS dropped mid-transfer)
Any login is accepted; the server serves one control connection at a time
and runs until killed.
"""
import os
import socket
import ssl
import sys

SIZE_BYTES = 300000


def pattern(n):
    return bytes((i * 7 + 3) & 0xFF for i in range(n))


def main():
    port, cert, key, mode = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.create_server(("127.0.0.1", port))
    data = pattern(SIZE_BYTES)
    while True:
        raw, _ = listener.accept()
        try:
            serve(raw, context, data, mode)
        except (OSError, ssl.SSLError):
            pass
        finally:
            raw.close()


def serve(raw, context, data, mode):
    control = raw
    reader = control.makefile("rb")
    passive = None

    def reply(text):
        control.sendall((text + "\r\n").encode())

    reply("220 misbehaving FTPS")
    while True:
        line = reader.readline()
        if not line:
            return
        verb, _, argument = line.decode("latin-1").strip().partition(" ")
        verb = verb.upper()
        if verb == "AUTH":
            reply("234 AUTH TLS ok")
            control = context.wrap_socket(raw, server_side=True)
            reader = control.makefile("rb")
        elif verb == "USER":
            reply("331 password")
        elif verb == "PASS":
            reply("230 logged in")
        elif verb in ("PBSZ", "PROT", "TYPE"):
            reply("200 ok")
        elif verb == "SYST":
            reply("215 UNIX Type: L8")
        elif verb == "PWD":
            reply('257 "/"')
        elif verb == "PASV":
            passive = socket.create_server(("127.0.0.1", 0))
            p = passive.getsockname()[1]
            reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (p // 256, p % 256))
        elif verb == "RETR" and passive is not None:
            size = "" if mode == "nosize" else " (%d bytes)" % len(data)
            reply("150 Opening BINARY mode data connection for %s%s" % (argument, size))
            conn, _ = passive.accept()
            passive.close()
            passive = None
            send(context, conn, data, mode)
            reply("226 Transfer complete")
        elif verb == "QUIT":
            reply("221 bye")
            return
        else:
            reply("502 not here")


def send(context, conn, data, mode):
    tls = context.wrap_socket(conn, server_side=True)
    if mode == "plaintext":
        tls.sendall(data[: len(data) // 2])
        # The rest in the clear, written under the TLS layer.
        os.write(tls.fileno(), data[len(data) // 2:])
        tls.close()
        return
    tls.sendall(data if mode != "short" else data[: len(data) * 3 // 4])
    if mode == "clean":
        tls.unwrap().close()
    else:
        tls.close()  # Python sends close_notify only from unwrap()


if __name__ == "__main__":
    main()
