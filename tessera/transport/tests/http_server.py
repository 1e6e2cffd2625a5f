#!/usr/bin/env python3
"""Loopback HTTP origin for the gateway tests.

GET /size/N returns N pattern octets as application/vnd.wap.mms-message; POST /post/NAME
stores the request body as DIR/NAME and answers a short MMS-typed body. Prints "ready PORT"
once listening. With "--tls CERT KEY" after DIR it speaks HTTPS.
"""
import http.server
import os
import ssl
import sys


def pattern(n):
    return bytes(((i * 131 + i // 251 + n) & 0xFF) for i in range(n))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def reply(self, body, status=200):
        self.send_response(status)
        self.send_header("Content-Type", "application/vnd.wap.mms-message")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        if len(parts) == 2 and parts[0] == "size" and parts[1].isdigit():
            self.reply(pattern(int(parts[1])))
        else:
            self.reply(b"", 404)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        name = os.path.basename(self.path.rstrip("/"))
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(body)
        self.reply(b"\x8c\x81stored")


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 5 and sys.argv[2] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("ready", server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
