"""Debian's tinyproxy on 127.0.0.1 with a configuration of its own: the
proxy of an organisation's network, for the tests. It adds a Via header to
what it forwards, which the tests' origin server demands, so that a request
that did not come through the proxy cannot pass."""
from __future__ import annotations

import socket
import subprocess
import time
from pathlib import Path

from harness import Failure, unused_port

CONF = """\
Port {port}
Listen 127.0.0.1
Timeout 60
LogFile "{tmp}/tinyproxy.log"
LogLevel Connect
MaxClients 20
ViaProxyName "testproxy"
{auth}
"""

# The origin's directive (nginx, server block) that refuses what came direct.
VIA_REQUIRED = 'if ($http_via !~ "testproxy") { return 403; }'


class TinyProxy:
    def __init__(self, scratch: Path, user: str | None = None, password: str | None = None):
        self.tmp = scratch
        self.tmp.mkdir(parents=True, exist_ok=True)
        self.port = unused_port()
        conf = self.tmp / "tinyproxy.conf"
        auth = f"BasicAuth {user} {password}" if user else ""
        conf.write_text(CONF.format(port=self.port, tmp=self.tmp, auth=auth))
        self.proc = subprocess.Popen(["tinyproxy", "-d", "-c", str(conf)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.address = f"127.0.0.1:{self.port}"
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.02)
        raise Failure("tinyproxy did not start: " + self.proc.stderr.read().decode())

    def log(self) -> str:
        path = self.tmp / "tinyproxy.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
