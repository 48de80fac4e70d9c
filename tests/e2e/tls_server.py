"""TLS for the end-to-end tests: a certification authority of the test's own
made with openssl (a server certificate for localhost and 127.0.0.1, an
expired one, one for another name and a self-signed one), Debian's nginx
serving with one of them (trusted through Harness.trust_root)."""
from __future__ import annotations

import subprocess
from pathlib import Path

from harness import unused_port

CA_CONFIG = """\
[ca]
default_ca = test
[test]
database = {dir}/index.txt
serial = {dir}/serial
new_certs_dir = {dir}
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
"""


def _openssl(*args: str) -> None:
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_pki(directory: Path) -> dict[str, tuple[Path, Path]]:
    """Certificates and keys by name: "good" (localhost and 127.0.0.1 of the
    test's authority), "expired" (the same names, valid only in 2020), "other"
    (another name), "self" (self-signed for localhost). The authority itself
    is "ca"."""
    d = directory
    d.mkdir(parents=True, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    # An RSA authority: wine's chain check once refused an ECDSA signature
    # of a valid certificate (TRUST_E_CERT_SIGNATURE) under the 32-bit loader.
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(d / "ca.key"),
             "-out", str(d / "ca.pem"),
             "-days", "30", "-subj", "/CN=Updater Test Authority",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    _openssl("req", "-x509", *ec, "-keyout", str(d / "self.key"), "-out", str(d / "self.pem"),
             "-days", "30", "-subj", "/CN=localhost",
             "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
    db = d / "db"
    db.mkdir()
    (db / "index.txt").write_text("")
    (db / "serial").write_text("1000\n")
    (d / "ca.cnf").write_text(CA_CONFIG.format(dir=db))
    names = {"good": ("DNS:localhost,IP:127.0.0.1", ["-days", "30"]),
             "expired": ("DNS:localhost,IP:127.0.0.1",
                         ["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"]),
             "other": ("DNS:other.invalid", ["-days", "30"])}
    for name, (alt, validity) in names.items():
        (d / f"{name}.ext").write_text(f"subjectAltName={alt}\nextendedKeyUsage=serverAuth\n"
                                       "basicConstraints=CA:FALSE\n")
        _openssl("req", *ec, "-keyout", str(d / f"{name}.key"), "-out", str(d / f"{name}.csr"),
                 "-subj", f"/CN={name}")
        _openssl("ca", "-batch", "-config", str(d / "ca.cnf"), "-cert", str(d / "ca.pem"),
                 "-keyfile", str(d / "ca.key"), "-in", str(d / f"{name}.csr"),
                 "-out", str(d / f"{name}.pem"), "-extfile", str(d / f"{name}.ext"), "-notext",
                 *validity)
    return {name: (d / f"{name}.pem", d / f"{name}.key") for name in ["ca", "self", *names]}


def tls_nginx(h, root: Path, certificate: tuple[Path, Path], directives: str = ""):
    """nginx serving root over TLS with that certificate (and over plain HTTP
    on server.port); returns (server, TLS port)."""
    port = unused_port()
    cert, key = certificate
    server = h.nginx(root, f"listen 127.0.0.1:{port} ssl; ssl_certificate {cert}; "
                           f"ssl_certificate_key {key}; {directives}")
    return server, port
