#!/usr/bin/env python3
"""Every delivery path of the crash report end to end: a crash program under Wine installs the
reporter, fails for real, and the pipeline mails its report to real peers started here on
127.0.0.1 (aiosmtpd, scripted SMTP servers, dnsmasq for MX records, a Simple MAPI stand-in
registered as the default mail client, a mailto handler stand-in). What arrives is compared with
the program's .elf log entry and the screenshot; expected mail texts are built here from the rules
of the message format.

Usage: delivery_peers_test.py CRASH.exe MAPI.dll MAILTO.exe WINE-RUN.sh TRUST-ROOT.exe GROUP
GROUP: Smtp, SmtpFailures, SmtpTls, MailClient or Dns. The Dns group runs itself again inside private mount
and network namespaces, whose resolver file names the test's dnsmasq, with a Wine server of its
own there (Wine creates sockets in its server process) on an overlay of the session's prefix."""

import base64, contextlib, datetime, os, re, shutil, socket, subprocess, sys, tempfile
import ssl, threading, time, unittest, urllib.parse, zlib

CRASH, MAPI_DLL, MAILTO_EXE, WINE_RUN, TRUST_ROOT = (os.path.abspath(a) for a in sys.argv[1:6])
GROUP = sys.argv[6]
IN_NAMESPACE = len(sys.argv) > 7 and sys.argv[7] == "--in-namespace"
# Each group runs a copy of the crash program of its own, so that the log and the trace beside it
# are the group's alone and groups can run side by side.
os.makedirs(os.path.join(os.path.dirname(CRASH), "group-" + GROUP), exist_ok=True)
CRASH = shutil.copy(CRASH, os.path.join(os.path.dirname(CRASH), "group-" + GROUP))
BOUNDARY = "=_xcjvnxkbhvfkxzhfdbvzldjhfv"
LOG_NAME = os.path.splitext(os.path.basename(CRASH))[0] + ".elf"
LOG_FILE = os.path.splitext(CRASH)[0] + ".elf"
TRACE_FILE = os.path.splitext(CRASH)[0] + ".log"
# One entry of the .elf log: the report text, its end (three more line ends) and a line end.
ENTRY = re.compile(rb"(?:\A|(?<=\r\n))(CrashLog .*?)\r\n\r\n\r\n\r\n\r\n", re.S)
DOTTED_BODY = ".starts with a dot\r\n.\r\n..two dots\r\nend"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def escaped(text):
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


def run_crash(timeout=240, env=None, exit_code=0, trace=False, **options):
    """Runs the crash program with its options; its output lines as a dict, its log's entries.
    With trace, the reporter's trace is saved and returned as "_trace"."""
    for name in (LOG_FILE, TRACE_FILE):
        if os.path.exists(name):
            os.remove(name)
    args = [WINE_RUN, CRASH] + ["%s=%s" % (k, escaped(str(v))) for k, v in options.items()]
    if trace:
        args.append("/DEBUG+SAVE")
    result = subprocess.run(args, env=dict(os.environ, **(env or {})), stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=timeout, cwd=os.path.dirname(CRASH))
    out = result.stdout.decode("gbk", "replace").replace("\r\n", "\n")
    values = {}
    for line in out.splitlines():
        key, _, value = line.partition("=")
        values.setdefault(key, value)
    values["_all"] = out
    values["_rc"] = result.returncode
    log = b""
    if os.path.exists(LOG_FILE):
        with open(LOG_FILE, "rb") as f:
            log = f.read()
    entries = ENTRY.findall(log)
    values["_log"] = log.decode("latin-1")
    if trace and os.path.exists(TRACE_FILE):
        with open(TRACE_FILE, "rb") as f:
            values["_trace"] = f.read().decode("latin-1")
    if "action" not in options:
        # The report was logged once, and the program carried on or ended as the pipeline says.
        assert len(entries) == 1, out + "\n%d log entries" % len(entries)
        assert result.returncode == exit_code, out + "\nexit code %d" % result.returncode
        if exit_code == 0:
            assert values.get("errors") == "1", out
    return values


def tls_trace(out):
    """The TLS lines of the reporter's trace."""
    return re.findall(r"SmtpTls\(.*\)", out.get("_trace", ""))


def report_of(out):
    """The report text of the program's one error: the whole log less the entry's end (three
    more line ends) and the line end after it."""
    log = out["_log"]
    assert log.endswith("\r\n" * 5), log[-40:]
    return log[:-10]


def wine_reg(*args):
    subprocess.run([WINE_RUN, "reg"] + list(args), check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def base64_lines(data):
    return "".join(base64.b64encode(data[i:i + 60]).decode() + "\r\n" for i in range(0, len(data), 60))


def crlf_lines(text):
    """Lines ended by CR LF; a text that ends with a line end gets no extra line."""
    lines = re.split(r"\r\n|\r|\n", text)
    if lines[-1] == "":
        lines.pop()
    return "".join(line + "\r\n" for line in lines)


def expected_mime(date, sender, subject, recipient, body, attachments):
    """The message as the format's rules build it; attachments: (name, bytes)."""
    text = ("Date: %s\r\nFrom: <%s>\r\nSubject: %s\r\nTo: <%s>\r\n"
            "Content-Type: multipart/mixed; boundary=\"%s\";\r\nMIME-Version: 1.0\r\n"
            "X-Priority: 1\r\nX-Library: CrashLog 4.5.4\r\n\r\n"
            "This is a multi-part message in MIME format\r\n\r\n--%s\r\n"
            "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n%s\r\n"
            % (date, sender, subject, recipient, BOUNDARY, BOUNDARY, body))
    for name, data in attachments:
        kind = "image/png" if name.upper().endswith(".PNG") else "application/octet-stream"
        text += ("\r\n--%s\r\nContent-Type: %s;\r\n        name=\"%s\"\r\nContent-Transfer-Encoding: base64\r\n"
                 "Content-Disposition: attachment;\r\n        filename=\"%s\"\r\n\r\n%s"
                 % (BOUNDARY, kind, name, name, base64_lines(data)))
    return (text + "--%s--\r\n" % BOUNDARY).encode("latin-1")


def check_png(case, data, width, height):
    """Own chunk walk with zlib's CRC and inflate, then pngcheck."""
    case.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
    at, chunks = 8, []
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
        crc = int.from_bytes(data[at + 8 + length:at + 12 + length], "big")
        case.assertEqual(crc, zlib.crc32(kind + body), kind)
        chunks.append((kind, body))
        at += 12 + length
    case.assertEqual(at, len(data))
    case.assertEqual([k for k, _ in chunks[:2]], [b"IHDR", b"PLTE"])
    case.assertEqual(chunks[-1], (b"IEND", b""))
    case.assertEqual(chunks[0][1], width.to_bytes(4, "big") + height.to_bytes(4, "big") + bytes([8, 3, 0, 0, 0]))
    case.assertEqual(len(chunks[1][1]), 768)
    idat = [b for k, b in chunks if k == b"IDAT"]
    case.assertTrue(all(len(b) == 262143 for b in idat[:-1]))
    rows = zlib.decompress(b"".join(idat))
    case.assertEqual(len(rows), (width + 1) * height)
    case.assertTrue(all(rows[y * (width + 1)] == 0 for y in range(height)))
    with tempfile.NamedTemporaryFile(suffix=".png") as f:
        f.write(data)
        f.flush()
        checked = subprocess.run(["pngcheck", f.name], capture_output=True, text=True)
        case.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)


def mime_parts(message):
    """The attachments of a received message: name -> decoded bytes (an independent split)."""
    parts = {}
    for part in message.split(b"\r\n--" + BOUNDARY.encode() + b"\r\n")[2:]:
        head, _, body = part.partition(b"\r\n\r\n")
        name = re.search(rb'filename="([^"]*)"', head).group(1).decode()
        body = body.split(b"--" + BOUNDARY.encode() + b"--")[0]
        parts[name] = base64.b64decode(body.replace(b"\r\n", b""))
    return parts


# --- SMTP peers -----------------------------------------------------------------------------

class Recorder:
    """aiosmtpd handler keeping every message with the way the client greeted."""
    def __init__(self):
        self.messages = []

    async def handle_DATA(self, server, session, envelope):
        tls = server.transport.get_extra_info("ssl_object")
        self.messages.append({"from": envelope.mail_from, "to": list(envelope.rcpt_tos),
                              "content": envelope.original_content, "ehlo": session.extended_smtp,
                              "login": getattr(session, "pelloran_login", None),
                              "tls": tls.version() if tls else None})
        return "250 OK"


@contextlib.contextmanager
def aiosmtpd_server(login=None, starttls=None, implicit_tls=None, port=None, address="127.0.0.1"):
    """starttls: an SSL context for STARTTLS, then required for mail and login; implicit_tls: an
    SSL context for TLS from the first byte."""
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult
    recorder, port = Recorder(), port or free_port()
    recorder.logins = []
    kwargs = {}
    if login:
        def authenticate(server, session, envelope, mechanism, data):
            session.pelloran_login = (mechanism, data.login.decode(), data.password.decode())
            recorder.logins.append(session.pelloran_login)
            # handled=False: a refusal is answered with 535 (aiosmtpd's default is to answer nothing).
            return AuthResult(success=(data.login.decode(), data.password.decode()) == login, handled=False)
        kwargs = dict(auth_required=True, auth_require_tls=bool(starttls), authenticator=authenticate)
    if starttls:
        kwargs.update(tls_context=starttls, require_starttls=True)
    if implicit_tls:
        kwargs.update(ssl_context=implicit_tls)
    controller = Controller(recorder, hostname=address, port=port, **kwargs)
    controller.start()
    try:
        yield recorder, port
    finally:
        controller.stop()


@contextlib.contextmanager
def scripted_server(conversations, port=0):
    """A raw TCP server; each accepted connection is handed to the next function of the list."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    port, stop, received = listener.getsockname()[1], threading.Event(), []

    def serve():
        for talk in conversations:
            listener.settimeout(1)
            while not stop.is_set():
                with contextlib.suppress(socket.timeout):
                    connection, _ = listener.accept()
                    break
            else:
                return
            with connection:
                with contextlib.suppress(OSError):
                    talk(connection, received, stop)
    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    try:
        yield port, received
    finally:
        stop.set()
        thread.join(30)
        listener.close()


def read_line(connection):
    line = b""
    while not line.endswith(b"\r\n"):
        piece = connection.recv(1)
        if not piece:
            raise OSError("closed")
        line += piece
    return line


def plain_smtp(connection, received, stop, replies=None):
    """A minimal well-behaved server that keeps the DATA text as sent; `replies` gives other
    replies to commands by their first word, and records those commands."""
    connection.sendall(b"220 scripted\r\n")
    while True:
        line = read_line(connection)
        word = line.split(b" ")[0].strip().upper()
        if replies and word in replies:
            received.append(word)
            connection.sendall(replies[word])
        elif line.upper().startswith(b"DATA"):
            connection.sendall(b"354 go\r\n")
            data = b""
            while not data.endswith(b"\r\n.\r\n"):
                data += connection.recv(65536) or b"\r\n.\r\n"
            received.append(data)
            connection.sendall(b"250 kept\r\n")
        else:
            connection.sendall(b"250 ok\r\n")


def refuse_data(connection, received, stop):
    """Takes the message after DATA and then refuses it."""
    connection.sendall(b"220 scripted\r\n")
    while True:
        line = read_line(connection)
        if line.upper().startswith(b"DATA"):
            connection.sendall(b"354 go\r\n")
            data = b""
            while not data.endswith(b"\r\n.\r\n"):
                data += connection.recv(65536) or b"\r\n.\r\n"
            received.append(data)
            connection.sendall(b"554 refused: it looks like spam\r\n")
        else:
            connection.sendall(b"250 ok\r\n")


def greet_554(connection, received, stop):
    connection.sendall(b"554 no service here\r\n")
    connection.recv(100)


def never_answer(connection, received, stop):
    stop.wait(60)


def no_number(connection, received, stop):
    connection.sendall(b"hello there\r\n")
    connection.recv(100)


def endless(connection, received, stop):
    connection.sendall(b"220-")
    while not stop.is_set():
        connection.sendall(b"x" * 4096)


class SmtpCase(unittest.TestCase):
    def check_message(self, message, recipient, body, attachments, sender="crash@pelloran.test"):
        content = message["content"]
        date = re.match(rb"Date: ([^\r]*)\r\n", content).group(1).decode()
        self.assertRegex(date, r"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d{1,2} "
                               r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}$")
        sent = datetime.datetime.strptime(date, "%a, %d %b %Y %H:%M:%S %z")
        self.assertLess(abs((datetime.datetime.now(datetime.timezone.utc) - sent).total_seconds()), 600)
        self.assertEqual(date[-5:], time.strftime("%z"))  # the zone of this moment
        self.assertEqual(content, expected_mime(date, sender, "Pelloran error", recipient, body, attachments))


class Smtp(SmtpCase):
    """One plain server and one that requires a login serve the whole group."""
    @classmethod
    def setUpClass(cls):
        cls.servers = contextlib.ExitStack()
        cls.plain, cls.plain_port = cls.servers.enter_context(aiosmtpd_server())
        cls.login, cls.login_port = cls.servers.enter_context(aiosmtpd_server(login=("reporter", "s3cret")))

    @classmethod
    def tearDownClass(cls):
        cls.servers.close()

    def setUp(self):
        self.plain.messages.clear()
        self.login.messages.clear()

    def test_fault_mailed_to_two_recipients_with_screenshot_and_log_copy(self):
        server, port = self.plain, self.plain_port
        out = run_crash(mode=2, port=port, to="first@a.test; second@b.test,", screenshot=1, body=DOTTED_BODY)
        self.assertEqual((out["code"], out["logcopy_exists"], out["screenshot_exists"]), ("eeNone", "0", "0"),
                         out["_all"])  # both files deleted once the report is done
        report = report_of(out)
        self.assertRegex(report, r"\r\n  2\.4 Type *: EAccessViolation\r\n")
        log_copy = crlf_lines(report).encode("latin-1")
        self.assertEqual([m["to"] for m in server.messages], [["first@a.test"], ["second@b.test"]])
        png = mime_parts(server.messages[0]["content"]).get("Screenshot.png", b"")
        width, height = map(int, out["screen"].split("x"))
        check_png(self, png, width, height)
        for message, recipient in zip(server.messages, ["first@a.test", "second@b.test"]):
            self.assertTrue(message["ehlo"])  # EHLO without a login too
            self.assertEqual(message["from"], "crash@pelloran.test")
            self.check_message(message, recipient, DOTTED_BODY, [(LOG_NAME, log_copy), ("Screenshot.png", png)])

    def test_login_and_the_report_in_the_body(self):
        server, port = self.login, self.login_port
        out = run_crash(mode=2, port=port, to="dev@c.test", user="reporter", password="s3cret", inline=1,
                        progress=1, trace=True)
        self.assertEqual(out["code"], "eeNone", out["_all"])
        # A server without TLS on a loopback address gets the password in clear, and the trace says so.
        self.assertEqual(tls_trace(out), ["SmtpTls('127.0.0.1', 'password in clear to a loopback address')"])
        # The progress window's label: Texts[54], the recipient's number, Texts[58]; the window is
        # closed at the end.
        self.assertEqual((out["label"], out["window_left"]), ("Message 1/1: Sending message...", "0"))
        self.assertEqual(len(server.messages), 1)
        message = server.messages[0]
        self.assertTrue(message["ehlo"])
        self.assertEqual(message["login"], ("LOGIN", "reporter", "s3cret"))
        self.check_message(message, "dev@c.test", "Body\r\n\r\n\r\n" + report_of(out), [])

    def test_password_without_a_user_name_stops_at_the_name(self):
        # The empty name encodes to an empty command, which is not sent: no delivery, no warning.
        server, port = self.login, self.login_port
        out = run_crash(mode=2, port=port, to="dev@c.test", user="", password="s3cret", retries=0)
        self.assertEqual((out["before"], out["after"], out["code"], out["failures"]), ("1", "0", "eeNone", "1"),
                         out["_all"])
        self.assertEqual(server.messages, [])

    def test_refused_login_warns_without_the_password(self):
        # The warning's text is the transcript: the encoded password must not be in it.
        server, port = self.login, self.login_port
        out = run_crash(mode=2, port=port, to="dev@c.test", user="reporter", password="wr0ng", retries=0)
        self.assertEqual(out["code"], "eeEmailSMTPError", out["_all"])
        self.assertIn("\n(password not shown)\r\n535 ", out["_all"])
        self.assertNotIn(base64.b64encode(b"wr0ng").decode(), out["_all"])
        self.assertIn("\n%s\r\n334 " % base64.b64encode(b"reporter").decode(), out["_all"])  # the rest stays readable
        self.assertEqual(server.messages, [])

    def test_dots_reach_the_server_doubled(self):
        # A scripted server keeps the DATA text as it travels: dots doubled, one end line.
        with scripted_server([plain_smtp]) as (port, received):
            out = run_crash(mode=2, port=port, to="x@d.test", body=DOTTED_BODY, inline=1)
        self.assertEqual(out["code"], "eeNone", out["_all"])
        self.assertEqual(len(received), 1)
        self.assertIn(b"\r\n..starts with a dot\r\n..\r\n...two dots\r\nend\r\n", received[0])
        self.assertTrue(received[0].endswith(b"--" + BOUNDARY.encode() + b"--\r\n.\r\n"))
        self.assertEqual(received[0].count(b"\r\n.\r\n"), 1)


class SmtpFailures(SmtpCase):
    """Each failure ends with its warning, no hang, and the program carrying on (run_crash)."""
    def failed(self, out, message_start, failures="1"):
        self.assertEqual((out["after"], out["failures"]), ("0", failures), out["_all"])
        self.assertEqual(out["code"], "eeEmailSMTPError", out["_all"])
        self.assertTrue(out["message"].startswith(message_start), out["_all"])

    def test_greeting_554_and_the_next_recipient_still_served(self):
        message = "Settings unreadable"
        with scripted_server([greet_554, plain_smtp]) as (port, received):
            out = run_crash(mode=2, port=port, to="a@e.test,b@e.test", fail="throw", message=message)
        self.assertEqual(out["code"], "eeEmailSMTPError", out["_all"])
        self.assertTrue(out["message"].startswith("[SMTP] Connected to 127.0.0.1 port %d" % port), out["message"])
        self.assertIn("554 no service here", out["_all"])
        self.assertRegex(report_of(out), r"\r\n  2\.5 Message *: Settings unreadable\.\r\n")
        self.assertEqual(len(received), 1)
        self.assertIn(b"To: <b@e.test>\r\n", received[0])

    def test_server_that_never_answers_times_out(self):
        with scripted_server([never_answer]) as (port, _):
            out = run_crash(mode=2, port=port, to="a@e.test", retries=0)
        self.failed(out, "[SMTP] Socket timeout.")

    def test_reply_without_a_number_and_a_retry(self):
        with scripted_server([no_number, no_number]) as (port, _):
            out = run_crash(mode=2, port=port, to="a@e.test", retries=1)
        self.failed(out, "[SMTP] '' is not a valid integer value", failures="2")

    def test_endless_reply_is_cut_off(self):
        with scripted_server([endless]) as (port, _):
            out = run_crash(mode=2, port=port, to="a@e.test", retries=0)
        self.failed(out, "[SMTP] The reply is longer than 65536 bytes.")

    def test_refused_message_warns_with_its_size_not_its_text(self):
        # The warning (and the box and the trace) quote the talk with the server, not the report.
        with scripted_server([refuse_data]) as (port, received):
            out = run_crash(mode=2, port=port, to="a@e.test", retries=0, inline=1, body="Private body text")
        self.failed(out, "[SMTP] Connected to 127.0.0.1 port %d" % port)
        self.assertEqual(len(received), 1)
        self.assertIn(b"Private body text", received[0])
        self.assertRegex(out["_all"], r"\nDATA\r?\n354 go\r?\n\(message of %d bytes sent\)\r?\n554 refused"
                         % len(received[0]))
        for secret in ("Private body text", "2.4 Type", "Content-Type", "X-Library"):
            self.assertNotIn(secret, out["_all"])

    def test_progress_window_shows_smtp_failures(self):
        port = free_port()  # nobody listens
        out = run_crash(mode=2, port=port, to="a@e.test", progress=1, retries=0)
        self.failed(out, "[SMTP] Connection error:")
        self.assertIn("box=Error.|[SMTP] Connection error:", out["_all"])


# --- SMTP over TLS --------------------------------------------------------------------------

def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_authority(folder, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".pem",
            "-days", "2", "-subj", "/CN=Pelloran test authority " + name,
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            cwd=folder)
    openssl("x509", "-in", name + ".pem", "-outform", "DER", "-out", name + ".der", cwd=folder)


def make_server_certificate(folder, name, authority, dns_name):
    """A server certificate for dns_name signed by the authority; its server-side SSL context."""
    with open(os.path.join(folder, name + ".ext"), "w") as f:
        f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % dns_name)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=" + dns_name, cwd=folder)
    openssl("x509", "-req", "-in", name + ".csr", "-CA", authority + ".pem", "-CAkey", authority + ".key",
            "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem", cwd=folder)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
    return context


def trust_root(action, der):
    subprocess.run([WINE_RUN, TRUST_ROOT, action, windows_path(der)], check=True, stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=120)


@contextlib.contextmanager
def implicit_tls_port():
    """Port 465 on 127.0.0.1 (implicit TLS is chosen by the port number): waits while another
    run holds it."""
    deadline = time.time() + 120
    while True:
        with socket.socket() as probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind(("127.0.0.1", 465))
                break
            except PermissionError:
                raise unittest.SkipTest("port 465 needs root")
            except OSError:
                if time.time() > deadline:
                    raise
        time.sleep(1)
    yield 465


class SmtpTls(SmtpCase):
    """Servers that require STARTTLS before mail and login, with certificates made here: one from
    an authority put into the prefix's ROOT store, one from an authority nobody trusts, one for
    another host name; the client names the server "localhost"."""
    LOGIN = ("reporter", "s3cret")

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="pelloran-tls-")
        make_authority(cls.folder, "trusted")
        make_authority(cls.folder, "stranger")
        cls.good = make_server_certificate(cls.folder, "good", "trusted", "localhost")
        cls.untrusted = make_server_certificate(cls.folder, "untrusted", "stranger", "localhost")
        cls.other_name = make_server_certificate(cls.folder, "other", "trusted", "mail.elsewhere.test")
        trust_root("add", os.path.join(cls.folder, "trusted.der"))

    @classmethod
    def tearDownClass(cls):
        trust_root("remove", os.path.join(cls.folder, "trusted.der"))
        shutil.rmtree(cls.folder, ignore_errors=True)

    def crash_with_login(self, port, **options):
        return run_crash(mode=2, host="localhost", port=port, to="dev@c.test", user=self.LOGIN[0],
                         password=self.LOGIN[1], inline=1, trace=True, **options)

    def delivered_over_tls(self, server, out, login=True):
        self.assertEqual(out["code"], "eeNone", out["_all"])
        self.assertEqual(len(server.messages), 1, out["_all"])
        message = server.messages[0]
        self.assertIsNotNone(message["tls"])
        self.assertTrue(message["ehlo"])
        if login:
            self.assertEqual(message["login"], ("LOGIN",) + self.LOGIN)
        self.check_message(message, "dev@c.test", "Body\r\n\r\n\r\n" + report_of(out), [])

    def refused(self, server, out, problem):
        self.assertEqual(out["code"], "eeEmailSMTPError", out["_all"])
        self.assertEqual(out["message"], '[SMTP] The certificate of "localhost" does not verify: %s. '
                                         "Nothing was sent." % problem)
        self.assertEqual((server.messages, server.logins), ([], []))  # no password, no mail
        self.assertEqual(tls_trace(out), ["SmtpTls('localhost', 'not verified', '%s')" % problem])

    def test_starttls_to_a_trusted_server_then_login_and_mail(self):
        with aiosmtpd_server(login=self.LOGIN, starttls=self.good) as (server, port):
            out = self.crash_with_login(port)
        self.delivered_over_tls(server, out)
        self.assertEqual(tls_trace(out), ["SmtpTls('localhost', 'verified')"])

    def test_untrusted_authority_gets_nothing(self):
        with aiosmtpd_server(login=self.LOGIN, starttls=self.untrusted) as (server, port):
            out = self.crash_with_login(port)
        self.refused(server, out, "its authority is not trusted")

    def test_wrong_host_name_gets_nothing(self):
        with aiosmtpd_server(login=self.LOGIN, starttls=self.other_name) as (server, port):
            out = self.crash_with_login(port)
        self.assertTrue(out["message"].startswith('[SMTP] The certificate of "localhost" does not verify: '),
                        out["_all"])
        self.assertNotIn("authority", out["message"])
        self.assertEqual((server.messages, server.logins), ([], []))

    def test_without_a_login_an_unverified_server_still_gets_the_mail_over_tls(self):
        with aiosmtpd_server(starttls=self.untrusted) as (server, port):
            out = run_crash(mode=2, host="localhost", port=port, to="dev@c.test", inline=1, trace=True)
        self.delivered_over_tls(server, out, login=False)
        self.assertEqual(tls_trace(out), ["SmtpTls('localhost', 'not verified', 'its authority is not trusted')"])

    def test_port_465_speaks_tls_from_the_first_byte(self):
        with implicit_tls_port() as port, aiosmtpd_server(login=self.LOGIN, implicit_tls=self.good,
                                                          port=port) as (server, _):
            out = self.crash_with_login(port)
        self.delivered_over_tls(server, out)
        self.assertEqual(tls_trace(out), ["SmtpTls('localhost', 'verified')"])

    def test_starttls_refused_goes_on_in_plain_text_without_a_login(self):
        def refusing(connection, received, stop):
            plain_smtp(connection, received, stop, {b"EHLO": b"250-scripted\r\n250 STARTTLS\r\n",
                                                    b"STARTTLS": b"454 TLS not available\r\n"})
        with scripted_server([refusing]) as (port, received):
            out = run_crash(mode=2, port=port, to="x@d.test", inline=1)
        self.assertEqual(out["code"], "eeNone", out["_all"])
        self.assertEqual(received[:2], [b"EHLO", b"STARTTLS"])
        self.assertTrue(received[2].endswith(b"\r\n.\r\n"))

    def test_plain_text_behind_the_starttls_reply_ends_the_attempt(self):
        # Text injected behind "220" would otherwise be read as the first reply through TLS.
        def injecting(connection, received, stop):
            plain_smtp(connection, received, stop, {b"EHLO": b"250-scripted\r\n250 STARTTLS\r\n",
                                                    b"STARTTLS": b"220 go ahead\r\n250 injected\r\n"})
        with scripted_server([injecting]) as (port, received):
            out = run_crash(mode=2, port=port, to="x@d.test", retries=0)
        self.assertEqual((out["code"], out["message"]),
                         ("eeEmailSMTPError", "[SMTP] The server sent plain text behind its STARTTLS reply."),
                         out["_all"])
        self.assertEqual(received, [b"EHLO", b"STARTTLS"])

    def test_plain_server_on_the_tls_port_is_told_apart(self):
        with implicit_tls_port() as port, scripted_server([plain_smtp], port=port) as (_, received):
            out = run_crash(mode=2, host="localhost", port=port, to="dev@c.test", retries=0)
        self.assertEqual((out["code"], out["message"]), ("eeEmailSMTPError", "[SMTP] The server did not answer in TLS."),
                         out["_all"])
        self.assertEqual(received, [])


# --- mail client ----------------------------------------------------------------------------

def unhex(text):
    return bytes.fromhex(text) if text != "-" else None


def read_records(path):
    records = []
    if os.path.exists(path):
        with open(path, "rb") as f:
            for line in f.read().decode("latin-1").splitlines():
                kind, *fields = line.split(" ")
                records.append((kind, dict(f.split("=", 1) for f in fields if "=" in f)))
    return records


class MailClient(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="pelloran-client-")
        # Registered as a mail client registers itself: the default client's name, its DLLPath.
        wine_reg("add", r"HKLM\SOFTWARE\Clients\Mail", "/ve", "/d", "PelloranTestMail", "/f")
        wine_reg("add", r"HKLM\SOFTWARE\Clients\Mail\PelloranTestMail", "/v", "DLLPath", "/t", "REG_EXPAND_SZ",
                 "/d", "%PELLORAN_MAPI_DIR%\\" + os.path.basename(MAPI_DLL), "/f")
        wine_reg("add", r"HKCR\mailto\shell\open\command", "/ve", "/d",
                 '"%s" "%%1"' % windows_path(MAILTO_EXE), "/f")

    @classmethod
    def tearDownClass(cls):
        wine_reg("delete", r"HKLM\SOFTWARE\Clients\Mail\PelloranTestMail", "/f")
        wine_reg("delete", r"HKLM\SOFTWARE\Clients\Mail", "/ve", "/f")
        wine_reg("delete", r"HKCR\mailto", "/f")
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.mapi_record = os.path.join(self.folder, self.id() + ".mapi")
        self.mailto_record = os.path.join(self.folder, self.id() + ".mailto")

    def crash(self, mapi_fail="", keep="", **options):
        env = {"PELLORAN_MAPI_DIR": windows_path(os.path.dirname(MAPI_DLL)),
               "PELLORAN_MAPI_RECORD": windows_path(self.mapi_record), "PELLORAN_MAPI_FAIL": mapi_fail,
               "PELLORAN_MAPI_KEEP": windows_path(keep) if keep else "",
               "PELLORAN_MAILTO_RECORD": windows_path(self.mailto_record)}
        return run_crash(env=env, **options)

    def mailto_url(self, out):
        records = read_records(self.mailto_record)
        self.assertEqual([k for k, _ in records], ["command", "maximized"], out["_all"])
        self.assertEqual(records[1][1], {"topmost": "1"})
        line = open(self.mailto_record, "rb").read().decode("latin-1").splitlines()[0]
        command = bytes.fromhex(line.split(" ", 1)[1])
        exe = b'"' + windows_path(MAILTO_EXE).encode() + b'" "'
        self.assertTrue(command.startswith(exe) and command.endswith(b'"'), command[:200])
        url = command[len(exe):-1]
        self.assertNotIn(b'"', url)  # nothing breaks out of the quotes
        self.assertLessEqual(len(command), 32766)
        head, _, query = url.partition(b"?")
        subject, _, body = query.partition(b"&Body=")
        self.assertTrue(subject.startswith(b"Subject="))
        return (urllib.parse.unquote_to_bytes(head), urllib.parse.unquote_to_bytes(subject[8:]),
                urllib.parse.unquote_to_bytes(body))

    def cut_body(self, body):
        note = b"\r\n\r\n[The report is cut short here; the full report is in the log file.]"
        self.assertTrue(body.endswith(note), body[-100:])
        return body[:-len(note)]

    def test_mapi_client_gets_recipients_body_and_files(self):
        with tempfile.TemporaryDirectory(prefix="pelloran-mapi-") as keep:
            out = self.crash(mode=1, to="a@x.test; b@y.test, nodomain", screenshot=1, keep=keep)
            kept = {name: open(os.path.join(keep, name), "rb").read() for name in os.listdir(keep)}
        self.assertEqual((out["code"], out["logcopy_exists"], out["screenshot_exists"]), ("eeNone", "0", "0"),
                         out["_all"])
        records = read_records(self.mapi_record)
        kinds = [k for k, _ in records]
        self.assertEqual(kinds, ["logon"] + ["resolve", "free"] * 3 + ["send", "recip", "recip", "recip",
                                                                        "file", "file", "logoff"])
        self.assertEqual(records[0][1], {"window": "0", "profile": "-", "password": "-", "flags": "1"})
        send = records[7][1]
        self.assertEqual((send["session"], send["window"], send["flags"]), ("0", "0", "1"))
        self.assertEqual(unhex(send["subject"]), b"Pelloran error")
        self.assertEqual(unhex(send["note"]), b"Body")
        for record, address in zip(records[8:11], ["a@x.test", "b@y.test", "nodomain"]):
            fields = record[1]
            self.assertEqual(fields["class"], "1")
            self.assertEqual(unhex(fields["name"]), b"Resolved " + address.encode())
            expected_address = b"SMTP:" + address.encode() if "@" in address else b"Resolved " + address.encode()
            self.assertEqual(unhex(fields["address"]), expected_address)
            self.assertEqual(unhex(fields["eid"]), b"EID:" + address.encode())
        names = []
        for record in records[11:13]:
            fields = record[1]
            self.assertEqual((fields["reserved"], fields["flags"], fields["position"], fields["type"],
                              fields["exists"]), ("0", "0", "4294967295", "null", "1"))
            path, name = unhex(fields["path"]).decode(), unhex(fields["name"]).decode()
            self.assertRegex(path, r"^[A-Za-z]:\\")
            self.assertTrue(path.endswith("\\" + name))
            names.append(name)
        self.assertEqual(names, [LOG_NAME, "Screenshot.png"])
        self.assertEqual(records[13][1], {"session": str(0x5E55)})
        # What the client read: the log copy is the logged report, the screenshot the screen.
        self.assertEqual(kept[LOG_NAME], crlf_lines(report_of(out)).encode("latin-1"))
        width, height = map(int, out["screen"].split("x"))
        check_png(self, kept["Screenshot.png"], width, height)

    def test_unknown_recipient_sends_nothing_and_mailto_takes_the_mail(self):
        out = self.crash(mode=1, to="a@x.test;unknown@x.test")
        kinds = [k for k, _ in read_records(self.mapi_record)]
        self.assertNotIn("send", kinds)
        self.assertEqual(kinds[-1], "logoff")
        self.assertEqual(out["code"], "eeNone", out["_all"])  # no warning for an unknown recipient
        recipients, _, _ = self.mailto_url(out)
        self.assertEqual(recipients, b"mailto:a@x.test;unknown@x.test")

    def test_mapi_failure_falls_back_to_mailto_with_the_report(self):
        # Quotes, "&" and "%" of the exception's message and the options reach the handler intact,
        # inside its quotes; the "&" of the options' message is removed.
        message = 'He said "quit" & left 100%'
        out = self.crash(mapi_fail="send", mode=1, to="a@x.test;b@y.test", subject='Err "x"', body="Hi & bye",
                         fail="throw", message=message)
        self.assertEqual((out["code"], out["message"]), ("eeEmailMAPIError", "Cannot send the MAPI message."),
                         out["_all"])
        self.assertIn("send", [k for k, _ in read_records(self.mapi_record)])
        report = report_of(out)
        self.assertRegex(report, r"\r\n  2\.5 Message *: He said \"quit\" & left 100%\.\r\n")
        recipients, subject, body = self.mailto_url(out)
        self.assertEqual(recipients, b"mailto:a@x.test;b@y.test")
        self.assertEqual(subject, b'Err "x"')
        # A whole report, percent-encoded, is longer than a command line may be: it is cut short.
        kept = self.cut_body(body)
        self.assertTrue((b"Hi  bye\r\n\r\n\r\n" + report.encode("latin-1")).startswith(kept))
        self.assertIn(b'He said "quit" & left 100%.', kept)

    def test_mailto_body_too_long_for_a_command_line_is_cut(self):
        report = "".join("Line %05d of a long report\r\n" % i for i in range(3000))  # about 90,000 bytes
        report_file = os.path.join(self.folder, "long-report.txt")
        with open(report_file, "wb") as f:
            f.write(report.encode())
        out = self.crash(action="mailto", to="a@x.test", reportfile=windows_path(report_file),
                         reproduce="Click & wait")
        self.assertEqual(out["execute"], "1", out["_all"])
        _, _, body = self.mailto_url(out)
        kept = self.cut_body(body)
        self.assertTrue((b"BodyClick & wait\r\n\r\n\r\n\r\n\r\n\r\n" + report.encode()).startswith(kept))
        self.assertGreater(len(kept), 5000)

    def test_mapi_logon_failure_and_no_handler_ends_the_program(self):
        wine_reg("delete", r"HKCR\mailto", "/f")
        try:
            out = self.crash(mapi_fail="logon", mode=1, to="a@x.test", retries=1, fail="main", exit_code=1)
        finally:
            wine_reg("add", r"HKCR\mailto\shell\open\command", "/ve", "/d",
                     '"%s" "%%1"' % windows_path(MAILTO_EXE), "/f")
        # The exception escaped main: the report is logged, each attempt fails and the process
        # ends with exit code 1 (run_crash).
        self.assertEqual((out["before"], out["after"]), ("1", "0"), out["_all"])
        self.assertEqual([k for k, _ in read_records(self.mapi_record)].count("logon"), 2)
        self.assertFalse(os.path.exists(self.mailto_record))


# --- DNS ------------------------------------------------------------------------------------

# A benchmarking network's address: not private, so no password goes there in clear.
PUBLIC_ADDRESS = "198.18.0.1"
# A private address on the namespace's loopback, and a name that leads there.
PRIVATE_ADDRESS = "10.11.12.13"
# Where the test's own name server answers, forging answers before the true one.
FORGING_DNS = "127.0.0.5"
DNSMASQ_CONFIG = """no-resolv
no-hosts
local=/test/
host-record=office.mx.test,10.11.12.13
mx-host=mx.test,mx20.mx.test,20
mx-host=mx.test,mx10.mx.test,10
mx-host=mx.test,mx30.mx.test,30
host-record=mx10.mx.test,127.0.0.1
host-record=mx20.mx.test,127.0.0.2
host-record=mx30.mx.test,127.0.0.3
"""


def dns_name(name):
    return b"".join(bytes([len(label)]) + label.encode() for label in name.split(".")) + b"\0"


def mx_answer(query_id, question, exchange):
    """A response with one MX record (preference 10) for `question`, owner named by a pointer."""
    header = query_id.to_bytes(2, "big") + b"\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00"
    record_data = b"\x00\x0a" + dns_name(exchange)
    return (header + dns_name(question) + b"\x00\x0f\x00\x01" + b"\xc0\x0c\x00\x0f\x00\x01\x00\x00\x0e\x10"
            + len(record_data).to_bytes(2, "big") + record_data)


@contextlib.contextmanager
def forging_name_server(true_exchange, forged_exchange):
    """A name server that answers each MX query three times: with another id, with the right id but
    another question (both naming forged_exchange), then truly (true_exchange). Yields the list
    of (id, source port) of the queries it got."""
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind((FORGING_DNS, 53))
    server.settimeout(0.2)
    queries, stop = [], threading.Event()

    def serve():
        while not stop.is_set():
            try:
                query, peer = server.recvfrom(512)
            except socket.timeout:
                continue
            query_id = int.from_bytes(query[:2], "big")
            labels, at = [], 12
            while query[at]:
                labels.append(query[at + 1:at + 1 + query[at]].decode())
                at += 1 + query[at]
            domain = ".".join(labels)
            queries.append((query_id, peer[1]))
            server.sendto(mx_answer(query_id ^ 0x5A5A, domain, forged_exchange), peer)
            server.sendto(mx_answer(query_id, "other." + domain, forged_exchange), peer)
            server.sendto(mx_answer(query_id, domain, true_exchange), peer)
    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    try:
        yield queries
    finally:
        stop.set()
        thread.join(5)
        server.close()


class Dns(unittest.TestCase):
    """Runs DnsInNamespace inside private mount and network namespaces."""
    def test_mx_delivery_in_a_private_network(self):
        self.assertTrue(shutil.which("dnsmasq") or os.path.exists("/usr/sbin/dnsmasq"),
                        "dnsmasq missing: run scripts/bootstrap.sh")
        unshare = ["unshare", "--mount", "--net"]
        if os.geteuid() != 0:
            unshare[1:1] = ["--user", "--map-root-user"]
        result = subprocess.run(unshare + ["--", sys.executable, os.path.abspath(__file__), CRASH, MAPI_DLL,
                                           MAILTO_EXE, WINE_RUN, TRUST_ROOT, "DnsInNamespace", "--in-namespace"],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=280)
        sys.stderr.write(result.stderr)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("OK", result.stderr)


class DnsInNamespace(SmtpCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="pelloran-dns-")
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        # An address that is neither loopback nor private, on this namespace's own loopback.
        subprocess.run(["ip", "addr", "add", PUBLIC_ADDRESS + "/32", "dev", "lo"], check=True)
        subprocess.run(["ip", "addr", "add", PRIVATE_ADDRESS + "/32", "dev", "lo"], check=True)
        cls.resolver = os.path.join(cls.root, "resolv.conf")
        cls.name_servers("127.0.0.9", "127.0.0.1")  # a server that does not answer, then dnsmasq
        subprocess.run(["mount", "--bind", cls.resolver, "/etc/resolv.conf"], check=True)
        # A Wine server of this namespace on an overlay of the session's prefix.
        session = os.environ["PELLORAN_WINE_SESSION"]
        env_text = open(os.path.join(session, "env")).read()
        prefix = re.search(r"WINEPREFIX='([^']*)'", env_text).group(1)
        merged = os.path.join(cls.root, "prefix")
        for d in ("upper", "work", "prefix", "session"):
            os.mkdir(os.path.join(cls.root, d))
        subprocess.run(["mount", "-t", "overlay", "overlay", "-o", "lowerdir=%s,upperdir=%s,workdir=%s" % (
            prefix, os.path.join(cls.root, "upper"), os.path.join(cls.root, "work")), merged], check=True)
        with open(os.path.join(cls.root, "session", "env"), "w") as f:
            f.write(env_text.replace(prefix, merged))
        os.environ["PELLORAN_WINE_SESSION"] = os.path.join(cls.root, "session")
        cls.prefix = merged
        config = os.path.join(cls.root, "dnsmasq.conf")
        with open(config, "w") as f:
            f.write(DNSMASQ_CONFIG)
        cls.dnsmasq = subprocess.Popen(["dnsmasq", "--keep-in-foreground", "--conf-file=" + config,
                                        "--listen-address=127.0.0.1", "--bind-interfaces", "--port=53",
                                        "--pid-file=", "--user=root", "--log-facility=-"],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        time.sleep(0.5)

    @classmethod
    def name_servers(cls, *servers):
        """Rewrites the resolver file in place: the bind mount shows the same file."""
        with open(cls.resolver, "w") as f:
            f.write("".join("nameserver %s\n" % server for server in servers))

    @classmethod
    def tearDownClass(cls):
        cls.dnsmasq.terminate()
        cls.dnsmasq.wait(10)
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=cls.prefix),
                       stderr=subprocess.DEVNULL)

    def test_dns_servers_of_the_resolver_file_then_the_fallback(self):
        out = run_crash(action="dnsservers")
        self.assertEqual(re.findall(r"^dns=(.*)$", out["_all"], re.M), ["127.0.0.9", "127.0.0.1", "8.8.8.8"])

    def test_mail_goes_to_the_exchanger_of_lowest_preference(self):
        # mx10 is 127.0.0.1, where the server listens; mx20 and mx30 lead nowhere. The exception
        # escapes main: the report is mailed before the process ends with exit code 1.
        with aiosmtpd_server() as (server, port):
            out = run_crash(mode=3, port=port, to="boss@mx.test", host="unused.invalid", inline=1, fail="main",
                            exit_code=1)
        self.assertEqual(len(server.messages), 1)
        self.check_message(server.messages[0], "boss@mx.test", "Body\r\n\r\n\r\n" + report_of(out), [])

    def test_no_password_in_clear_to_a_public_address(self):
        with aiosmtpd_server(login=("reporter", "s3cret"), address=PUBLIC_ADDRESS) as (server, port):
            out = run_crash(mode=2, host=PUBLIC_ADDRESS, port=port, to="a@e.test", user="reporter",
                            password="s3cret", retries=0)
        self.assertEqual((out["code"], out["message"]),
                         ("eeEmailSMTPError", '[SMTP] "%s" offers no TLS: the password is not sent in clear.'
                          % PUBLIC_ADDRESS), out["_all"])
        self.assertEqual((server.messages, server.logins), ([], []))

    def test_forged_answers_are_ignored_and_an_exchanger_gets_no_login(self):
        # Each query has its own id and source port; answers with another id or another question
        # name 127.0.0.2, where a second server waits in vain. The exchanger is a third party: the
        # configured credentials are not offered to it.
        self.name_servers(FORGING_DNS)
        try:
            with aiosmtpd_server() as (server, port), aiosmtpd_server(port=port, address="127.0.0.2") as (forged, _), \
                    forging_name_server("127.0.0.1", "127.0.0.2") as queries:
                out = run_crash(mode=3, port=port, to="a@spoof.test;b@spoof.test", user="reporter", password="s3cret",
                                inline=1, trace=True)
        finally:
            self.name_servers("127.0.0.9", "127.0.0.1")
        self.assertEqual(out["code"], "eeNone", out["_all"])
        self.assertEqual([m["to"] for m in server.messages], [["a@spoof.test"], ["b@spoof.test"]])
        self.assertEqual(forged.messages, [])
        self.assertEqual([m["login"] for m in server.messages], [None, None])
        self.assertEqual(len(queries), 2, queries)
        (first_id, first_port), (second_id, second_port) = queries
        self.assertNotEqual(first_id, second_id)
        self.assertNotEqual(first_port, second_port)
        self.assertEqual(out["_trace"].count("LookupMxHost.NotOurAnswer"), 4, out["_trace"])
        self.assertIn("SmtpLogin('127.0.0.1', 'credentials kept from a recipient exchanger')", out["_trace"])

    def test_password_in_clear_to_a_private_address_only_as_configured(self):
        self.name_servers("127.0.0.1")
        try:
            with aiosmtpd_server(login=("reporter", "s3cret"), address=PRIVATE_ADDRESS) as (server, port):
                literal = run_crash(mode=2, host=PRIVATE_ADDRESS, port=port, to="a@e.test", user="reporter",
                                    password="s3cret", retries=0, trace=True)
                named = run_crash(mode=2, host="office.mx.test", port=port, to="a@e.test", user="reporter",
                                  password="s3cret", retries=0)
        finally:
            self.name_servers("127.0.0.9", "127.0.0.1")
        self.assertEqual(literal["code"], "eeNone", literal["_all"])
        self.assertEqual(tls_trace(literal), ["SmtpTls('%s', 'password in clear to the configured private address')"
                                              % PRIVATE_ADDRESS])
        self.assertEqual((named["code"], named["message"]),
                         ("eeEmailSMTPError", '[SMTP] "office.mx.test" offers no TLS: the password is not sent in clear.'),
                         named["_all"])
        self.assertEqual([m["login"] for m in server.messages], [("LOGIN", "reporter", "s3cret")])

    def test_no_exchanger_ends_the_delivery(self):
        # dnsmasq alone: the server that does not answer costs its whole timeout.
        self.name_servers("127.0.0.1")
        try:
            out = run_crash(mode=3, port=25, to="a@nothing.test;b@mx.test", retries=0)
        finally:
            self.name_servers("127.0.0.9", "127.0.0.1")
        self.assertEqual((out["after"], out["failures"]), ("0", "1"), out["_all"])
        self.assertEqual((out["code"], out["message"]),
                         ("eeEmailSMTPError", '[SMTP] Cannot resolve the "nothing.test" MX record.'))


if __name__ == "__main__":
    import warnings
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    if GROUP == "DnsInNamespace" and not IN_NAMESPACE:
        sys.exit("DnsInNamespace runs only inside its namespaces")
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[GROUP])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)
