"""Patches and compressed copies end to end: releases packed by the
publisher's tool with --delta-from and --compress (signed for the build that
pins the test key, and unsigned), served by nginx. Each case ends with the
installation byte for byte the release, or untouched with its box where the
plain file fails too; each leaves a row in fault-matrix-delta.tsv in the
build directory, which scripts/test prints with the fault matrix."""
import random
import shutil

from harness import check, write_tree
from test_faults import (KEYS, OLD, TRANSFER_FAILED, conclude, done, each, install, installed,
                         prepare, remembered, signed_updater, start)


def code_like(seed: int, size: int) -> bytes:
    """Bytes with the shape of machine code: short repeated patterns with
    addresses in them, not compressible to nothing."""
    rnd = random.Random(seed)
    words = [rnd.randbytes(rnd.randint(2, 7)) for _ in range(300)]
    out = bytearray()
    while len(out) < size:
        out += rnd.choice(words) + rnd.randrange(1 << 16).to_bytes(4, "little")
    return bytes(out[:size])


def releases(h):
    """The installed release (as prepare() installs it, with a larger
    data.dll) and the new one: data.dll changed in a few places (a patch),
    text.txt new and compressible (a copy), sub/x.dll new and tiny."""
    old_data = code_like(1, 300_000)
    new_data = bytearray(old_data)
    new_data[1000:1000] = b"inserted code " * 20
    new_data[150_000:150_010] = b"0123456789"
    v1 = {"client.exe": h.client("6.2.0.1"), "data.dll": old_data, "sub/x.dll": OLD["sub/x.dll"]}
    v2 = {"client.exe": h.client("6.3.0.0"), "data.dll": bytes(new_data), "sub/x.dll": b"new x",
          "text.txt": b"release notes, line after line\r\n" * 3000}
    return v1, v2


def test_patches_and_compressed_copies(h):
    key = h.native_path(KEYS / "test-release.key")
    v1, v2 = releases(h)
    old = write_tree(h.dir("v1"), v1)
    packed = {}
    for variant, extra in (("signed", ["--compress", "--sign", key]), ("plain", ["--compress"]),
                           ("patches only", [])):
        folder = write_tree(h.dir("packed-" + variant.replace(" ", "-")), v2)
        h.pack(folder, "6.3", "--delta-from", h.native_path(old), *extra)
        packed[variant] = folder
    ini = (packed["plain"] / "update.ini").read_text("latin-1")
    keys = dict(line.split("=", 1) for line in ini.splitlines() if "=" in line)
    number = {v: k[4:] for k, v in keys.items() if k.startswith("File")}
    patch = keys.get(f"Patch{number['data.dll']}.1")
    copy = keys.get(f"Copy{number['text.txt']}")
    check(patch and copy, f"pack listed no patch for data.dll or no copy for text.txt: {ini}")
    www = h.dir("www")
    nginx = h.nginx(www)
    updated = lambda: {**h.before, **v2}  # noqa: E731

    def one(case, variant, change, fetched, not_fetched, boxes=None):
        app = prepare(h)
        (app / "data.dll").write_bytes(v1["data.dll"])
        h.before = installed(app)
        shutil.rmtree(www / "rel", ignore_errors=True)
        shutil.copytree(packed[variant], www / "rel")
        if change:
            change(app, www / "rel")
        before = len(nginx.log())
        exe = signed_updater(h, app) if variant == "signed" else None
        run = start(h, app, nginx.base + "/rel/", exe=exe)
        boxes = boxes or [done()]
        expected = None
        if boxes == [done()]:
            expected = {**updated(), **(remembered(www / "rel") if variant == "signed" else {})}
        conclude(h, case, run, app, boxes, expected, table="fault-matrix-delta.tsv")
        asked = [row[4][len("/rel/"):] for row in nginx.log()[before:]]
        for name in fetched:
            check(name in asked, f"{name} not fetched: {asked}")
        for name in not_fetched:
            check(name not in asked, f"{name} fetched: {asked}")

    def server_edit(path, edit):
        return lambda app, rel: (rel / path).write_bytes(edit((rel / path).read_bytes()))

    def gone(*paths):
        return lambda app, rel: [(rel / p).unlink() for p in paths]

    def patch_is_the_copy(app, rel):
        # A "patch" with the right size and hash that is not a patch at all.
        text = (rel / "update.ini").read_bytes()
        n = number["data.dll"]
        text = text.replace(f"Patch{n}.1={patch}".encode(), f"Patch{n}.1={copy}".encode())
        for key in ("Size", "Hash"):
            text = text.replace(f"Patch{key}{n}.1={keys[f'Patch{key}{n}.1']}".encode(),
                                f"Patch{key}{n}.1={keys[f'Copy{key}' + number['text.txt']]}".encode())
        (rel / "update.ini").write_bytes(text)

    user_changed = lambda app, rel: (app / "data.dll").write_bytes(b"changed by the user")  # noqa
    each(h, [
        ("patch and compressed copy (signed list)", "signed", None, [patch, copy],
         ["data.dll", "text.txt"]),
        ("patch and compressed copy", "plain", None, [patch, copy], ["data.dll", "text.txt"]),
        ("installed file the user changed: plain file", "patches only", user_changed,
         ["data.dll"], [patch]),
        ("patch missing on the server (404): plain file", "plain", gone(patch),
         [patch, "data.dll"], []),
        ("patch altered on the server: plain file", "plain",
         server_edit(patch, lambda b: b[:-1] + bytes([b[-1] ^ 1])), [patch, "data.dll"], []),
        ("patch that does not apply: plain file", "plain", patch_is_the_copy,
         ["data.dll"], []),
        ("compressed copy cut short on the server: plain file", "plain",
         server_edit(copy, lambda b: b[: len(b) // 2]), [copy, "text.txt"], []),
        ("patch and plain file missing on the server", "plain", gone(patch, "data.dll"),
         [patch, "data.dll"], [], [TRANSFER_FAILED + "HTTP/1.1 404 Not Found"]),
    ], one)
