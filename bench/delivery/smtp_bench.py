#!/usr/bin/env python3
"""One crash report mailed to one recipient against a local aiosmtpd server on 127.0.0.1: the
time from the client's connection until it closes the connection once the message was accepted
(the client reads the last reply before it closes), as the server sees it, over several runs
of the mail crash program (a fault in a timer tick, the report mailed by SMTP, mode 2 without a
login, the report in the body): once to a plain server, once to a server that offers STARTTLS
with a certificate made here (a client that does not take it up sends in plain text).

Usage: smtp_bench.py CRASH.exe WINE-RUN.sh [RUNS]   (inside a Wine session: PELLORAN_WINE_SESSION)"""

import os, socket, ssl, statistics, subprocess, sys, tempfile, time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

CRASH, WINE_RUN = (os.path.abspath(a) for a in sys.argv[1:3])
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 5


class Timings:
    def __init__(self):
        self.connected, self.closed, self.stored, self.over_tls = [], [], 0, 0

    async def handle_DATA(self, server, session, envelope):
        self.stored += 1
        self.over_tls += server.transport.get_extra_info("ssl_object") is not None
        server.pelloran_stored = True
        return "250 OK"


class TimedSMTP(SMTP):
    def connection_made(self, transport):
        if not hasattr(self, "pelloran_seen"):  # not again when TLS starts on the connection
            self.pelloran_seen = True
            self.event_handler.connected.append(time.monotonic())
        super().connection_made(transport)

    def connection_lost(self, error):
        if getattr(self, "pelloran_stored", False):  # not the controller's own check
            self.event_handler.closed.append(time.monotonic())
        super().connection_lost(error)


class TimedController(Controller):
    def factory(self):
        return TimedSMTP(self.handler, **self.SMTP_kwargs)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def tls_context(folder):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                    "cert.pem", "-days", "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"],
                   cwd=folder, check=True, capture_output=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    return context


def measure(name, **server_options):
    timings, port = Timings(), free_port()
    controller = TimedController(timings, hostname="127.0.0.1", port=port, **server_options)
    controller.start()
    timings.connected.clear()  # the controller's own check that the server is up
    try:
        for _ in range(RUNS):
            subprocess.run([WINE_RUN, CRASH, "mode=2", "host=localhost", "port=%d" % port, "to=dev@bench.test",
                            "inline=1"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300, cwd=os.path.dirname(CRASH), check=False)
    finally:
        controller.stop()
    if timings.stored != RUNS or len(timings.connected) != RUNS or len(timings.closed) != RUNS:
        sys.exit("%d of %d reports arrived (%d connections, %d closed)"
                 % (timings.stored, RUNS, len(timings.connected), len(timings.closed)))
    seconds = [s - c for c, s in zip(timings.connected, timings.closed)]
    print("%s: connection to close after the accepted message, %d runs (%d over TLS): median %.3f s, "
          "min %.3f s, max %.3f s" % (name, RUNS, timings.over_tls, statistics.median(seconds), min(seconds),
                                      max(seconds)))


def main():
    measure("plain server")
    with tempfile.TemporaryDirectory() as folder:
        measure("server offering STARTTLS", tls_context=tls_context(folder))


if __name__ == "__main__":
    main()
