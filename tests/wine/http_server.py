"""A scriptable HTTP and HTTPS test server on loopback that records what it receives.

    routes = {
        "/version.html": "1.0.0.7",                          # 200 with this body (str is UTF-8)
        "/missing": (404, {"X-Why": "gone"}, b"not here"),  # status, headers, body
        "/slow": Response(body=b"late", delay=2.0),
        "/hang": Response(hang=True),                         # accepts, never answers
        "/nolen": Response(body=b"x" * 50000, content_length=False),
        "/lie": Response(body=b"x" * 5000, content_length=10),
        "/raw": Response(raw=b"HTTP/1.0 200 OK\\r\\n\\r\\nbody"),
        "/stall": Response(raw=b"HTTP/1.0 200 OK\\r\\n\\r\\npart", hang=True),
        "/endless": Response(content_length=False, stream=endless()),  # never ends
        "/drip": Response(content_length=False, stream=drip(0.5)),      # a byte each 0.5 s
        "/who": lambda req: (200, {}, req.body),              # computed per request
    }
    with TestServer(routes, http_port=0, https_port=0, static_root=folder) as server:
        ... server.http_port, server.https_port (the bound ports) ...
        server.requests[-1].request_line   -> 'GET /version.html HTTP/1.0'

A route is looked up by the request's path with its query, then without it; paths that no
route names are served as files below `static_root` when one is given, else answered 404.
Port 0 binds a free port; None leaves that scheme out. The HTTPS side uses a self-signed
certificate made once with openssl (build/test-certs).
"""

import http.server
import os
import socketserver
import ssl
import subprocess
import threading
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CERT_DIR = os.path.join(ROOT, "build", "test-certs")

METHODS = ("GET", "POST", "PUT", "DELETE", "HEAD", "PATCH", "OPTIONS")


class Response:
    """What a route answers.

    content_length: True announces the body's length, False announces none (the end of the
    body is the end of the connection), an int announces that number whatever the body is.
    delay: seconds to wait before answering. hang: accept and never answer (until the
    server stops). raw: bytes sent as they are instead of a formed response. stream: a
    function of the server's stop event giving the pieces sent after the body, one by one
    (see endless and drip), until they end, the client goes or the server stops.
    """

    def __init__(self, status=200, body=b"", headers=None, content_length=True, delay=0.0,
                 hang=False, raw=None, stream=None):
        self.status = status
        self.body = body.encode("utf-8") if isinstance(body, str) else bytes(body)
        self.headers = dict(headers or {})
        self.content_length = content_length
        self.delay = delay
        self.hang = hang
        self.raw = raw
        self.stream = stream


def endless(piece=b"x" * 65536):
    """A stream of the same piece for ever."""
    def pieces(stopping):
        while not stopping.is_set():
            yield piece
    return pieces


def drip(interval, piece=b"x", count=None):
    """A stream of one piece every `interval` seconds, `count` times or for ever."""
    def pieces(stopping):
        sent = 0
        while (count is None or sent < count) and not stopping.wait(interval):
            yield piece
            sent += 1
    return pieces


class Request:
    """One request as the server saw it."""

    def __init__(self, scheme, port, request_line, method, target, version, headers, body):
        self.scheme = scheme
        self.port = port
        self.request_line = request_line  # e.g. 'GET /a?b=1 HTTP/1.0'
        self.method = method
        self.target = target  # path with query, as sent
        self.path = target.split("?", 1)[0]
        self.version = version  # e.g. 'HTTP/1.0'
        self.headers = headers  # [(name, value)] in the order received
        self.body = body  # bytes

    def header(self, name):
        """The first value of a header (names compare case-insensitively), or None."""
        for k, v in self.headers:
            if k.lower() == name.lower():
                return v
        return None

    def header_names(self):
        return [k for k, _ in self.headers]

    def __repr__(self):
        return "Request(%r, %r, headers=%r, body=%r)" % (
            self.scheme, self.request_line, self.headers, self.body[:200])


def ensure_certificate(folder=CERT_DIR):
    """Returns (cert, key) paths, making a self-signed pair the first time."""
    cert = os.path.join(folder, "server.crt")
    key = os.path.join(folder, "server.key")
    if not (os.path.exists(cert) and os.path.exists(key)):
        os.makedirs(folder, exist_ok=True)
        tmp_cert, tmp_key = cert + ".%d" % os.getpid(), key + ".%d" % os.getpid()
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-subj", "/CN=fenwa-test", "-days", "3650",
                        "-keyout", tmp_key, "-out", tmp_cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.replace(tmp_key, key)
        os.replace(tmp_cert, cert)
    return cert, key


def _as_response(value, request):
    if callable(value) and not isinstance(value, Response):
        value = value(request)
    if isinstance(value, Response):
        return value
    if isinstance(value, (bytes, bytearray, str)):
        return Response(200, value)
    if isinstance(value, tuple):
        status, headers, body = value
        return Response(status, body, headers)
    raise TypeError("route value %r" % (value,))


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = 60  # a client that stalls must not hold a thread for ever

    def log_message(self, *args):
        pass

    def _handle(self):
        owner = self.server.owner
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        req = Request(self.server.scheme, self.server.server_address[1], self.requestline,
                      self.command, self.path, self.request_version, list(self.headers.items()),
                      body)
        owner._record(req)
        resp = owner._respond(req)
        self.close_connection = True
        if resp.delay and owner._stopping.wait(resp.delay):
            return
        if resp.raw is not None:
            self.wfile.write(resp.raw)
            self.wfile.flush()
        if resp.hang:
            owner._stopping.wait()
        if resp.raw is not None or resp.hang:
            return
        self.send_response(resp.status)
        for k, v in resp.headers.items():
            self.send_header(k, v)
        if resp.content_length is True:
            self.send_header("Content-Length", str(len(resp.body)))
        elif resp.content_length is not False:
            self.send_header("Content-Length", str(resp.content_length))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(resp.body)
        if resp.stream is not None and self.command != "HEAD":
            try:
                for piece in resp.stream(owner._stopping):
                    self.wfile.write(piece)
                    self.wfile.flush()
            except OSError:
                pass  # the client hung up, which is what a bounded client does


for _method in METHODS:
    setattr(_Handler, "do_" + _method, _Handler._handle)


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, owner, scheme, address, context=None):
        self.owner = owner
        self.scheme = scheme
        self.context = context
        super().__init__(address, _Handler)

    def server_bind(self):
        # HTTPServer would look the address up in DNS, which may stall in a private namespace.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def finish_request(self, request, client_address):
        # The handshake runs here, on the connection's own thread, so a client that never
        # completes it cannot stall the accepting loop.
        if self.context is not None:
            request.settimeout(30)
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                self.owner._record_tls_failure(client_address, e)
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # a client that went away is not the server's fault


class TestServer:
    def __init__(self, routes=None, http_port=0, https_port=None, static_root=None,
                 host="127.0.0.1"):
        self.routes = dict(routes or {})
        self.static_root = static_root
        self.host = host
        self.requests = []
        self.tls_failures = []
        self._wanted = (http_port, https_port)
        self._servers = []
        self._threads = []
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self._stopping = threading.Event()
        self.http_port = None
        self.https_port = None

    # ---- lifecycle
    def start(self):
        http_port, https_port = self._wanted
        if http_port is not None:
            srv = _Server(self, "http", (self.host, http_port))
            self.http_port = srv.server_address[1]
            self._servers.append(srv)
        if https_port is not None:
            cert, key = ensure_certificate()
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(cert, key)
            srv = _Server(self, "https", (self.host, https_port), ctx)
            self.https_port = srv.server_address[1]
            self._servers.append(srv)
        for srv in self._servers:
            t = threading.Thread(target=srv.serve_forever, kwargs={"poll_interval": 0.05},
                                 daemon=True)
            t.start()
            self._threads.append(t)
        return self

    def stop(self):
        self._stopping.set()
        for srv in self._servers:
            srv.shutdown()
            srv.server_close()
        for t in self._threads:
            t.join(5)
        self._servers, self._threads = [], []

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()
        return False

    # ---- scripting and inspection
    def route(self, path, value):
        with self._lock:
            self.routes[path] = value

    def clear(self):
        with self._lock:
            del self.requests[:]
            del self.tls_failures[:]

    def requests_for(self, path):
        with self._lock:
            return [r for r in self.requests if r.path == path or r.target == path]

    def wait_requests(self, count, timeout=10.0):
        """Waits until at least `count` requests were recorded; returns whether they were."""
        with self._changed:
            return self._changed.wait_for(lambda: len(self.requests) >= count, timeout)

    def url(self, path, https=False):
        port = self.https_port if https else self.http_port
        return "%s://%s:%d%s" % ("https" if https else "http", self.host, port, path)

    # ---- used by the handler
    def _record(self, req):
        with self._changed:
            self.requests.append(req)
            self._changed.notify_all()

    def _record_tls_failure(self, address, error):
        with self._lock:
            self.tls_failures.append((address, error))

    def _respond(self, req):
        with self._lock:
            value = self.routes.get(req.target, self.routes.get(req.path))
        if value is not None:
            return _as_response(value, req)
        if self.static_root and req.method in ("GET", "HEAD"):
            data = self._static_file(req.path)
            if data is not None:
                return Response(200, data)
        return Response(404, b"not found")

    def _static_file(self, url_path):
        rel = urllib.parse.unquote(url_path).lstrip("/")
        root = os.path.realpath(self.static_root)
        full = os.path.realpath(os.path.join(root, rel))
        if full != root and not full.startswith(root + os.sep):
            return None  # outside the served tree
        if not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()
