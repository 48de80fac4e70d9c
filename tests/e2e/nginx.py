"""Debian's nginx as a static release server on 127.0.0.1, with a
configuration of its own in a scratch directory: what any web server or CDN
does with a release folder. Used by the end-to-end tests and the benchmarks."""
from __future__ import annotations

import socket
import subprocess
import time
from pathlib import Path

from harness import complete_lines, unused_port

NGINX_CONF = """\
worker_processes 1;
daemon off;
master_process on;
user root;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log warn;
events {{ worker_connections 64; }}
http {{
  client_body_temp_path {tmp}/body;
  proxy_temp_path {tmp}/proxy;
  fastcgi_temp_path {tmp}/fastcgi;
  log_format timing '$msec $request_time $status $body_bytes_sent $request_uri';
  access_log {tmp}/access.log timing;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  keepalive_timeout 60s;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port}{ssl};
    root {root};
    {tls}
    {extra}
  }}
}}
"""


class Nginx:
    """Debian's nginx with a configuration of its own in a scratch directory."""

    def __init__(self, scratch: Path, root: Path, extra: str = "",
                 tls: tuple[Path, Path] | None = None):
        """extra: directives for the server block ("max_ranges 0;", say);
        tls: (certificate chain, key) to serve HTTPS with, as
        https://localhost:<port>."""
        self.tmp = scratch / "nginx"
        self.tmp.mkdir()
        self.port = unused_port()
        conf = self.tmp / "nginx.conf"
        # Over TLS nginx reads the file into its output buffers and encrypts
        # them; with its defaults (32 KiB buffers) it does not go back to its
        # event loop while the client keeps up, so its clock, and the log's
        # times, stand still for the whole response (a 1 GiB file logged as
        # taking 0 ms). 1 MiB buffers sent at most 512 KiB at a time bring it
        # back to the loop every half MiB, where it reads the clock again.
        tls_directives = ("ssl_certificate {}; ssl_certificate_key {}; "
                          "ssl_protocols TLSv1.2 TLSv1.3; "
                          "output_buffers 2 1m; sendfile_max_chunk 512k;".format(*tls)) if tls else ""
        conf.write_text(NGINX_CONF.format(tmp=self.tmp, port=self.port, root=root, extra=extra,
                                          ssl=" ssl" if tls else "", tls=tls_directives))
        self.proc = subprocess.Popen(["nginx", "-p", str(self.tmp), "-c", str(conf)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.base = f"https://localhost:{self.port}" if tls else f"http://127.0.0.1:{self.port}"
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.02)
        raise RuntimeError("nginx did not start: " + self.proc.stderr.read().decode())

    def log(self, start: int = 0) -> list[tuple[float, float, int, int, str]]:
        """(end time, request time, status, body bytes, path) of every request
        logged so far, from the byte offset start of the log (see log_size)."""
        rows = []
        # A line nginx is still writing is left for the next call.
        for line in complete_lines(self.tmp / "access.log", start):
            end, took, status, sent, uri = line.split(" ", 4)
            rows.append((float(end), float(took), int(status), int(sent), uri))
        return rows

    def log_size(self) -> int:
        """Where the next request's line will start in the log."""
        path = self.tmp / "access.log"
        return path.stat().st_size if path.exists() else 0

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
