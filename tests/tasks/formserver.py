#!/usr/bin/env python3
"""A form's other end for the browser tasks.

formserver.py ROOT LOG PORTFILE serves the files of ROOT on 127.0.0.1 at a
free port, which it writes to PORTFILE once it listens, and appends one JSON
line to LOG for each form that arrives (a GET of /submit with its query, or
any POST): the method and the fields as lists of values.
"""
import http.server
import json
import os
import sys
import urllib.parse

root, log_path, port_path = sys.argv[1:4]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)

    def received(self, method, raw):
        fields = urllib.parse.parse_qs(raw, keep_blank_values=True)
        with open(log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps({"method": method, "fields": fields}) + "\n")
        body = b"<!doctype html><title>Thanks</title><h1>Received</h1>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/submit":
            return self.received("GET", url.query)
        return super().do_GET()

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        self.received("POST", self.rfile.read(length).decode("utf-8", "replace"))

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(port_path + ".part", "w") as port:
    port.write(str(server.server_address[1]))
os.rename(port_path + ".part", port_path)
server.serve_forever()
