"""An RFC 3161 timestamp server for the signing check, on 127.0.0.1 only, in
front of `openssl ts -reply`: run in a thread of whoever needs it (the
signing check, .ci/signed-release), and stopped by it or, at the latest, by
itself after its lifetime (LIFETIME seconds unless told).

    with TimestampServer(folder) as server:
        server.url("good")    answers every request
        server.url("once")    answers the first request, fails the rest
        server.url("rogue")   answers as an authority nobody trusts
        server.silent_url     takes the request and never answers
        server.dead_url       nobody listens there
        server.certificate    the authority's certificate (-TSA-CAfile)
"""
import http.server
import os
import socket
import subprocess
import threading

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
        behaviour, tsa = self.path.strip("/"), self.server.tsa
        if behaviour == "once" and behaviour in tsa.answered:
            self.send_error(503)
            return
        tsa.answered.add(behaviour)
        answer = tsa.reply(query, "rogue" if behaviour == "rogue" else "tsa")
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *_):
        pass


class TimestampServer:
    def __init__(self, folder, lifetime=LIFETIME):
        self.folder, self.lifetime = folder, lifetime
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "serial"), "w") as serial:
            serial.write("01\n")
        self.config = os.path.join(folder, "tsa.cnf")
        with open(self.config, "w") as config:
            config.write(CONFIG.format(folder=folder))
        # The authority the signatures are checked against, and a rogue one.
        for name in ["tsa", "rogue"]:
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                            "3650", "-subj", "/CN=sales_tally test timestamps " + name, "-addext",
                            "extendedKeyUsage=critical,timeStamping", "-keyout",
                            os.path.join(folder, name + ".key"), "-out",
                            os.path.join(folder, name + ".pem")],
                           check=True, capture_output=True, timeout=60)
        self.certificate = os.path.join(folder, "tsa.pem")
        self.answered = set()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads, self.httpd.tsa = True, self
        # Two ports held while it runs: one that takes a connection into its
        # backlog and never reads it, one that refuses.
        self.silent, self.dead = socket.create_server(("127.0.0.1", 0)), socket.socket()
        self.dead.bind(("127.0.0.1", 0))
        self.silent_url, self.dead_url = ("http://127.0.0.1:%d/" % port.getsockname()[1]
                                          for port in [self.silent, self.dead])

    def url(self, behaviour):
        return "http://127.0.0.1:%d/%s" % (self.httpd.server_port, behaviour)

    def reply(self, query, authority):
        """The authority's answer to the query, by openssl."""
        stem = os.path.join(self.folder, authority)
        return subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile",
                               "/dev/stdin", "-signer", stem + ".pem", "-inkey", stem + ".key",
                               "-out", "/dev/stdout"], input=query, capture_output=True,
                              check=True, timeout=60).stdout

    def __enter__(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.deadline = threading.Timer(self.lifetime, self.stop)
        self.deadline.daemon = True
        self.deadline.start()
        return self

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.silent.close()
        self.dead.close()

    def __exit__(self, *_):
        self.deadline.cancel()
        self.stop()
