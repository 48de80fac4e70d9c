"""The Windows TLS transport on its own, under wine against Debian's nginx:
the bytes of a response, each refused certificate with its reason, an old
protocol refused, and waits that count only whole records."""
import os
import socket
import threading
import time

from harness import check, run_captured, unused_port
from tls_ca import TestCA


def fetch(h, host, port, path):
    """(exit code, what tls_get printed, the response's bytes)."""
    out = h.root / "response.bin"
    out.unlink(missing_ok=True)
    probe = h.bin_dir / "tests" / "tls_get.exe"
    code, printed, _ = run_captured([h.wine, str(probe), host, str(port), path,
                                     h.native_path(out)], h.env, 120)
    return code, printed.decode("gbk", "replace").strip(), out.read_bytes() if out.exists() else b""


def body_of(response: bytes) -> bytes:
    return response[response.find(b"\r\n\r\n") + 4:]


def test_a_trusted_server_gives_the_exact_bytes_and_the_others_their_reasons(h):
    ca = TestCA(h.dir("ca"))
    h.trust_root(ca.pem)
    www = h.dir("www")
    data = os.urandom(3 * 1024 * 1024 + 12345)  # many records, the last one short
    (www / "big.bin").write_bytes(data)
    ports = {kind: h.nginx(www, tls=ca.server(kind)).port
             for kind in ("good", "expired", "other-name", "untrusted")}
    old_port = unused_port()
    h.nginx(www, f"listen 127.0.0.1:{old_port} ssl; ssl_certificate {ca.dir / 'good.pem'}; "
                 f"ssl_certificate_key {ca.dir / 'good.key'}; ssl_protocols TLSv1 TLSv1.1; "
                 "ssl_ciphers DEFAULT@SECLEVEL=0;")
    wrong_name = ("its certificate is for another host", "CERT_E_CN_NO_MATCH 0x800B010F")
    refused = [  # host, server, why, code
        ("localhost", "expired", "its certificate has expired or is not yet valid",
         "CERT_E_EXPIRED 0x800B0101"),
        ("localhost", "other-name", *wrong_name),
        ("127.0.0.1", "other-name", *wrong_name),  # an address is not taken for any name
        # The issuer is in no store: the chain stops short of a root.
        ("localhost", "untrusted", "its certificate is not trusted", "CERT_E_CHAINING 0x800B010A"),
    ]
    for host in ("localhost", "127.0.0.1"):  # a name and an address of the certificate
        code, printed, response = fetch(h, host, ports["good"], "/big.bin")
        check(code == 0 and printed.startswith("ok "), f"good server: {code} {printed!r}")
        check(response.startswith(b"HTTP/1.1 200 ") and body_of(response) == data,
              f"{len(response)} bytes of response for {len(data)}")
    for host, kind, why, system_code in refused:
        code, printed, _ = fetch(h, host, ports[kind], "/big.bin")
        check(code == 3 and printed == f"Cannot make a secure connection to {host}: {why} "
              f"({system_code})", f"{kind} as {host}: {code} {printed!r}")
    code, printed, _ = fetch(h, "localhost", old_port, "/big.bin")
    check(code == 3 and printed.endswith("the secure handshake failed "
                                         "(SEC_E_ALGORITHM_MISMATCH 0x80090331)"),
          f"TLS 1.1 server: {code} {printed!r}")


class PausingRelay:
    """Passes a TCP connection on to a server, but sends the first large record
    the server sends (at least 8 KiB: a record of the body) in two halves,
    `pause` seconds apart."""

    def __init__(self, port: int, pause: float):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.target, self.pause = port, pause
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        client, _ = self.listener.accept()
        server = socket.create_connection(("127.0.0.1", self.target))
        threading.Thread(target=self._pump, args=(client, server), daemon=True).start()
        pending, paused = b"", False
        while chunk := server.recv(65536):
            pending += chunk
            while len(pending) >= 5:
                size = 5 + int.from_bytes(pending[3:5], "big")
                if len(pending) < size:
                    break
                record, pending = pending[:size], pending[size:]
                if not paused and size >= 8192:
                    paused = True
                    client.sendall(record[: size // 2])
                    time.sleep(self.pause)
                    record = record[size // 2:]
                client.sendall(record)
        client.sendall(pending)
        # The other direction's thread still reads the socket: shut down, so
        # that the end reaches the client now.
        client.shutdown(socket.SHUT_RDWR)

    @staticmethod
    def _pump(source, target):
        while chunk := source.recv(65536):
            target.sendall(chunk)


def test_a_record_cut_in_two_is_readable_only_when_whole(h):
    """The client's silence rule waits with waitReadable and then reads: half
    a record must not count as readable, or the read would hang in the pause."""
    ca = TestCA(h.dir("ca"))
    h.trust_root(ca.pem)
    www = h.dir("www")
    data = os.urandom(256 * 1024)
    (www / "file.bin").write_bytes(data)
    relay = PausingRelay(h.nginx(www, tls=ca.server()).port, 2.0)
    code, printed, response = fetch(h, "localhost", relay.port, "/file.bin")
    check(code == 0 and body_of(response) == data, f"{code} {printed!r}, {len(response)} bytes")
    refusals, longest_read_ms = map(int, printed.split()[1:])
    # 100 ms waits through a 2 s pause: about twenty said no; no read waited.
    check(refusals >= 10 and longest_read_ms < 1000,
          f"{refusals} waits said no, the longest read took {longest_read_ms} ms")
