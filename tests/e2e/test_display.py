"""What a person sees during a run: every file's status line and final byte
line reach the screen, even for files that arrive faster than the progress
display's frames, and a status set before the program waits for a server is
on the screen while it waits."""
import time

from harness import check, eventually

BODY = b"n" * 1536
NAMES = ["a.dll", "b.dll", "c.dll"]
FINAL_BYTES = "已下载:1.5 KB  共 1.5 KB"


def status(i, name):
    return f"正在下载第 {i} 个文件:{name}"


def start(h, server):
    app = h.dir("app")
    exe = h.updater_copy(app, "file.exe")
    h.set_registry({"UpdatePath": h.native_path(app), "URL": server.base})
    return app, h.start(exe, ["UPDATE"], app)


def held(h, run, server, path, seconds):
    """The window's status and byte line while the server holds the answer to path."""
    eventually(lambda: path in server.requests, 30, what=f"the request for {path}")
    end = time.monotonic() + seconds
    controls = run.window().controls
    check(time.monotonic() < end, f"reading the window took longer than the server's hold of {path}")
    return controls["LBL_Updating"].text, controls["Label4"].text


def test_every_file_shows_its_status_and_final_byte_line(h):
    server = h.raw_server()
    server.release("6.3", {name: BODY for name in NAMES})
    if h.windows:
        # The window's texts are read while the run is held at each file:
        # before its answer, and after its one chunk, before the body's end.
        hold = 3.0
        for name in NAMES:
            server.scripts["/rel/" + name] = [
                ("pause", hold), b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n600\r\n" +
                BODY + b"\r\n", ("pause", hold), b"0\r\n\r\n"]
    app, run = start(h, server)
    if h.windows:
        for i, name in enumerate(NAMES, 1):
            shown = held(h, run, server, "/rel/" + name, hold)
            check(shown == (status(i, name), "已下载:0 字节  共 0 字节"), f"before {name}: {shown}")
            time.sleep(hold)  # into the hold after the chunk
            shown = run.window().controls["Label4"].text
            check(shown == FINAL_BYTES, f"after {name}'s chunk: {shown!r}")
    box = run.box(60)
    check(box.text == "恭喜，你现在已经成功升级到新版本 6.3 了！", f"box {box.text!r}")
    check(run.wait(60) == 0, "exit code")
    for name in NAMES:
        check((app / name).read_bytes() == BODY, f"{name} not updated")
    if not h.windows:
        # Served at once, all three files fit within one frame; still, the
        # trace of what was drawn holds each status and each final byte line.
        drawn = [(l[1], l[2]) for l in run.lines()
                 if l[0] == "text" and l[1] in ("LBL_Updating", "Label4")]
        expected = []
        for i, name in enumerate(NAMES, 1):
            expected += [("LBL_Updating", status(i, name)), ("Label4", FINAL_BYTES)]
        at = 0
        for item in expected:
            check(item in drawn[at:], f"{item} not drawn after {expected[:expected.index(item)]}")
            at = drawn.index(item, at) + 1


def test_status_is_shown_while_the_server_keeps_the_answer_back(h):
    server = h.raw_server()
    server.release("6.3", {"a.dll": BODY, "b.dll": BODY})
    # The first file's answer ends the connection, so the second file needs a
    # new one, which the server accepts but answers only after 3 s.
    server.scripts["/rel/a.dll"] = [b"HTTP/1.1 200 OK\r\nContent-Length: 1536\r\n"
                                    b"Connection: close\r\n\r\n" + BODY, "close"]
    server.scripts["/rel/b.dll"] = [("pause", 3.0), b"HTTP/1.1 200 OK\r\nContent-Length: 1536\r\n"
                                    b"\r\n" + BODY]
    app, run = start(h, server)
    shown = held(h, run, server, "/rel/b.dll", 3.0)
    check(shown[0] == status(2, "b.dll"), f"status while waiting: {shown[0]!r}")
    run.box(60)
    check(run.wait(60) == 0, "exit code")
    check((app / "b.dll").read_bytes() == BODY, "b.dll not updated")
