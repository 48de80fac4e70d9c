"""Through the proxy of the environment (Linux), as every other program on
the machine goes: tinyproxy on loopback in front of an origin that refuses
whatever did not come through it. Plain and signed-hashed releases, https
through the proxy's tunnel, Basic credentials in the variable, a proxy that
is down, and no_proxy."""
import shutil

from harness import check, unused_port, write_tree
from test_faults import (LIST_FAILED, NEW_DATA, conclude, done, each, new_release, prepare, start,
                         updated_files)
from tinyproxy import VIA_REQUIRED
from tls_ca import TestCA


def packed_release(h):
    packed = write_tree(h.dir("packed"), {n.replace("\\", "/"): b
                                          for n, b in new_release(h).items()})
    h.pack(packed, "6.3")
    www = h.dir("www")
    shutil.copytree(packed, www / "rel")
    return www


def test_through_the_environments_proxy(h):
    """http_proxy reaches the origin; no_proxy naming it goes direct, which
    the origin refuses; a staged half of data.dll is resumed through the
    proxy; https goes through the proxy's tunnel."""
    if h.windows:
        return
    www = packed_release(h)
    origin = h.nginx(www, VIA_REQUIRED)
    ca = TestCA(h.dir("ca"))
    ca.trust(h)
    secure = h.nginx(www, tls=ca.server())
    proxy = h.proxy()
    half = len(NEW_DATA) // 2

    def one(case, url, variables, box):
        app = prepare(h)
        if box == done():
            (app / "data.dll.update-part").write_bytes(NEW_DATA[:half])
        h.env.update(variables)
        try:
            run = start(h, app, url + "/rel/")
            conclude(h, case, run, app, [box], updated_files(h, h.before) if box == done() else None)
        finally:
            for name in variables:
                h.env.pop(name, None)
    via = {"http_proxy": f"http://{proxy.address}"}
    each(h, [("through http_proxy, a staged file resumed", origin.base, via, done()),
             ("no_proxy names the origin: direct, refused by it", origin.base,
              dict(via, no_proxy="127.0.0.1"), LIST_FAILED + "HTTP/1.1 403 Forbidden"),
             ("https through the proxy's tunnel", secure.base,
              {"https_proxy": f"http://{proxy.address}"}, done())], one)
    sent = [(row[2], row[3]) for row in origin.log() if row[4] == "/rel/data.dll"]
    check(sent == [(206, len(NEW_DATA) - half)], f"the origin sent for data.dll: {sent}")
    check(f"CONNECT localhost:{secure.port}" in proxy.log(), "no tunnel in the proxy's log")


def test_proxy_credentials_and_a_proxy_that_is_down(h):
    """Basic credentials carried in the variable are sent when the proxy asks;
    without them the proxy's 407 is the box, naming it; so is a proxy that
    refuses the connection."""
    if h.windows:
        return
    www = packed_release(h)
    origin = h.nginx(www, VIA_REQUIRED)
    proxy = h.proxy("updater", "s3cret")
    down = f"127.0.0.1:{unused_port()}"

    def one(case, address, box):
        app = prepare(h)
        h.env["http_proxy"] = f"http://{address}"
        try:
            run = start(h, app, origin.base + "/rel/")
            conclude(h, case, run, app, [box], updated_files(h, h.before) if box == done() else None)
        finally:
            h.env.pop("http_proxy", None)
    each(h, [("proxy credentials in http_proxy", f"updater:s3cret@{proxy.address}", done()),
             ("proxy asks for credentials, none set", proxy.address,
              LIST_FAILED + f"HTTP/1.0 407 Proxy Authentication Required\r\nProxy: {proxy.address}"),
             ("proxy down", down,
              LIST_FAILED + f"Socket Error # 10061\r\nConnection refused.\r\nProxy: {down}")], one)
