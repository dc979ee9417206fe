"""The product web server for the scenario tests and the demo: nginx serving a published
server tree (tools/publish.py) over HTTPS on 443 and HTTP on 80, and answering the
access-code look-up "/run.php?accesscode=N" from a table.

    server = ProductServer(root, codes={1234: "TITLE..."})
    server.start()
    ...                      # run the launcher
    server.requests()        # what was asked: method, path, query, protocol, status, port
    server.stop()

Ports below 1024 need root and, because other programs on the machine may listen on the
loopback ports, a private network namespace (tests/run_all.py enters one). Each server runs
its own nginx with its own configuration, logs and temporary folders; /etc/nginx is never
read. The self-signed certificate is made once with openssl into build/product-server/.
"""

import fcntl
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CERT_DIR = os.path.join(ROOT, "build", "product-server")
NGINX = os.environ.get("FENWA_NGINX", shutil.which("nginx") or "/usr/sbin/nginx")


class ServerError(Exception):
    pass


def ensure_certificate():
    """(certificate, key) for 127.0.0.1 and localhost, made once and shared by every server."""
    os.makedirs(CERT_DIR, exist_ok=True)
    cert, key = os.path.join(CERT_DIR, "cert.pem"), os.path.join(CERT_DIR, "key.pem")
    with open(os.path.join(CERT_DIR, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (os.path.exists(cert) and os.path.exists(key)):
            subprocess.run(
                ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                 "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                 "-keyout", key + ".tmp", "-out", cert + ".tmp"],
                check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.replace(key + ".tmp", key)
            os.replace(cert + ".tmp", cert)
    return cert, key


def _nginx_lacks(module):
    try:
        out = subprocess.run([NGINX, "-V"], capture_output=True, text=True).stderr
    except OSError:
        return True
    return ("--without-%s" % module) in out


def _quote(text, variables=True):
    """A string for the nginx configuration, in double quotes; where nginx would expand
    variables, a "$" is written through the $dollar variable."""
    text = text.replace("\\", "\\\\").replace('"', '\\"')
    return '"%s"' % (text.replace("$", "${dollar}") if variables else text)


class Request:
    """One line of the access log."""

    def __init__(self, d):
        self.method = d["method"]
        self.uri = d["uri"]  # as sent, with the query
        self.path, _, self.query = self.uri.partition("?")
        self.protocol = d["protocol"]
        self.status = int(d["status"])
        self.port = int(d["port"])
        self.scheme = d["scheme"]
        self.bytes = int(d["bytes"] or 0)

    def __repr__(self):
        return "%s %s %s %s -> %d (%d bytes)" % (self.scheme, self.port, self.method, self.uri,
                                                self.status, self.bytes)


class ProductServer:
    """nginx serving `root` (a published server tree).

    https / http: listen on that port (None for not at all: connections are then refused).
    codes: access code -> title key; every other code is answered "null".
    statuses: exact path -> HTTP status to answer instead of the file (e.g. a 404 or 500).
    """

    def __init__(self, root, codes=None, https=443, http=80, host="127.0.0.1", statuses=None):
        self.root = os.path.abspath(root)
        self.codes = dict(codes or {})
        self.https, self.http, self.host = https, http, host
        self.statuses = dict(statuses or {})
        self.work = None
        self.proc = None
        self.access_log = self.error_log = None

    # ---- life cycle
    def start(self, timeout=10):
        if self.proc:
            return self
        ports = [p for p in (self.https, self.http) if p]
        if not ports:
            return self  # "nothing": every connection is refused
        self.work = tempfile.mkdtemp(prefix="fenwa-nginx-")
        os.chmod(self.work, 0o755)
        for d in ("temp", "logs"):
            os.makedirs(os.path.join(self.work, d))
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self.config())
        self.error_log = os.path.join(self.work, "logs", "error.log")
        self.access_log = os.path.join(self.work, "logs", "access.log")
        open(self.access_log, "w").close()
        self._out = open(os.path.join(self.work, "logs", "stderr.log"), "w")
        self.proc = subprocess.Popen([NGINX, "-p", self.work, "-c", conf, "-e", self.error_log],
                                     stdout=self._out, stderr=self._out,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                break
            if all(self._accepts(p) for p in ports):
                return self
            time.sleep(0.05)
        problem = self.log_text()
        self.stop()
        raise ServerError("nginx did not come up on %s:%s\n%s" % (self.host, ports, problem))

    def stop(self):
        if self.proc:
            if self.proc.poll() is None:
                # QUIT lets the workers finish what they are sending; a stuck one is killed.
                os.killpg(self.proc.pid, signal.SIGQUIT)
                try:
                    self.proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(self.proc.pid, signal.SIGKILL)
                    self.proc.wait()
            self.proc = None
            self._out.close()
        if self.work and not os.environ.get("FENWA_KEEP_PREFIXES"):
            shutil.rmtree(self.work, ignore_errors=True)
            self.work = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _accepts(self, port):
        try:
            with socket.create_connection((self.host, port), timeout=0.5):
                return True
        except OSError:
            return False

    # ---- what was asked
    def requests(self):
        """Every request so far, in order."""
        out = []
        try:
            with open(self.access_log, encoding="utf-8") as f:
                for line in f:
                    line = line.strip()
                    if line:
                        out.append(Request(json.loads(line)))
        except (OSError, TypeError):
            pass
        return out

    def clear_requests(self):
        if self.access_log:
            with open(self.access_log, "w"):
                pass

    def log_text(self):
        texts = []
        for name in ("error.log", "stderr.log"):
            try:
                with open(os.path.join(self.work, "logs", name), errors="replace") as f:
                    texts.append(f.read())
            except (OSError, TypeError):
                pass
        return "".join(texts)

    def url(self, path, https=True):
        port = self.https if https else self.http
        return "%s://%s:%d/%s" % ("https" if https else "http", self.host, port,
                                  path.lstrip("/"))

    # ---- configuration
    def config(self):
        cert, key = ensure_certificate() if self.https else (None, None)
        temp = os.path.join(self.work, "temp")
        lines = [
            "daemon off;",
            "worker_processes 1;",
            "pid %s;" % os.path.join(self.work, "nginx.pid"),
            "error_log %s warn;" % os.path.join(self.work, "logs", "error.log"),
        ]
        if os.geteuid() == 0:
            lines.append("user root root;")  # the tree and the logs may be private to root
        lines += [
            "events { worker_connections 64; }",
            "http {",
            "  types { text/html html; text/plain lst txt; application/zip zip; }",
            "  default_type application/octet-stream;",
            "  charset utf-8;",
            "  sendfile on;",
            "  keepalive_timeout 5;",
            "  log_format fenwa escape=json '{\"method\":\"$request_method\",\"uri\":\"$request_uri\","
            "\"protocol\":\"$server_protocol\",\"status\":\"$status\",\"port\":\"$server_port\","
            "\"scheme\":\"$scheme\",\"bytes\":\"$body_bytes_sent\"}';",
            "  access_log %s fenwa;" % os.path.join(self.work, "logs", "access.log"),
            "  client_body_temp_path %s;" % os.path.join(temp, "body"),
        ]
        for module, directive in (("http_proxy_module", "proxy_temp_path"),
                                  ("http_fastcgi_module", "fastcgi_temp_path"),
                                  ("http_uwsgi_module", "uwsgi_temp_path"),
                                  ("http_scgi_module", "scgi_temp_path")):
            if not _nginx_lacks(module):
                lines.append("  %s %s;" % (directive, os.path.join(temp, directive[:-10])))
        lines.append('  geo $dollar { default "$"; }')
        lines.append("  map $arg_accesscode $title_key {")
        lines.append('    default "null";')
        for code, title_key in sorted(self.codes.items(), key=lambda kv: str(kv[0])):
            lines.append("    %s %s;" % (_quote(str(code), variables=False), _quote(title_key)))
        lines.append("  }")
        lines.append("  server {")
        if self.https:
            lines.append("    listen %s:%d ssl;" % (self.host, self.https))
            lines.append("    ssl_certificate %s;" % cert)
            lines.append("    ssl_certificate_key %s;" % key)
        if self.http:
            lines.append("    listen %s:%d;" % (self.host, self.http))
        lines += [
            "    server_name _;",
            "    root %s;" % self.root,
            "    autoindex off;",
            "    location = /run.php { default_type text/plain; return 200 $title_key; }",
        ]
        for path, status in sorted(self.statuses.items()):
            location = _quote("/" + path.lstrip("/"), variables=False)
            lines.append("    location = %s { return %d; }" % (location, status))
        lines += ["  }", "}", ""]
        return "\n".join(lines)
