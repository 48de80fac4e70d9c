"""Through the system's proxy, as every other program on the machine goes:
tinyproxy on loopback in front of an origin that refuses whatever did not
come through it. On Linux the environment: plain and signed-hashed
releases, https through the proxy's tunnel, Basic credentials in the
variable, a proxy that is down, and no_proxy. On Windows the settings in
the wine prefix's registry as WinHTTP reads them (the user's fixed proxy and
bypass list, a proxy script, the machine's setting), and a proxy that asks
for the user's NTLM logon."""
from harness import check, unused_port
from test_faults import (LIST_FAILED, NEW_DATA, conclude, done, each, packed_release, prepare,
                         start, updated_files)
from tinyproxy import VIA_REQUIRED
from tls_ca import TestCA


def servers(h):
    """The release's folder; the origin that refuses what did not come
    through the proxy; the same release over HTTPS (its authority trusted);
    the proxy."""
    www = packed_release(h)
    ca = TestCA(h.dir("ca"))
    ca.trust(h)
    return www, h.nginx(www, VIA_REQUIRED), h.nginx(www, tls=ca.server()), h.proxy()


def test_through_the_environments_proxy(h):
    """http_proxy reaches the origin; no_proxy naming it goes direct, which
    the origin refuses; a staged half of data.dll is resumed through the
    proxy; https goes through the proxy's tunnel."""
    if h.windows:
        return
    _, origin, secure, proxy = servers(h)
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


PAC = """function FindProxyForURL(url, host) {
  return "PROXY %s";
}
"""


def test_through_the_systems_proxy_settings(h):
    """The Windows settings as WinHTTP reads them: the user's fixed proxy
    per scheme (https through its tunnel too), its bypass list naming the
    origin (direct, which the origin refuses), a proxy script at a URL,
    detection that finds nothing with a fixed proxy beside it, and the
    machine's setting where the user has none."""
    if not h.windows:
        return
    _, origin, secure, proxy = servers(h)
    scripts = h.dir("pac")
    (scripts / "proxy.pac").write_text(PAC % proxy.address)
    script_server = h.nginx(scripts)

    def one(case, url, user, machine, box):
        app = prepare(h)
        h.set_proxy_settings(user, machine)
        run = start(h, app, url + "/rel/")
        conclude(h, case, run, app, [box], updated_files(h, h.before) if box == done() else None)
    fixed = {"proxy": f"http={proxy.address};https={proxy.address}"}
    each(h, [("the user's fixed proxy", origin.base, fixed, None, done()),
             ("https through the user's proxy's tunnel", secure.base, fixed, None, done()),
             ("the user's bypass list names the origin: direct, refused by it", origin.base,
              dict(fixed, bypass="<local>;127.0.0.*"), None, LIST_FAILED + "HTTP/1.1 403 Forbidden"),
             ("the user's proxy script", origin.base,
              {"script": script_server.base + "/proxy.pac"}, None, done()),
             ("detection finds no script: the user's fixed proxy", origin.base,
              {"detect": True, "proxy": proxy.address}, None, done()),
             ("the machine's setting, none of the user's", origin.base, None, (proxy.address, ""),
              done())],
         one)
    fetched = [row[2] for row in script_server.log() if row[4] == "/proxy.pac"]
    check(fetched and set(fetched) == {200}, f"the proxy script was fetched with {fetched}")
    check(f"CONNECT localhost:{secure.port}" in proxy.log(), "no tunnel in the proxy's log")


def test_a_proxy_that_asks_for_the_users_logon(h):
    """NTLM as the logged-on user, asked for as NTLM or Negotiate: negotiate
    and authenticate messages on one connection, after the proxy's
    challenge, let the update through a proxy that alone reaches the server;
    a proxy that refuses the logon is the box, naming it. The user's logon
    for the proxy is one saved in the credential manager, which the system's
    NTLM takes before the session's own (a wine session has no domain logon
    to offer)."""
    if not h.windows:
        return
    from ntlm_proxy import NtlmProxy
    www = packed_release(h)

    def one(case, scheme, refuse, box):
        proxy = NtlmProxy(www, refuse, scheme)
        h.servers.append(proxy)
        app = prepare(h)
        h.set_proxy_settings({"proxy": proxy.address})
        if not h.credentials:
            h.save_credential("127.0.0.1", "TESTDOMAIN\\updater", "s3cret")
        # A host that no name service knows: only the proxy reaches it.
        run = start(h, app, "http://update.invalid/rel/")
        conclude(h, case, run, app,
                 [box.format(proxy=proxy.address)],
                 updated_files(h, h.before) if box == done() else None)
        logon = [event for event in proxy.events if not event[1].startswith("GET")]
        first = logon[0][0] if logon else None
        check([(c, what.lower()) for c, what in logon[:3]] ==
              [(first, "no credentials"), (first, "negotiate"),
               (first, "authenticate testdomain\\updater")],
              f"the logon as the proxy saw it: {logon}")
        served = [event for event in proxy.events if event[1] == "GET /rel/update.ini"]
        check(bool(served) != refuse, f"update.ini served: {served}")
    each(h, [("NTLM logon of the user", "NTLM", False, done()),
             ("Negotiate logon of the user, without Kerberos", "Negotiate", False, done()),
             ("NTLM logon refused", "NTLM", True,
              LIST_FAILED + "HTTP/1.1 407 Proxy Authentication Required\r\nProxy: {proxy}")], one)
