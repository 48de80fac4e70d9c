"""A certificate authority of the test's own, made with openssl, and the
server certificates the HTTPS tests serve: trusted only by the updater the
test starts (SSL_CERT_FILE on Linux, the Root store of the test's own wine
prefix on Windows), never by the machine."""
from __future__ import annotations

import subprocess
from pathlib import Path

from harness import Failure

NAMES = "subjectAltName=DNS:localhost,IP:127.0.0.1\n"


def _openssl(*args: str, cwd: Path) -> None:
    done = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, text=True)
    if done.returncode:
        raise Failure(f"openssl {args[0]} failed: {done.stderr[-500:]}")


class TestCA:
    """ca.pem, a root; server(kind) -> (chain, key) for nginx, where kind is
    "good" (localhost and 127.0.0.1), "expired", "other-name" (a name that is
    not the server's) or "untrusted" (signed by a root nobody trusts)."""

    def __init__(self, directory: Path):
        self.dir = directory
        self.dir.mkdir(parents=True, exist_ok=True)
        self._root("ca")
        self._root("stranger")
        self.pem = self.dir / "ca.pem"

    def _root(self, name: str) -> None:
        # RSA roots: wine's chain check once refused a valid certificate's
        # ECDSA signature (TRUST_E_CERT_SIGNATURE) under the 32-bit loader.
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key",
                 "-out", f"{name}.pem", "-subj", f"/CN=Updater test {name}", "-days", "2",
                 cwd=self.dir)

    def server(self, kind: str = "good") -> tuple[Path, Path]:
        names = "subjectAltName=DNS:other.invalid\n" if kind == "other-name" else NAMES
        issuer = "stranger" if kind == "untrusted" else "ca"
        days = "-1" if kind == "expired" else "2"  # -1: valid until yesterday
        (self.dir / f"{kind}.ext").write_text(names)
        _openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                 "-keyout", f"{kind}.key", "-out", f"{kind}.csr", "-subj", "/CN=localhost",
                 cwd=self.dir)
        _openssl("x509", "-req", "-in", f"{kind}.csr", "-CA", f"{issuer}.pem", "-CAkey",
                 f"{issuer}.key", "-CAcreateserial", "-days", days, "-extfile", f"{kind}.ext",
                 "-out", f"{kind}.pem", cwd=self.dir)
        return self.dir / f"{kind}.pem", self.dir / f"{kind}.key"

    def trust(self, h) -> None:
        """The root trusted by the updaters this test starts, and nothing else."""
        if h.windows:
            h.trust_root(self.pem)
        else:
            h.env["SSL_CERT_FILE"] = str(self.pem)
