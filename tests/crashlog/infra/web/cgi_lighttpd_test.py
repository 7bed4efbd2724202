#!/usr/bin/env python3
"""The CGI error page through a real web server: lighttpd (mod_cgi) runs the CGI probe under Wine
for each request; the client must get status 500 with the page. The probe's exact output is
checked on its own too, since the server drops header lines it does not keep.
Usage: cgi_lighttpd_test.py PROBE.exe WINE-RUN.sh, inside the test run's Wine session."""

import contextlib, os, shlex, shutil, socket, subprocess, sys, tempfile, time, unittest
import urllib.error, urllib.request

PROBE, WINE_RUN = (os.path.abspath(a) for a in sys.argv[1:3])
LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
REPORT = ("Exception: EAccessViolation\r\nMessage: 错误 <b>\"bad\" & 'worse'</b>\r\n  indented").encode("gbk")


def html_text(text):
    for raw, entity in ((b"&", b"&amp;"), (b"<", b"&lt;"), (b">", b"&gt;"), (b'"', b"&quot;"), (b"'", b"&#39;")):
        text = text.replace(raw, entity)
    return text.replace(b"\r\n", b"<br>").replace(b" ", b"&nbsp;")


PAGE = (b'<html><head><title>Error.</title></head><body><p><small><font face="Lucida Console,Courier">'
        + html_text(REPORT) + b"</font></small></p></body></html>")
HEADER = b"Status: 500 Error\r\nContent-Type: text/html\r\nContent-Length: %d\r\nContent:\r\n\r\n" % len(PAGE)


def run_probe(*args):
    return subprocess.run([WINE_RUN, PROBE, *args], env=dict(os.environ, REQUEST_METHOD="GET"),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


@contextlib.contextmanager
def lighttpd_serving_probe(folder):
    """lighttpd in the foreground on a free port, with a configuration of its own; yields its URL."""
    with socket.socket() as free:
        free.bind(("127.0.0.1", 0))
        port = free.getsockname()[1]
    os.mkdir(os.path.join(folder, "root"))
    os.symlink(PROBE, os.path.join(folder, "root", "probe.exe"))
    # The server hands a CGI program only the CGI variables: the wrapper brings the Wine session.
    wrapper = os.path.join(folder, "wine-cgi.sh")
    with open(wrapper, "w") as out:
        out.write("#!/bin/sh\n")
        for name in ("PATH", "HOME", "PELLORAN_WINE_SESSION"):
            out.write("export %s=%s\n" % (name, shlex.quote(os.environ.get(name, ""))))
        out.write('exec %s "$1"\n' % shlex.quote(WINE_RUN))
    os.chmod(wrapper, 0o755)
    with open(os.path.join(folder, "lighttpd.conf"), "w") as out:
        out.write('server.document-root = "%s/root"\nserver.bind = "127.0.0.1"\nserver.port = %d\n'
                  'server.modules = ("mod_cgi")\nserver.errorlog = "%s/error.log"\n'
                  'cgi.assign = (".exe" => "%s")\n' % (folder, port, folder, wrapper))
    server = subprocess.Popen([LIGHTTPD, "-D", "-f", os.path.join(folder, "lighttpd.conf")],
                              stdin=subprocess.DEVNULL)
    try:
        for _ in range(600):
            if server.poll() is not None:
                raise RuntimeError("lighttpd ended with %d" % server.returncode)
            with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=1):
                break
            time.sleep(0.05)
        yield "http://127.0.0.1:%d/probe.exe" % port
    finally:
        server.terminate()
        server.wait(timeout=10)


class CgiErrorPage(unittest.TestCase):
    def test_probe_writes_status_headers_and_page(self):
        result = run_probe()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, HEADER + PAGE)

    def test_lost_standard_output_is_reported(self):
        result = run_probe("closed-stdout")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_client_of_lighttpd_gets_status_500_and_page(self):
        self.assertTrue(os.access(LIGHTTPD, os.X_OK), "lighttpd missing: run scripts/bootstrap.sh")
        with tempfile.TemporaryDirectory(prefix="pelloran-cgi-") as folder:
            with lighttpd_serving_probe(folder) as url:
                try:
                    response = urllib.request.urlopen(url, timeout=120)
                except urllib.error.HTTPError as error:
                    response = error
                with response:
                    status, headers, body = response.status, response.headers, response.read()
        self.assertEqual(status, 500)
        self.assertEqual(headers["Content-Type"], "text/html")
        self.assertEqual(headers["Content-Length"], str(len(PAGE)))
        self.assertEqual(body, PAGE)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
