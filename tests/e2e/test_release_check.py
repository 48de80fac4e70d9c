"""updater-release check against a signed release that nginx serves over
https with the test's own certificate authority: what it prints and its exit
code for a release as packed, a file changed or missing on the server, a
signature that does not match, a file that the server sends on to a second
host, and an unsigned list that is sent on (refused, as the updater refuses it)."""
import hashlib
import random
import shutil

from harness import check, write_tree
from test_faults import KEYS
from test_https import moved
from tls_ca import TestCA

CLIENT = random.Random(1).randbytes(100000)  # no compressed copy: it does not compress
DATA = b"a line of the client's data\n" * 4000


def listed(name: str, body: bytes) -> str:
    return f"{name}: listed {len(body)} bytes sha256:{hashlib.sha256(body).hexdigest()}"


def served(body: bytes) -> str:
    return f"served {len(body)} bytes sha256:{hashlib.sha256(body).hexdigest()}"


def test_check_says_per_file_what_is_listed_and_served(h):
    ca = TestCA(h.dir("ca"))
    ca.trust(h)
    packed = write_tree(h.dir("packed"), {"client.exe": CLIENT, "data/data.dll": DATA})
    h.pack(packed, "6.3", "--compress", "--sign", h.native_path(KEYS / "test-release.key"))
    tls = ca.server()
    original = h.dir("original")
    shutil.copytree(packed, original / "rel")
    cdn = h.nginx(original, tls=tls)
    cdn_data = cdn.base.replace("localhost", "127.0.0.1") + "/rel/data/data.dll"
    changed = DATA.replace(b"line", b"LINE", 1)
    key = ["-p", h.native_path(KEYS / "test-release.pub")]

    def edit(name: str, body: bytes | None):
        def change(rel):
            if body is None:
                (rel / name).unlink()
            else:
                (rel / name).write_bytes(body)
        return change

    def unchanged(_):
        pass

    # case, change to the served folder, nginx directives, options, exit code, lines printed
    cases = [
        ("as packed", unchanged, "", key, 0,
         ["ok   update.ini is signed by key ",
          "ok   " + listed("client.exe", CLIENT) + ", " + served(CLIENT) + "\n",
          "ok   " + listed("data\\data.dll", DATA) + ", " + served(DATA) + "\n",
          "ok   data\\data.dll: compressed copy delta/",
          "2 of 2 listed files are served as listed (version 6.3)\n",
          "1 of 1 patches and compressed copies are served as listed\n"]),
        ("a file changed", edit("data/data.dll", changed), "", key, 1,
         ["FAIL " + listed("data\\data.dll", DATA) + ", " + served(changed) + "\n",
          "1 of 2 listed files are served as listed"]),
        ("a file missing", edit("client.exe", None), "", key, 1,
         ["FAIL " + listed("client.exe", CLIENT) + ", not served: HTTP/1.1 404 Not Found\n"]),
        ("a list that its signature does not match",
         edit("update.ini", (packed / "update.ini").read_bytes() + b"\r\n"), "", key, 1,
         ["FAIL Invalid signature on update.ini\n"]),
        ("a file sent on to another host", unchanged, moved("/rel/data/data.dll", cdn_data), [], 0,
         ["ok   " + listed("data\\data.dll", DATA) + ", " + served(DATA) +
          f", redirected to {cdn_data}\n", "no signature was checked"]),
        ("an unsigned list sent on", unchanged, moved("/rel/update.ini", cdn.base), [], 1,
         ["FAIL update.ini: not served: HTTP/1.1 302 Moved Temporarily\n"]),
    ]
    failures = []
    for number, (case, change, extra, options, code, lines) in enumerate(cases):
        www = h.dir(f"www{number}")
        shutil.copytree(packed, www / "rel")
        change(www / "rel")
        origin = h.nginx(www, extra, tls=tls)
        got, out, err = h.release_tool("check", origin.base + "/rel/", *options)
        out = out.replace("\r\n", "\n")  # the Windows tool's console lines
        missing = [line for line in lines if line not in out]
        if got != code or missing:
            failures.append(f"{case}: exit code {got}, lacks {missing}:\n{out}{err}")
    check(not failures, "\n".join(failures))
