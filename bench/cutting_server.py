#!/usr/bin/env python3
"""A loopback file server for the resume benchmark: a poor connection, reproducibly.

    cutting_server.py DIR CUT_MIB SEED [--no-ranges]

Serves the files of DIR on a free 127.0.0.1 port (printed as "port N" on the first line).
Each file has one cut point at a random offset inside every CUT_MIB MiB of it (from SEED);
the first response that would carry the byte at a cut point is cut there, by closing the
connection, and that cut point is then spent. It answers "Range: bytes=N-" with 206 and
Content-Range (honouring If-Range against its ETag), or with the whole file when started
with --no-ranges. Every response's body bytes are printed as "sent N" on a line of its own.
"""

import http.server
import os
import random
import re
import sys
import threading

_RANGE = re.compile(r"bytes=(\d+)-$")


def main():
    folder, cut_mib, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    ranges = "--no-ranges" not in sys.argv[4:]
    rng = random.Random(seed)
    cuts = {}  # file name -> sorted offsets still to cut at
    lock = threading.Lock()
    step = cut_mib * 1024 * 1024

    def cuts_of(name, size):
        with lock:
            if name not in cuts:
                cuts[name] = [start + rng.randrange(1, step)
                              for start in range(0, size - 1, step) if start + step < size]
            return cuts[name]

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            name = self.path.split("?", 1)[0].lstrip("/")
            path = os.path.join(folder, name)
            if "/" in name or not os.path.isfile(path):
                self.send_error(404)
                return
            size = os.path.getsize(path)
            etag = f'"{size:x}-{int(os.path.getmtime(path)):x}"'
            start = 0
            wanted = _RANGE.match(self.headers.get("Range", ""))
            if_range = self.headers.get("If-Range")
            if ranges and wanted and (if_range is None or if_range == etag):
                start = int(wanted.group(1))
            if start >= size:
                start = 0
            self.send_response(206 if start else 200)
            self.send_header("ETag", etag)
            self.send_header("Content-Length", str(size - start))
            if start:
                self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
            self.send_header("Connection", "close")
            self.end_headers()
            pending = cuts_of(name, size)
            with lock:
                cut = next((c for c in pending if c > start), None)
                if cut is not None:
                    pending.remove(cut)
            end = size if cut is None else cut
            sent = 0
            with open(path, "rb") as f:
                f.seek(start)
                while start + sent < end:
                    chunk = f.read(min(1 << 20, end - start - sent))
                    try:
                        self.wfile.write(chunk)
                    except OSError:
                        break
                    sent += len(chunk)
            print(f"sent {sent}", flush=True)
            self.close_connection = True

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(f"port {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
