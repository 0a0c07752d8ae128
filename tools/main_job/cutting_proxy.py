#!/usr/bin/env python3
"""A poor connection in front of the update server, for the main job's resume stage.

    cutting_proxy.py LISTEN_PORT UPSTREAM_PORT CUT_FRACTION CUTS LOG

Forwards every connection on 127.0.0.1:LISTEN_PORT to 127.0.0.1:UPSTREAM_PORT. The first CUTS
replies to requests for /packages/ or /patches/ are cut: the connection is closed once the
reply has carried CUT_FRACTION of its announced Content-Length. Each request line (with its
Range header, if any), and each cut with the bytes it let through, is appended to LOG.
"""

import re
import socket
import sys
import threading

_LENGTH = re.compile(rb"\r\ncontent-length:\s*(\d+)", re.I)
_RANGE = re.compile(rb"\r\nrange:\s*([^\r\n]*)", re.I)


def main():
    listen_port, upstream_port = int(sys.argv[1]), int(sys.argv[2])
    fraction, cuts_left, log_path = float(sys.argv[3]), [int(sys.argv[4])], sys.argv[5]
    lock = threading.Lock()

    def log(line):
        with lock, open(log_path, "a") as f:
            f.write(line + "\n")

    def serve(client):
        upstream = socket.create_connection(("127.0.0.1", upstream_port))
        try:
            request = client.recv(65536)
            if not request:
                return
            line = request.split(b"\r\n", 1)[0].decode("latin-1")
            wanted = _RANGE.search(request)
            log(line + (f" Range: {wanted.group(1).decode('latin-1')}" if wanted else ""))
            path = line.split(" ")[1] if " " in line else ""
            cut = False
            if path.startswith(("/packages/", "/patches/")):
                with lock:
                    cut = cuts_left[0] > 0
                    cuts_left[0] -= cut
            upstream.sendall(request)
            head, passed, limit = b"", 0, None
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                if cut and limit is None:
                    head += data
                    end = head.find(b"\r\n\r\n")
                    if end >= 0:
                        length = _LENGTH.search(head[:end])
                        body = int(length.group(1)) if length else 0
                        limit = end + 4 + int(body * fraction)
                if cut and limit is not None and passed + len(data) >= limit:
                    client.sendall(data[:limit - passed])
                    log(f"cut {path} after {limit} bytes of the reply")
                    return
                client.sendall(data)
                passed += len(data)
        except OSError:
            pass
        finally:
            upstream.close()
            client.close()

    listener = socket.create_server(("127.0.0.1", listen_port))
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
