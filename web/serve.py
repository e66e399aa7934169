#!/usr/bin/env python3
"""Serves the browser edition's folder on this machine as a web server for it should: each file
gzip-compressed when the browser takes that (the .gz copy `make web` puts beside it), and with
cache headers that make a browser ask, on every visit, only whether a file has changed.

    python3 web/serve.py build/web [port]     (port 0: any free one)

It prints the address to open once it listens, and serves until it is stopped."""

import http.server
import os
import sys
import urllib.parse

TYPES = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
         '.css': 'text/css', '.wasm': 'application/wasm', '.svg': 'image/svg+xml',
         '.png': 'image/png', '.webmanifest': 'application/manifest+json'}


class SiteHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    site = ''

    def do_GET(self):
        self.serve(with_body=True)

    def do_HEAD(self):
        self.serve(with_body=False)

    def serve(self, with_body):
        name = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path).lstrip('/')
        path = os.path.realpath(os.path.join(self.site, name or 'index.html'))
        if not path.startswith(self.site + os.sep) or not os.path.isfile(path):
            self.send_error(404, 'No such file in the site')
            return
        compressed = 'gzip' in self.headers.get('Accept-Encoding', '') and os.path.isfile(path + '.gz')
        served = path + '.gz' if compressed else path
        stat = os.stat(served)
        tag = f'"{stat.st_mtime_ns:x}-{stat.st_size:x}"'
        unchanged = self.headers.get('If-None-Match') == tag
        self.send_response(304 if unchanged else 200)
        self.send_header('Cache-Control', 'no-cache')
        self.send_header('ETag', tag)
        self.send_header('Vary', 'Accept-Encoding')
        if unchanged:
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        self.send_header('Content-Type', TYPES.get(os.path.splitext(path)[1], 'application/octet-stream'))
        self.send_header('Content-Length', str(stat.st_size))
        if compressed:
            self.send_header('Content-Encoding', 'gzip')
        self.end_headers()
        if with_body:
            with open(served, 'rb') as file:
                self.wfile.write(file.read())

    def log_message(self, format, *args):
        pass


def main():
    SiteHandler.site = os.path.realpath(sys.argv[1] if len(sys.argv) > 1 else 'build/web')
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8155
    server = http.server.ThreadingHTTPServer(('127.0.0.1', port), SiteHandler)
    server.daemon_threads = True
    print(f'Vorlix is at http://127.0.0.1:{server.server_port}/ (Ctrl+C stops the server)', flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == '__main__':
    main()
