#!/usr/bin/env python3
"""What TLS costs a download in the Windows build's transport: one large file
from nginx on 127.0.0.1 fetched under wine64 by tests' tls_get, over the TLS
transport and over the plain socket transport, in interleaved pairs. Prints
the medians (and ranges) of the client's CPU time and wall time of each, and
the CPU time TLS adds per GiB. The decryption itself is the system's (wine's
Schannel, through gnutls, here); the transport's own share is one copy of
each byte into the caller's buffer."""
from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from harness import Display, Harness  # noqa: E402
from tls_ca import TestCA  # noqa: E402


def fetch(h, args) -> tuple[float, float]:
    """(wall seconds, CPU seconds of the client process)."""
    probe = h.bin_dir / "tests" / "tls_get.exe"
    start = time.monotonic()
    proc = subprocess.Popen([h.wine, str(probe), *args], env=h.env, stdout=subprocess.PIPE)
    printed = proc.stdout.read().decode(errors="replace")
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0 or not printed.startswith("ok"):
        raise SystemExit(f"tls_get {args}: {printed!r}")
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", type=Path, default=ROOT / "build" / "win64")
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    display = Display()
    h = Harness("win64", options.bin_dir.resolve(), display)
    www = Path("/dev/shm") / f"tls-bench-{os.getpid()}"
    try:
        www.mkdir()
        with open(www / "file.bin", "wb") as out:
            for _ in range(options.mib):
                out.write(os.urandom(1 << 20))
        ca = TestCA(h.dir("ca"))
        plain, tls = h.nginx(www), h.nginx(www, tls=ca.server())
        sink = "Z:\\dev\\null"
        runs = {"plain": [], "tls": []}
        h.trust_root(ca.pem)
        for _ in range(options.runs):
            runs["plain"].append(fetch(h, ["127.0.0.1", str(plain.port), "/file.bin", sink, "plain"]))
            runs["tls"].append(fetch(h, ["localhost", str(tls.port), "/file.bin", sink]))
    finally:
        h.close()
        display.close()
        subprocess.run(["rm", "-rf", str(www)])
    medians = {}
    for name, figures in runs.items():
        wall = [w for w, _ in figures]
        cpu = [c for _, c in figures]
        medians[name] = statistics.median(cpu)
        print(f"{name:6} cpu {medians[name]:.2f} s ({min(cpu):.2f}-{max(cpu):.2f}), "
              f"wall {statistics.median(wall):.2f} s ({min(wall):.2f}-{max(wall):.2f})")
    print(f"TLS adds {(medians['tls'] - medians['plain']) * 1024 / options.mib:.2f} s of CPU per GiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
