#!/usr/bin/env python3
"""An info endpoint that sends its reply in chunks, one ending inside the
token, pausing after each. Usage: chunking_server.py ADDRESS PORT"""
import sys
import time
from http.server import BaseHTTPRequestHandler, HTTPServer

BODY = b"status=ok&length_seconds=7&token=QWxhZGRpbg%3D%3D&title=Chunked+Caf%C3%A9&video_id=py"
CUT = BODY.index(b"&token=") + len(b"&token=QWxhZ")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for piece in (BODY[:CUT], BODY[CUT:], b""):
            self.wfile.write(b"%x;note=pause\r\n%s\r\n" % (len(piece), piece))
            self.wfile.flush()
            time.sleep(0.2)


HTTPServer((sys.argv[1], int(sys.argv[2])), Handler).serve_forever()
