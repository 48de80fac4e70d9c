"""Faults of the network, the server and the file system during whole update
runs on the real binary. Each case checks every box the user reads, that the
program ends, and what is left of the installation; each also leaves one row
(case, build, boxes seen, installation intact) in fault-matrix.tsv in the
build directory, which scripts/test prints for every build."""
import random
import re
import shutil
import subprocess
import time
from pathlib import Path

from harness import TIME_SCALE, Failure, Running, check, eventually, tree, unused_port, write_tree

LIST_FAILED = "获取升级配置文件失败，请梢候重试\r\r"
TRANSFER_FAILED = "升级过程中出现了错误了,错误信息如下：\r\r"
CLOSED = "Connection Closed Gracefully."


def done(version="6.3"):
    return f"恭喜，你现在已经成功升级到新版本 {version} 了！"


OLD = {"data.dll": b"old data " * 1000, "sub/x.dll": b"old x", "readme.txt": b"not in the release"}
NEW_DATA = b"new data " * 2000

# ---------------------------------------------------------------------------
# The matrix file: rewritten by the first case of a run, one row per case.

_started: set = set()


def _escape(text: str) -> str:
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


def record(h, case: str, boxes: list, intact: str, table: str = "fault-matrix.tsv") -> None:
    path = h.bin_dir / table
    mode = "a" if path in _started else "w"
    _started.add(path)
    seen = " || ".join(_escape(b) for b in boxes) if boxes else "(no box)"
    with path.open(mode, encoding="utf-8") as out:
        out.write(f"{case}\t{h.build}\t{seen}\t{intact}\n")


# ---------------------------------------------------------------------------
# An installation of the old release, started the way the client starts the
# updater: as file.exe, from the installation directory.

def install(h, app: Path | None = None) -> Path:
    app = app or h.dir("app")
    (app / "sub").mkdir(exist_ok=True)
    (app / "client.exe").write_bytes(h.client("6.2.0.1"))
    for name, data in OLD.items():
        (app / name).write_bytes(data)
    return app


def installed(app: Path) -> dict:
    """The installation's files, without what the updater and the client
    stand-in leave of themselves."""
    files = tree(app)
    for own in ("file.exe", "delme.bat", "client-started"):
        files.pop(own, None)
    return files


def cannot_back_up(h, app: Path, name: str) -> str:
    """The reason a backup gives for an installed file it could not copy."""
    return f'Cannot back up "{h.native_path(app)}\\{name}"'


def new_release(h) -> dict:
    return {"client.exe": h.client("6.3.0.0"), "data.dll": NEW_DATA, "sub\\x.dll": b"new x"}


def updated_files(h, app_before: dict) -> dict:
    files = dict(app_before)
    files.update({"client.exe": h.client("6.3.0.0"), "data.dll": NEW_DATA, "sub/x.dll": b"new x"})
    return files


def packed_release(h) -> Path:
    """www/rel: the new release with sizes and hashes, as the tool packs it."""
    packed = write_tree(h.dir("packed"), {n.replace("\\", "/"): b
                                          for n, b in new_release(h).items()})
    h.pack(packed, "6.3")
    www = h.dir("www")
    shutil.copytree(packed, www / "rel")
    return www


def start(h, app: Path, url: str, cwd: Path | None = None, exe: Path | None = None):
    settings = {"UpdatePath": h.native_path(app), "URL": url}
    if getattr(h, "settings", None) != settings:  # the wine registry is slow to write
        h.set_registry(settings)
        h.settings = settings
    cwd = cwd or app
    exe = exe or h.updater_copy(cwd, "file.exe")
    return h.start(exe, ["UPDATE"], cwd)


def conclude(h, case, run, app, boxes, expected=None, cwd=None, box_timeout=40.0,
             table="fault-matrix.tsv"):
    """Answers the boxes one by one, waits for the end of the program and
    compares; records the row (in the table of that name) whatever happens.
    expected: the installation the run must leave, by default the one it
    found (h.before)."""
    expected = h.before if expected is None else expected
    seen, intact = [], "?"
    try:
        for _ in boxes:
            seen.append(run.box(box_timeout).text)
        try:
            code = run.proc.wait(60 * TIME_SCALE)
        except subprocess.TimeoutExpired:
            code = None
            seen.append("[no end: killed]")
            run.kill()
        if h.windows and code is not None:
            # The removal script runs on after the program; it ends by deleting itself.
            eventually(lambda: not (cwd or app).joinpath("delme.bat").is_file(), 30,
                       what="the removal script to end")
        after = installed(app)
        intact = ("yes" if after == h.before else
                  "yes (updated)" if after == expected else "no")
        check(seen == boxes, f"boxes {seen!r}, expected {boxes!r}")
        check(code is not None, "the program did not end")
        check(code == 0, f"exit code {code}")
        changed = sorted(k for k in set(after) | set(expected) if after.get(k) != expected.get(k))
        check(after == expected, f"installation differs in {changed}")
    except Failure:
        # A box too many keeps the program waiting: read it for the row.
        if run.alive():
            try:
                seen.append("unexpected: " + run.box(2).text)
            except Exception:
                pass
        raise
    finally:
        record(h, case, seen, intact, table)


def each(h, cases, one):
    """Runs one(case, *args) for every case, each in a fresh installation;
    a failing case does not keep the others from running."""
    failures = []
    for case, *args in cases:
        try:
            one(case, *args)
        except Exception as e:
            failures.append(f"{case}: {e}")
        for proc in h.procs:
            proc.kill()
        shutil.rmtree(h.root / "app", ignore_errors=True)
    check(not failures, "; ".join(failures))


def prepare(h):
    app = install(h)
    h.before = installed(app)
    return app


# ---------------------------------------------------------------------------
# The server cannot be reached.

def test_server_unreachable(h):
    def one(case, url, message):
        app = prepare(h)
        run = start(h, app, url)
        conclude(h, case, run, app, [LIST_FAILED + message])
    each(h, [("connection refused", f"http://127.0.0.1:{unused_port()}/rel/",
              "Socket Error # 10061\r\nConnection refused."),
             ("host unknown", "http://updates.example.invalid/rel/",
              "Socket Error # 11001\r\nHost not found.")], one)


# ---------------------------------------------------------------------------
# Answers other than a success, for the update list and for the second of
# three files.

STATUSES = {404: "Not Found", 500: "Internal Server Error", 302: "Found", 304: "Not Modified"}
UP_TO_SECOND = ["/rel/update.ini", "/rel/client.exe", "/rel/data.dll"]


def test_answers_other_than_success(h):
    server = h.server()
    server.release("6.3", new_release(h))

    def one(case, path, status, reason):
        app = prepare(h)
        server.requests.clear()
        server.statuses = {path: status}
        server.headers = {path: [("Location", server.base + "elsewhere")]} if status == 302 else {}
        run = start(h, app, server.base)
        if path.endswith("update.ini"):
            conclude(h, case, run, app, [LIST_FAILED + f"HTTP/1.1 {status} {reason}"])
            check(server.requests == ["/rel/update.ini"], f"requests {server.requests}")
        else:
            conclude(h, case, run, app, [TRANSFER_FAILED + f"HTTP/1.1 {status} {reason}"])
            check(server.requests == UP_TO_SECOND, f"requests {server.requests}")
    each(h, [(f"update.ini {s}", "/rel/update.ini", s, r) for s, r in STATUSES.items()]
         + [(f"2nd of 3 files {s}", "/rel/data.dll", s, r) for s, r in STATUSES.items()], one)


# ---------------------------------------------------------------------------
# Broken transfers, byte by byte, mostly of the second of three files.

HEAD = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
RESET = "Socket Error # 10054\r\nConnection reset by peer."

BROKEN = [
    ("reset in the middle of a body", "data.dll",
     [HEAD + b"Content-Length: 60000\r\n\r\n" + b"r" * 20000, ("pause", 0.5), "reset"], RESET),
    ("closed before the status line", "data.dll", ["close"], CLOSED),
    ("body shorter than Content-Length", "data.dll",
     [HEAD + b"Content-Length: 5000\r\n\r\n" + b"s" * 1000, "close"], CLOSED),
    ("chunked body cut off", "data.dll",
     [HEAD + b"Transfer-Encoding: chunked\r\n\r\n400\r\n" + b"c" * 100, "close"], CLOSED),
    ("header line over 16384 bytes", "data.dll",
     [HEAD + b"X-Padding: " + b"p" * 16400 + b"\r\nContent-Length: 3\r\n\r\nabc"],
     "Max line length exceeded."),
    ("update.ini closed before the status line", "update.ini", ["close"], CLOSED),
]


def test_broken_transfers(h):
    server = h.raw_server()
    server.release("6.3", new_release(h))

    def one(case, name, script, message):
        app = prepare(h)
        server.requests.clear()
        server.scripts = {"/rel/" + name: script}
        run = start(h, app, server.base)
        if h.windows and message == RESET:
            # Wine's sockets take a reset connection for one the server ended.
            message = CLOSED
        if name == "update.ini":
            conclude(h, case, run, app, [LIST_FAILED + message])
            check(server.requests == ["/rel/update.ini"], f"requests {server.requests}")
        else:
            conclude(h, case, run, app, [TRANSFER_FAILED + message])
            # Nothing back on the connection that brought client.exe: the
            # request is sent once more, on a new connection.
            again = ["/rel/" + name] if script == ["close"] else []
            check(server.requests == UP_TO_SECOND + again, f"requests {server.requests}")
    each(h, BROKEN, one)


# ---------------------------------------------------------------------------
# The same breaks where the list gives every file's size and hash: the
# transfer is taken up where it stopped (Range: bytes=k-, on a new
# connection), up to three times; only a fourth break ends the run with its
# box. What the server answers to the Range request decides the rest.

def test_broken_transfers_of_a_listed_file_resume(h):
    server = h.raw_server()
    server.release("6.3", new_release(h), hashed=True)
    half = len(NEW_DATA) // 2
    start_of = HEAD + b"Content-Length: %d\r\n\r\n" % len(NEW_DATA)
    changed = b"N" + NEW_DATA[1:]
    wrong_206 = (b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-%d/%d\r\n"
                 b"Content-Length: %d\r\n\r\n" % (len(NEW_DATA) - 1, len(NEW_DATA),
                                                  len(NEW_DATA) - 100) + NEW_DATA[100:])
    asked = "bytes=%d-" % half
    cases = [
        ("reset in the middle of a body (hashed list)",
         [[start_of + NEW_DATA[:half], ("pause", 0.5), "reset"]], [None, asked], None),
        ("body shorter than Content-Length (hashed list)",
         [[start_of + NEW_DATA[:half], "close"]], [None, asked], None),
        ("nothing received for longer than the read limit (hashed list)",
         [[start_of + NEW_DATA[:half], ("pause", 8)]], [None, asked], None),
        ("a 206 from another offset than asked (hashed list)",
         [[start_of + NEW_DATA[:half], "close"], [wrong_206, "close"]], [None, asked, None], None),
        ("file changed on the server between the break and the resume (hashed list)",
         [[start_of + changed[:half], "close"]], [None, asked, None], None),
        ("four breaks in a row (hashed list)",
         [[start_of + NEW_DATA[:1000], "close"]] + [[
             b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n"
             b"Content-Length: %d\r\n\r\n" % (k, len(NEW_DATA) - 1, len(NEW_DATA),
                                              len(NEW_DATA) - k) + NEW_DATA[k:k + 1000], "close"]
             for k in (1000, 2000, 3000)],
         [None, "bytes=1000-", "bytes=2000-", "bytes=3000-"], CLOSED),
    ]

    def one(case, queued, ranges, failure):
        app = prepare(h)
        server.requests.clear()
        server.ranges.clear()
        server.queued = {"/rel/data.dll": [list(q) for q in queued]}
        h.env["UPDATER_TEST_READ_LIMIT_MS"] = "3000"
        try:
            run = start(h, app, server.base)
            if failure:
                conclude(h, case, run, app, [TRANSFER_FAILED + failure])
            else:
                conclude(h, case, run, app, [done()], updated_files(h, h.before))
        finally:
            h.env.pop("UPDATER_TEST_READ_LIMIT_MS", None)
        got = [r for p, r in zip(server.requests, server.ranges) if p == "/rel/data.dll"]
        check(got == ranges, f"ranges asked for data.dll: {got}, expected {ranges}")
    each(h, cases, one)


def test_silent_server_ends_the_transfer(h):
    """On a list without sizes and hashes the transfer is not resumed, but a
    server that stops sending no longer keeps the user waiting for ever."""
    server = h.raw_server()
    server.release("6.3", new_release(h))
    server.scripts = {"/rel/data.dll": [HEAD + b"Content-Length: 60000\r\n\r\n" + b"q" * 100,
                                        ("pause", 8)]}
    app = prepare(h)
    h.env["UPDATER_TEST_READ_LIMIT_MS"] = "2000"
    try:
        run = start(h, app, server.base)
        conclude(h, "nothing received for longer than the read limit", run, app,
                 [TRANSFER_FAILED + "Socket Error # 10060\r\nConnection timed out."])
    finally:
        h.env.pop("UPDATER_TEST_READ_LIMIT_MS", None)
    check(server.ranges == [None] * 3, f"ranges {server.ranges}")


def test_staged_download_of_an_earlier_run_is_resumed_by_nginx(h):
    """What a cut-off run staged is taken up by the next run: nginx answers
    the Range request with the rest (206); one configured to ignore ranges
    sends the whole file (200), which the updater writes from its first byte."""
    packed = write_tree(h.dir("packed"), {n.replace("\\", "/"): b
                                          for n, b in new_release(h).items()})
    h.pack(packed, "6.3")
    www = write_tree(h.dir("www-resume"), {})
    import shutil as sh
    sh.copytree(packed, www / "rel")
    half = len(NEW_DATA) // 2

    def one(case, extra, status, sent):
        app = prepare(h)
        (app / "data.dll.update-part").write_bytes(NEW_DATA[:half])
        nginx = h.nginx(www, extra)
        run = start(h, app, nginx.base + "/rel/")
        conclude(h, case, run, app, [done()], updated_files(h, h.before))
        rows = [(row[2], row[3]) for row in nginx.log() if row[4] == "/rel/data.dll"]
        check(rows == [(status, sent)], f"nginx sent for data.dll: {rows}")
    each(h, [("staged download of a cut-off run resumed", "", 206, len(NEW_DATA) - half),
             ("staged download of a cut-off run, server ignores Range", "max_ranges 0;", 200,
              len(NEW_DATA))], one)


# ---------------------------------------------------------------------------
# Files that are not what the release lists: a release packed by the
# publisher's tool and served by nginx, then changed on the server; and a body
# that never ends.

def test_files_not_as_the_release_lists(h):
    packed = write_tree(h.dir("packed"), {n.replace("\\", "/"): b for n, b in new_release(h).items()})
    h.pack(packed, "6.3")
    www = h.dir("www")
    nginx = h.nginx(www)
    raw = h.raw_server()
    raw.files = {"/rel/" + p.relative_to(packed).as_posix(): p.read_bytes()
                 for p in packed.rglob("*") if p.is_file()}
    raw.scripts["/rel/data.dll"] = [HEAD + b"\r\n", ("endless", b"e" * 65536)]
    size = len(NEW_DATA)
    larger = f'"data.dll" is larger than the release lists ({size} bytes)'

    def one(case, change, message):
        app = prepare(h)
        shutil.rmtree(www / "rel", ignore_errors=True)
        shutil.copytree(packed, www / "rel")
        if change:
            (www / "rel" / "data.dll").write_bytes(change(NEW_DATA))
        run = start(h, app, nginx.base + "/rel/" if change else raw.base)
        conclude(h, case, run, app, [TRANSFER_FAILED + message])
    each(h, [("changed on the server after packing", lambda b: b[:-1] + b"!",
              '"data.dll" does not match the release (SHA-256)'),
             ("cut short on the server", lambda b: b[:1000],
              f'"data.dll" is shorter than the release lists (1000 of {size} bytes)'),
             ("longer on the server than listed", lambda b: b + b"more", larger),
             ("endless body", None, larger)], one)


# ---------------------------------------------------------------------------
# Signed releases: the updater of a build that pins the test key, against a
# release packed and signed by the publisher's tool and served by nginx, then
# changed on the server.

KEYS = Path(__file__).parent / "keys"


def signed_updater(h, cwd: Path) -> Path:
    source = h.bin_dir / "tests" / ("updater_signed.exe" if h.windows else "updater_signed")
    target = cwd / "file.exe"
    shutil.copy2(source, target)
    return target


def utc(seconds: int) -> str:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def signed_at(rel: Path) -> int:
    """The time in the trusted comment of the folder's update.ini.minisig."""
    comment = (rel / "update.ini.minisig").read_text().splitlines()[2]
    return int(re.search(r"(?:^|[ \t])timestamp:(\d+)", comment.split(": ", 1)[1]).group(1))


def remembered(rel: Path) -> dict:
    """What a keyed updater keeps in the installation besides the files once
    it has installed the signed list in rel: the list's signing time."""
    return {"update.ini.signed": (utc(signed_at(rel)) + "\r\n").encode()}


def test_signed_releases(h):
    tool = lambda *args: check(h.release_tool(*args)[0] == 0, f"updater-release {args[0]} failed")
    key = h.native_path(KEYS / "test-release.key")
    other = h.dir("other")
    tool("keygen", "--out", h.native_path(other / "other"))
    packed = write_tree(h.dir("packed"), {n.replace("\\", "/"): b for n, b in new_release(h).items()})
    h.pack(packed, "6.3", "--sign", key)
    listed = (packed / "update.ini").read_bytes()
    expires = re.search(rb"\r\nExpires=([^\r]*)\r\n", listed).group(1)
    # The same release signed again a second later: a list signed after the first one.
    later = h.dir("later")
    shutil.copytree(packed, later, dirs_exist_ok=True)
    time.sleep(1.1)
    tool("sign", "-s", key, h.native_path(later))
    check(signed_at(later) > signed_at(packed), "the second signature is not later")
    www = h.dir("www")
    nginx = h.nginx(www)

    def resign(text: bytes, by: str = key):
        def change(rel: Path):
            (rel / "update.ini").write_bytes(text)
            tool("sign", "-s", by, h.native_path(rel))
        return change

    def signed_by_minisign(text: bytes):
        """A list that updater-release refuses to sign, since the keyed updater
        refuses it: signed with the same key by Debian's minisign."""
        def change(rel: Path):
            (rel / "update.ini").write_bytes(text)
            subprocess.run(["minisign", "-S", "-s", str(KEYS / "test-release.key"),
                            "-m", str(rel / "update.ini")],
                           check=True, stdin=subprocess.DEVNULL, capture_output=True)
        return change

    def edit(name: str, edit_bytes):
        def change(rel: Path):
            (rel / name).write_bytes(edit_bytes((rel / name).read_bytes()))
        return change

    def signature_changed(sig: bytes) -> bytes:
        lines = sig.split(b"\n")
        line = bytearray(lines[1])
        line[40] = ord("B") if line[40] != ord("B") else ord("C")  # inside the signature itself
        lines[1] = bytes(line)
        return b"\n".join(lines)

    without_hash = b"".join(l for l in listed.splitlines(True) if not l.startswith(b"Hash1="))
    without_expires = b"".join(l for l in listed.splitlines(True)
                               if not l.startswith((b"[Release]", b"Expires=")))

    def serve(folder: Path, change=None):
        shutil.rmtree(www / "rel", ignore_errors=True)
        shutil.copytree(folder, www / "rel")
        if change:
            change(www / "rel")

    def update(case, app, boxes, signed=True):
        exe = signed_updater(h, app) if signed else None
        run = start(h, app, nginx.base + "/rel/", exe=exe)
        expected = None
        if boxes == [done()]:
            expected = updated_files(h, h.before)
            if signed:
                expected.update(remembered(www / "rel"))
        conclude(h, case, run, app, boxes, expected)

    def one(case, change, boxes, signed=True, installed_first=None, record=None):
        app = prepare(h)
        if record:
            record(app / "update.ini.signed")
            h.before = installed(app)
        if installed_first:
            serve(installed_first)
            update(case + ": the later list first", app, [done()])
            h.before = installed(app)
            (app / "client-started").unlink(missing_ok=True)
        serve(packed, change)
        before = len(nginx.log())
        update(case, app, boxes, signed)
        asked = [row[4] for row in nginx.log()[before:]]
        check(("/rel/update.ini.minisig" in asked) == signed, f"requests {asked}")
        if not boxes[0].startswith(LIST_FAILED):
            return
        if h.windows:
            eventually(lambda: (app / "client-started").exists(), 30, what="the client to start")
        # verify -p refuses, in the updater's words, every list the keyed
        # updater refuses whatever is installed, and takes the others.
        reason = boxes[0][len(LIST_FAILED):]
        code, out, err = h.release_tool("verify", "-p", h.native_path(KEYS / "test-release.pub"),
                                        h.native_path(www / "rel"),
                                        *([] if h.windows else ["--encoding", "utf-8"]))
        if "installed" in reason:
            check(code == 0, f"verify -p refused a list only the installation rules out: {out}{err}")
        else:
            refused = code == 1 and f"FAIL {reason}" in out.splitlines()
            check(refused, f"verify -p ({code}): {out}{err}")

    failed = lambda message: [LIST_FAILED + message]  # noqa: E731
    each(h, [
        ("signed release", None, [done()]),
        ("signed release, build without a key", None, [done()], False),
        ("signed list changed on the server", edit("update.ini", lambda b: b.replace(b"=6.3", b"=6.4")),
         failed("Invalid signature on update.ini")),
        ("signature changed on the server", edit("update.ini.minisig", signature_changed),
         failed("Invalid signature on update.ini")),
        ("signed file changed on the server", edit("data.dll", lambda b: b[:-1] + b"!"),
         [TRANSFER_FAILED + '"data.dll" does not match the release (SHA-256)']),
        ("signature missing", lambda rel: (rel / "update.ini.minisig").unlink(),
         failed("update.ini is not signed")),
        ("signed with another key", resign(listed, h.native_path(other / "other.key")),
         failed("update.ini is signed with another key")),
        ("signed release older than the installed one", resign(listed.replace(b"=6.3", b"=6.1")),
         failed("Release 6.1 is older than the installed version 6.2.0.1")),
        ("signed list expired",
         signed_by_minisign(listed.replace(expires, b"2001-01-01T00:00:00Z")),
         failed("The release list expired on 2001-01-01T00:00:00Z")),
        ("signed list without Expires", signed_by_minisign(without_expires),
         failed("The signed list has no Expires")),
        ("signed list without a file's hash", signed_by_minisign(without_hash),
         failed('"client.exe" has no size or hash in the signed list')),
        ("replayed older signed list with the same version", None,
         failed(f"The release list is older than the one installed (signed {utc(signed_at(later))})"),
         True, later),
        ("record of the last signed list unreadable (a folder in its place)", None,
         failed("The record of the last signed list installed cannot be read "
                f"({h.native_path(h.root / 'app' / 'update.ini.signed')})"),
         True, None, lambda path: path.mkdir()),
    ], one)


# ---------------------------------------------------------------------------
# What the update list says.

GARBAGE = bytes(random.Random(7).randrange(256) for _ in range(4096))
HTML = (b"<!DOCTYPE html>\r\n<html><head><title>Welcome</title></head>\r\n"
        b"<body><p>Sign in to use this network.</p></body></html>\r\n")


def test_update_list_contents(h):
    """A body that is no release description (no [FileList], no [Version]) and
    a name that leaves the installation both stop the run before anything is
    backed up or downloaded, and the client starts unchanged."""
    server = h.raw_server()

    def one(case, body, name):
        app = prepare(h)
        server.requests.clear()
        server.files.clear()
        if body is not None:
            server.files["/rel/update.ini"] = body
            boxes = [LIST_FAILED + "No [FileList] or [Version] section"]
        else:
            server.release("6.3", {"client.exe": b"new client", name: b"evil", "sub\\x.dll": b"x"})
            boxes = [LIST_FAILED + f'Unsafe file name "{name}"']
        run = start(h, app, server.base)
        conclude(h, case, run, app, boxes)
        check(server.requests == ["/rel/update.ini"], f"requests {server.requests}")
        check(not any(h.root.rglob("evil.dll")), "evil.dll written")
    each(h, [("update.ini binary garbage", GARBAGE, None), ("update.ini HTML page", HTML, None),
             ("unsafe name ..\\x", None, "..\\evil.dll"),
             ("unsafe absolute name", None, "C:\\evil.dll"),
             ("unsafe rooted name", None, "\\evil.dll")], one)


# ---------------------------------------------------------------------------
# The file system refuses.

def system_text(h, linux: str, windows: str) -> str:
    return windows if h.windows else linux


def test_working_directory_not_writable(h):
    """Downloads land in the working directory; when it is read-only the first
    one cannot be created, and the backup is put back."""
    app = prepare(h)
    # Room for the updater's copy whatever the build (a sanitizer build is large).
    work = h.tmpfs("work", h.updater.stat().st_size // 1024 + 8192)
    exe = h.updater_copy(work, "file.exe")
    h.make_read_only(work)
    server = h.server()
    server.release("6.3", new_release(h))
    run = start(h, app, server.base, cwd=work, exe=exe)
    target = h.native_path(work / "client.exe")
    boxes = [TRANSFER_FAILED + f'Cannot create file "{target}". '
             + system_text(h, "The media is write protected", "访问被拒绝。")]
    if h.windows:
        # The removal script cannot be written there either: the run's own
        # error handling gives up, and the error reaches the default report.
        boxes.append("File access denied.")
    conclude(h, "working directory read-only", run, app, boxes, cwd=work)


def test_backup_directory_not_creatable(h):
    """A file where the backup directory belongs: window creation reports it,
    and the run that follows keeps every installed file."""
    app = prepare(h)
    (app / "UpdateBak").write_bytes(b"in the way")
    server = h.server()
    server.release("6.3", new_release(h))
    run = start(h, app, server.base)
    conclude(h, "backup directory not creatable", run, app,
             ["I/O error 183.", TRANSFER_FAILED + cannot_back_up(h, app, "client.exe")])
    check((app / "UpdateBak").read_bytes() == b"in the way", "the file in the way changed")


def test_disk_full_while_writing_a_file(h):
    """The installation on a small file system: the old files and their backup
    copies fit, the new second file does not."""
    app = h.tmpfs("app", 1024)
    install(h, app)
    h.before = installed(app)
    exe = h.updater_copy(h.dir("bin"), "file.exe")
    server = h.server()
    release = new_release(h)
    release["data.dll"] = b"big " * (512 * 1024)
    server.release("6.3", release)
    run = start(h, app, server.base, exe=exe)
    conclude(h, "disk full", run, app, [TRANSFER_FAILED + "Disk full"])


def test_listed_file_locked_by_another_program(h):
    if not h.windows:
        record(h, "file locked by another program", [], "n/a")
        return
    app = prepare(h)
    marker = h.root / "locked"
    locker = subprocess.Popen([h.wine, str(h.bin_dir / "tests" / "file_locker.exe"),
                               h.native_path(app / "data.dll"), h.native_path(marker)],
                              env=h.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    holder = Running()
    holder.proc = locker
    h.procs.append(holder)
    eventually(lambda: marker.exists() or locker.poll() is not None, 60, what="the lock")
    check(marker.exists(), f"file_locker ended ({locker.returncode})")
    server = h.server()
    server.release("6.3", new_release(h))
    run = start(h, app, server.base)
    # The backup copy cannot be made: the run stops before any download,
    # says so, and puts back what it had moved.
    conclude(h, "file locked by another program", run, app,
             [TRANSFER_FAILED + cannot_back_up(h, app, "data.dll")])


def test_removal_script_not_writable(h):
    """A directory named delme.bat: the update itself succeeds; where the
    finish routine writes its script, its failure is reported and the program
    ends all the same."""
    app = prepare(h)
    (app / "delme.bat").mkdir()
    server = h.server()
    server.release("6.3", new_release(h))
    run = start(h, app, server.base)
    boxes = [done()] + (["File access denied."] if h.windows else [])
    conclude(h, "delme.bat is a directory", run, app, boxes, updated_files(h, h.before))
    check((app / "delme.bat").is_dir(), "delme.bat directory gone")


# ---------------------------------------------------------------------------
# No read time-out: a slow body keeps the window alive.

# Long enough for the window to be read and asked to close while it lasts.
TRICKLED = b"slowly, slowly"


def test_trickling_body_keeps_the_window_alive(h):
    app = prepare(h)
    server = h.raw_server()
    release = new_release(h)
    release["data.dll"] = TRICKLED
    server.release("6.3", release)
    server.scripts["/rel/data.dll"] = [HEAD + b"Content-Length: %d\r\n\r\n" % len(TRICKLED),
                                       ("trickle", TRICKLED, 1.0)]
    run = start(h, app, server.base)
    case = "body trickling 1 byte/s"
    try:
        check(server.trickling.wait(30), "the second file was not asked for")
        eventually(lambda: run.window().controls["LBL_Updating"].text
                   == "正在下载第 2 个文件:data.dll", 10, what="the status line of the second file")
        check(run.try_close(), "the window closed")
        check(run.alive(), "the program ended on a close request")
        sent = server.trickle_sent
        check(sent < len(TRICKLED) - 1, f"the close request was answered only after {sent} of "
              f"{len(TRICKLED)} bytes")
    except Failure as e:
        record(h, case, [f"[while trickling: {e}]"], "?")
        raise
    expected = updated_files(h, h.before)
    expected["data.dll"] = TRICKLED
    conclude(h, case, run, app, [done()], expected)

