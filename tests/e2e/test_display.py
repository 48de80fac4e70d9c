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
    return app, h.start(exe, ["UPDATE"], app, watch=True)


def in_order(shown, expected):
    """Whether expected is a subsequence of shown."""
    rest = iter(shown)
    return all(item in rest for item in expected)


def test_every_file_shows_its_status_and_final_byte_line(h):
    server = h.raw_server()
    server.release("6.3", {name: BODY for name in NAMES})
    if h.windows:
        # Texts read from outside the program need time on the screen: the
        # server holds the run before each answer and before each body's end.
        for name in NAMES:
            server.scripts["/rel/" + name] = [
                ("pause", 0.5), b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n600\r\n" +
                BODY + b"\r\n", ("pause", 0.5), b"0\r\n\r\n"]
    # The Linux build gets each file at once: all three fit within one frame
    # of the progress display, and the trace holds what was drawn.
    app, run = start(h, server)
    box = run.box(60)
    check(box.text == "恭喜，你现在已经成功升级到新版本 6.3 了！", f"box {box.text!r}")
    check(run.wait(60) == 0, "exit code")
    for name in NAMES:
        check((app / name).read_bytes() == BODY, f"{name} not updated")
    statuses = run.texts("LBL_Updating")
    check(in_order(statuses, [status(i, name) for i, name in enumerate(NAMES, 1)] + ["升级完成！"]),
          f"status lines shown: {statuses}")
    byte_lines = run.texts("Label4")
    check(byte_lines.count(FINAL_BYTES) == len(NAMES), f"byte lines shown: {byte_lines}")


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
    eventually(lambda: "/rel/b.dll" in server.requests, 30, what="the request for b.dll")
    asked = time.monotonic()
    eventually(lambda: status(2, "b.dll") in run.texts("LBL_Updating"), 10,
               what="the second file's status")
    check(time.monotonic() - asked < 3.0, "the status came only with the server's answer")
    run.box(60)
    check(run.wait(60) == 0, "exit code")
    check((app / "b.dll").read_bytes() == BODY, "b.dll not updated")
