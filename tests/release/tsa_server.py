#!/usr/bin/env python3
"""A time-stamping service (RFC 3161 over HTTP) for the tests, answering with
`openssl ts -reply` and the test root's time-stamping certificate:
  tsa_server.py <codesign folder> <port file> [seconds]
listens on a free loopback port, writes it to <port file>, and ends by itself
after the given seconds (120 by default)."""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

folder, port_file = sys.argv[1], sys.argv[2]
lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 120
work = tempfile.mkdtemp()
config = os.path.join(work, "tsa.cnf")
with open(os.path.join(work, "serial"), "w") as f:
    f.write("01\n")
with open(config, "w") as f:
    f.write(f"""[tsa]
default_tsa = lumora_test
[lumora_test]
serial = {work}/serial
signer_cert = {folder}/codesign-tsa.pem
certs = {folder}/codesign-tsa.pem
signer_key = {folder}/codesign-tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
""")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = os.path.join(work, "query.tsq")
        reply = os.path.join(work, "reply.tsr")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers.get("Content-Length", 0))))
        done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                               "-out", reply], capture_output=True)
        body = open(reply, "rb").read() if done.returncode == 0 else done.stderr
        self.send_response(200 if done.returncode == 0 else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
threading.Timer(lifetime, server.shutdown).start()
with open(port_file + ".new", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".new", port_file)
server.serve_forever()
