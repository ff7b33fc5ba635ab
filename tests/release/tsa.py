#!/usr/bin/env python3
"""A local RFC 3161 time-stamp server for the signing check, on 127.0.0.1 only.

usage: tsa.py DIR PORT_FILE
DIR holds tsa.pem and tsa.key (a certificate with the timeStamping usage). Each POST is answered
by `openssl ts -reply`. Writes its port to PORT_FILE, answers at most 20 requests and ends after
300 s at the latest.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

CONFIG = """
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
dir = {dir}
serial = $dir/serial
crypto_device = builtin
signer_cert = $dir/tsa.pem
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    directory, port_file = os.path.abspath(argv[1]), argv[2]
    config = os.path.join(directory, "tsa.cnf")
    with open(config, "w") as f:
        f.write(CONFIG.format(dir=directory))
    with open(os.path.join(directory, "serial"), "w") as f:
        f.write("01\n")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            with tempfile.TemporaryDirectory() as scratch:
                query_file = os.path.join(scratch, "query.tsq")
                reply_file = os.path.join(scratch, "reply.tsr")
                with open(query_file, "wb") as f:
                    f.write(query)
                done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query_file,
                                       "-out", reply_file], capture_output=True)
                if done.returncode != 0:
                    self.send_error(500, done.stderr.decode(errors="replace")[:200])
                    return
                with open(reply_file, "rb") as f:
                    reply = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, fmt, *args):
            sys.stderr.write("tsa: " + fmt % args + "\n")

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    threading.Timer(300, os._exit, args=(0,)).start()
    for _ in range(20):
        server.handle_request()
    os._exit(0)


if __name__ == "__main__":
    main(sys.argv)
