"""A proxy that asks who the user is with NTLM, as the proxy of a Windows
domain does: a request without credentials gets "407" with
"Proxy-Authenticate: NTLM"; the client's negotiate message (type 1) gets a
challenge (type 2); the authenticate message (type 3) on the same
connection lets that connection through, and the proxy serves it a folder
whatever the host asked for. It checks the messages' form and notes the
user they name, not the password: there is no domain controller here to ask."""
from __future__ import annotations

import base64
import os
import socket
import struct
import threading
from pathlib import Path
from urllib.parse import urlsplit

SIGNATURE = b"NTLMSSP\0"
NEGOTIATE = SIGNATURE + struct.pack("<I", 1)
AUTHENTICATE = SIGNATURE + struct.pack("<I", 3)

# Unicode, target requested, NTLM, always sign, domain target, extended
# session security, target information, version, 128-bit and 56-bit keys.
CHALLENGE_FLAGS = (0x1 | 0x4 | 0x200 | 0x8000 | 0x10000 | 0x80000 | 0x800000 | 0x2000000 |
                   0x20000000 | 0x80000000)


def challenge_message() -> bytes:
    """A type 2 message of domain TESTDOMAIN, server PROXY, a fresh challenge."""
    domain = "TESTDOMAIN".encode("utf-16-le")
    server = "PROXY".encode("utf-16-le")
    info = (struct.pack("<HH", 2, len(domain)) + domain + struct.pack("<HH", 1, len(server)) +
            server + struct.pack("<HH", 0, 0))
    head = 56
    return (SIGNATURE + struct.pack("<I", 2) + struct.pack("<HHI", len(domain), len(domain), head) +
            struct.pack("<I", CHALLENGE_FLAGS) + os.urandom(8) + bytes(8) +
            struct.pack("<HHI", len(info), len(info), head + len(domain)) +
            bytes([6, 1, 0xB1, 0x1D, 0, 0, 0, 15]) + domain + info)


def logon_name(authenticate: bytes) -> str:
    """DOMAIN\\user as a type 3 message names them (Unicode, as negotiated)."""
    def field(at: int) -> str:
        length, _, offset = struct.unpack_from("<HHI", authenticate, at)
        return authenticate[offset:offset + length].decode("utf-16-le", "replace")
    try:
        return field(28) + "\\" + field(36)
    except struct.error:
        return "?"


class NtlmProxy:
    def __init__(self, root: Path, refuse: bool = False, scheme: str = "NTLM"):
        """refuse: the authenticate message is answered with another 407;
        scheme: the one the challenges name ("Negotiate": NTLM's messages in
        it, as a proxy gets them from a client without Kerberos)."""
        self.root = root
        self.refuse = refuse
        self.scheme = scheme
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.address = f"127.0.0.1:{self.port}"
        self.events: list[tuple[int, str]] = []  # (connection, what arrived), in order
        self.lock = threading.Lock()
        self.connections: list[socket.socket] = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _note(self, connection: int, what: str) -> None:
        with self.lock:
            self.events.append((connection, what))

    def _accept(self):
        number = 0
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            number += 1
            self.connections.append(conn)
            threading.Thread(target=self._serve, args=(conn, number), daemon=True).start()

    def _serve(self, conn: socket.socket, number: int):
        reader = conn.makefile("rb")
        through = False
        try:
            while True:
                lines = []
                while (line := reader.readline()) not in (b"\r\n", b"\n", b""):
                    lines.append(line.decode("latin-1").rstrip("\r\n"))
                if not lines:
                    return
                headers = {k.strip().lower(): v.strip()
                           for k, _, v in (h.partition(":") for h in lines[1:])}
                if not through:
                    answer = self._logon(number, headers.get("proxy-authorization", ""))
                    if answer is not None:
                        conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                     b"Proxy-Authenticate: " + answer.encode() +
                                     b"\r\nContent-Length: 0\r\n\r\n")
                        continue
                    through = True
                path = urlsplit(lines[0].split(" ")[1]).path
                self._note(number, "GET " + path)
                file = self.root / path.lstrip("/")
                if file.is_file():
                    body = file.read_bytes()
                    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
                else:
                    conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
        except OSError:
            pass
        finally:
            conn.close()

    def _logon(self, number: int, authorization: str) -> str | None:
        """The 407's challenge for this step of the exchange; None: let it through."""
        scheme, _, token = authorization.partition(" ")
        try:
            message = base64.b64decode(token, validate=True) if token else b""
        except ValueError:
            message = b""
        if scheme.lower() != self.scheme.lower() or not message:
            self._note(number, "no credentials")
            return self.scheme
        if message.startswith(NEGOTIATE):
            self._note(number, "negotiate")
            return self.scheme + " " + base64.b64encode(challenge_message()).decode()
        if message.startswith(AUTHENTICATE):
            self._note(number, "authenticate " + logon_name(message))
            return self.scheme if self.refuse else None
        self._note(number, "not an NTLM message")
        return self.scheme

    def close(self):
        self.listener.close()
        for conn in self.connections:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
