"""An RFC 3161 timestamp server for the signing check, on 127.0.0.1 only, in
front of `openssl ts -reply`: run in a thread of whoever needs it (the
signing check, .ci/signed-release), and stopped by it or, at the latest, by
itself after its lifetime (LIFETIME seconds unless told).

    with TimestampServer(folder) as server:
        server.url("good")    answers every request
        server.url("once")    answers the first request, fails the rest
        server.url("silent")  takes the request and never answers
        server.url("other")   answers with a timestamp of other data
        server.url("rogue")   answers as an authority nobody trusts
        server.dead_url()     nobody listens there
        server.certificate    the authority's certificate (-TSA-CAfile)
"""
import http.server
import os
import socket
import subprocess
import tempfile
import threading

LIFETIME = 600

CONFIG = """\
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = {folder}/serial
signer_cert = {folder}/{name}.pem
signer_key = {folder}/{name}.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


class TimestampServer:
    def __init__(self, folder, lifetime=LIFETIME):
        self.folder, self.lifetime = folder, lifetime
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "serial"), "w") as serial:
            serial.write("01\n")
        # The authority the signatures are checked against, and a rogue one.
        self.certificate = self._authority("tsa")
        self._authority("rogue")
        self.stopping = threading.Event()
        self.answered = set()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), self._handler())
        self.httpd.daemon_threads = True

    def _authority(self, name):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=sales_tally test timestamps " + name, "-addext",
                        "extendedKeyUsage=critical,timeStamping", "-keyout",
                        os.path.join(self.folder, name + ".key"), "-out",
                        os.path.join(self.folder, name + ".pem")],
                       check=True, capture_output=True, timeout=60)
        with open(os.path.join(self.folder, name + ".cnf"), "w") as config:
            config.write(CONFIG.format(folder=self.folder, name=name))
        return os.path.join(self.folder, name + ".pem")

    def url(self, behaviour):
        return "http://127.0.0.1:%d/%s" % (self.httpd.server_port, behaviour)

    @staticmethod
    def dead_url():
        """A port that was free a moment ago and that nobody listens on."""
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            return "http://127.0.0.1:%d/" % probe.getsockname()[1]

    def reply(self, query, authority="tsa", other_data=False):
        with tempfile.TemporaryDirectory(dir=self.folder) as scratch:
            query_file, reply_file = os.path.join(scratch, "q.tsq"), os.path.join(scratch, "r.tsr")
            with open(query_file, "wb") as out:
                out.write(query)
            if other_data:  # a well-formed token, over another digest
                subprocess.run(["openssl", "ts", "-query", "-digest", "ab" * 32, "-sha256",
                                "-cert", "-out", query_file], check=True, capture_output=True,
                               timeout=60)
            subprocess.run(["openssl", "ts", "-reply", "-config",
                            os.path.join(self.folder, authority + ".cnf"), "-queryfile",
                            query_file, "-out", reply_file], check=True, capture_output=True,
                           timeout=60)
            with open(reply_file, "rb") as reply:
                return reply.read()

    def _handler(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                behaviour = self.path.strip("/")
                if behaviour == "silent":
                    server.stopping.wait(server.lifetime)
                    return
                if behaviour == "once" and behaviour in server.answered:
                    self.send_error(503)
                    return
                server.answered.add(behaviour)
                answer = server.reply(query, "rogue" if behaviour == "rogue" else "tsa",
                                      other_data=behaviour == "other")
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)

            def log_message(self, *_):
                pass

        return Handler

    def __enter__(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.deadline = threading.Timer(self.lifetime, self.stop)
        self.deadline.daemon = True
        self.deadline.start()
        return self

    def stop(self):
        self.stopping.set()
        self.httpd.shutdown()
        self.httpd.server_close()

    def __exit__(self, *_):
        self.deadline.cancel()
        self.stop()
