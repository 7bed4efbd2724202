#!/usr/bin/env python3
"""One crash report mailed to one recipient against a local aiosmtpd server on 127.0.0.1: the
time from the client's connection to the stored message, as the server sees it, over several runs
of the mail crash program (a fault in a timer tick, the report mailed by SMTP, mode 2 without a
login, the report in the body).

Usage: smtp_bench.py CRASH.exe WINE-RUN.sh [RUNS]   (inside a Wine session: PELLORAN_WINE_SESSION)"""

import os, socket, statistics, subprocess, sys, time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

CRASH, WINE_RUN = (os.path.abspath(a) for a in sys.argv[1:3])
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 5


class Timings:
    def __init__(self):
        self.connected, self.stored = [], []

    async def handle_DATA(self, server, session, envelope):
        self.stored.append(time.monotonic())
        return "250 OK"


class TimedSMTP(SMTP):
    def connection_made(self, transport):
        if not hasattr(self, "pelloran_seen"):  # not again when TLS starts on the connection
            self.pelloran_seen = True
            self.event_handler.connected.append(time.monotonic())
        super().connection_made(transport)


class TimedController(Controller):
    def factory(self):
        return TimedSMTP(self.handler, **self.SMTP_kwargs)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    timings, port = Timings(), free_port()
    controller = TimedController(timings, hostname="127.0.0.1", port=port)
    controller.start()
    timings.connected.clear()  # the controller's own check that the server is up
    try:
        for _ in range(RUNS):
            subprocess.run([WINE_RUN, CRASH, "mode=2", "port=%d" % port, "to=dev@bench.test", "inline=1"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300, cwd=os.path.dirname(CRASH), check=False)
    finally:
        controller.stop()
    if len(timings.stored) != RUNS or len(timings.connected) != RUNS:
        sys.exit("%d of %d reports arrived (%d connections)" % (len(timings.stored), RUNS, len(timings.connected)))
    seconds = [s - c for c, s in zip(timings.connected, timings.stored)]
    print("connection to stored message, %d runs: median %.3f s, min %.3f s, max %.3f s"
          % (RUNS, statistics.median(seconds), min(seconds), max(seconds)))


if __name__ == "__main__":
    main()
