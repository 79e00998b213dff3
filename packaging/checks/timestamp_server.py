"""An RFC 3161 timestamp server for the signing check, on 127.0.0.1 only, in
front of `openssl ts -reply`: run in a thread of whoever needs it (the
signing check, .ci/signed-release), and stopped by it or, at the latest, by
itself after its lifetime (LIFETIME seconds unless told).

    with timestamp_server(folder) as server:
        server.url("good")    answers every request
        server.url("rogue")   answers as an authority nobody trusts
        server.silent_url     takes the request and never answers
        server.dead_url       nobody listens there
        server.certificate    the authority's certificate (-TSA-CAfile)
"""
import contextlib
import http.server
import os
import socket
import subprocess
import threading
import types

LIFETIME = 600

CONFIG = """\
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = {folder}/serial
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        folder = self.server.folder
        stem = os.path.join(folder, "rogue" if self.path == "/rogue" else "tsa")
        answer = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                                 "-queryfile", "/dev/stdin", "-signer", stem + ".pem", "-inkey",
                                 stem + ".key", "-out", "/dev/stdout"], input=query,
                                capture_output=True, check=True, timeout=60).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *_):
        pass


@contextlib.contextmanager
def timestamp_server(folder, lifetime=LIFETIME):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "serial"), "w") as serial:
        serial.write("01\n")
    with open(os.path.join(folder, "tsa.cnf"), "w") as config:
        config.write(CONFIG.format(folder=folder))
    # The authority the signatures are checked against, and a rogue one.
    for name in ["tsa", "rogue"]:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=sales_tally test timestamps " + name, "-addext",
                        "extendedKeyUsage=critical,timeStamping", "-keyout",
                        os.path.join(folder, name + ".key"), "-out", os.path.join(folder, name + ".pem")],
                       check=True, capture_output=True, timeout=60)
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    httpd.daemon_threads, httpd.folder = True, folder
    # Two ports held while it runs: one that takes a connection into its
    # backlog and never reads it, one that refuses.
    silent, dead = socket.create_server(("127.0.0.1", 0)), socket.socket()
    dead.bind(("127.0.0.1", 0))

    def stop():
        httpd.shutdown()
        httpd.server_close()
        silent.close()
        dead.close()

    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    deadline = threading.Timer(lifetime, stop)
    deadline.daemon = True
    deadline.start()
    url = "http://127.0.0.1:%d/"
    try:
        yield types.SimpleNamespace(
            url=lambda behaviour: url % httpd.server_port + behaviour,
            silent_url=url % silent.getsockname()[1], dead_url=url % dead.getsockname()[1],
            certificate=os.path.join(folder, "tsa.pem"))
    finally:
        deadline.cancel()
        stop()
