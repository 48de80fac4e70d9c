"""Releases over HTTPS from nginx with a certificate authority of the test's
own: an update whose file is redirected to a second host (a CDN) and resumed
there; a list that is not checked is not redirected; certificates that must
not be trusted; and no way back from https to http."""
from harness import check
from test_faults import (LIST_FAILED, NEW_DATA, TRANSFER_FAILED, conclude, done, each,
                         packed_release, prepare, start, updated_files)
from tls_ca import TestCA


def moved(path: str, to: str) -> str:
    return f"location = {path} {{ return 302 {to}; }}"


def test_update_over_https_with_a_file_on_another_host(h):
    """data.dll is sent on to a second host, which refuses any request that
    carries a cookie: the update server's cookie stays with it. Half of
    data.dll was staged by an earlier run: the second host sends the rest."""
    ca = TestCA(h.dir("ca"))
    ca.trust(h)
    www = packed_release(h)
    cdn = h.nginx(www, "if ($http_cookie) { return 403; }", tls=ca.server())
    cdn_data = cdn.base.replace("localhost", "127.0.0.1") + "/rel/data.dll"
    origin = h.nginx(www, 'add_header Set-Cookie "session=1; Path=/" always; ' +
                     moved("/rel/data.dll", cdn_data), tls=(ca.dir / "good.pem", ca.dir / "good.key"))
    app = prepare(h)
    half = len(NEW_DATA) // 2
    (app / "data.dll.update-part").write_bytes(NEW_DATA[:half])
    run = start(h, app, origin.base + "/rel/")
    conclude(h, "update over https, a file redirected to another host", run, app, [done()],
             updated_files(h, h.before))
    sent = [(row[2], row[3]) for row in cdn.log() if row[4] == "/rel/data.dll"]
    check(sent == [(206, len(NEW_DATA) - half)], f"the second host sent {sent}")


def test_unchecked_list_and_plain_http_are_not_redirected_to(h):
    """An unsigned update.ini is not checked: its redirect is the error it
    always was. A checked file is never sent from https to http."""
    ca = TestCA(h.dir("ca"))
    ca.trust(h)
    www = packed_release(h)
    plain = h.nginx(www)
    tls = ca.server()

    def one(case, extra, box):
        app = prepare(h)
        origin = h.nginx(www, extra, tls=tls)
        run = start(h, app, origin.base + "/rel/")
        conclude(h, case, run, app, [box])
    to_http = plain.base + "/rel/data.dll"
    each(h, [("update.ini redirected, unsigned build", moved("/rel/update.ini", plain.base),
              LIST_FAILED + "HTTP/1.1 302 Moved Temporarily"),
             ("checked file redirected from https to http", moved("/rel/data.dll", to_http),
              TRANSFER_FAILED + f"Redirect from https to http refused ({to_http})")], one)


def test_certificates_not_to_be_trusted(h):
    """Each is a box naming the host and the reason; nothing is changed and
    the client starts as it is."""
    ca = TestCA(h.dir("ca"))
    ca.trust(h)
    www = packed_release(h)
    reasons = {"untrusted": ("its certificate is not trusted",
                             "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY 20",
                             "CERT_E_CHAINING 0x800B010A"),
               "expired": ("its certificate has expired or is not yet valid",
                           "X509_V_ERR_CERT_HAS_EXPIRED 10", "CERT_E_EXPIRED 0x800B0101"),
               "other-name": ("its certificate is for another host",
                              "X509_V_ERR_HOSTNAME_MISMATCH 62", "CERT_E_CN_NO_MATCH 0x800B010F")}

    def one(case, kind):
        app = prepare(h)
        origin = h.nginx(www, tls=ca.server(kind))
        run = start(h, app, origin.base + "/rel/")
        why, linux, windows = reasons[kind]
        conclude(h, case, run, app, [LIST_FAILED + "Cannot make a secure connection to localhost: "
                                     f"{why} ({windows if h.windows else linux})"])
    each(h, [(f"certificate {kind}", kind) for kind in reasons], one)
