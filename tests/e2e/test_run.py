"""Whole update runs through the real window, a real release server and real
files: the installation is also the working directory, as when the client
starts the updater as file.exe from its own directory."""
from harness import BOX_CAPTION, check, eventually, release_paths, tree, write_tree

OLD = {"data.dll": b"old data " * 100, "sub/x.dll": b"old x"}


def install(h):
    app = h.dir("app")
    (app / "sub").mkdir()
    (app / "client.exe").write_bytes(h.client("6.2.0.1"))
    for name, data in OLD.items():
        (app / name).write_bytes(data)
    (app / "readme.txt").write_bytes(b"not part of the release")
    exe = h.updater_copy(app, "file.exe")
    return app, exe


def start(h, app, exe, server, url=None):
    h.set_registry({"UpdatePath": h.native_path(app), "URL": url or server.base})
    return h.start(exe, ["UPDATE"], app)


def message_line(h, run):
    return run.window().controls["PLMsg"].text


def test_successful_update_replaces_files_keeps_backup_and_restarts_client(h):
    """A hand-written update.ini as releases have always had it, without sizes
    or hashes, served by nginx."""
    app, exe = install(h)
    old_client = (app / "client.exe").read_bytes()
    new = {"client.exe": h.client("6.3.0.0"), "data.dll": b"new data " * 5000,
           "sub\\x.dll": b"new x"}
    www = write_tree(h.dir("www"), {p.lstrip("/"): b for p, b in release_paths("6.3", new).items()})
    server = h.nginx(www)
    requests = lambda: [row[4] for row in server.log()]  # noqa: E731
    run = start(h, app, exe, server, server.base + "/rel/")
    eventually(lambda: len(requests()) == 4, 30, what="the downloads")
    check(message_line(h, run) == "从旧版本( 6.2.0.1 )本升级到新版本( 6.3 )",
          f"message line {message_line(h, run)!r}")
    box = run.box(30)
    check((box.caption, box.text) == (BOX_CAPTION, "恭喜，你现在已经成功升级到新版本 6.3 了！"),
          f"box {box}")
    check(box.icon in ("information", "unknown"), f"icon {box.icon}")
    check(run.wait(60) == 0, "exit code")
    check(requests() == ["/rel/update.ini", "/rel/client.exe", "/rel/data.dll", "/rel/sub/x.dll"],
          f"requests {requests()}")
    files = tree(app)
    files.pop("client-started", None)
    check(files == {"client.exe": new["client.exe"], "data.dll": new["data.dll"],
                    "sub/x.dll": new["sub\\x.dll"], "readme.txt": b"not part of the release"},
          f"installation {sorted(files)}")
    check(tree(app / "UpdateBak") == {"client.exe": old_client, **OLD}, "backup")
    eventually(lambda: not exe.exists() and not (app / "delme.bat").exists(), 30,
               what="the updater and its removal script to be deleted")
    if h.windows:
        eventually(lambda: (app / "client-started").exists(), 30, what="the client to start")
    else:
        check(run.texts("LBL_Updating")[-1] == "升级完成！", "last status")
        check(run.texts("Label3")[-1] == "共需下载 3 个文件", "file count")
        # data.dll is 45,000 bytes: 43.94 KB, truncated.
        check("已下载:43.94 KB  共 43.94 KB" in run.texts("Label4"), "byte line of data.dll")


def test_list_failure_restarts_the_client_unchanged(h):
    app, exe = install(h)
    before = tree(app)
    server = h.server()
    server.statuses["/rel/update.ini"] = 500
    run = start(h, app, exe, server)
    box = run.box(30)
    check(box.text == "获取升级配置文件失败，请梢候重试\r\rHTTP/1.1 500 Internal Server Error",
          f"box {box.text!r}")
    check(run.wait(60) == 0, "exit code")
    if h.windows:
        eventually(lambda: (app / "client-started").exists(), 30, what="the client to start")
    after = tree(app)
    after.pop("client-started", None)
    before.pop("file.exe")
    check(after == before, f"installation changed: {sorted(after)}")


def test_failing_second_file_restores_the_installation(h):
    app, exe = install(h)
    before = tree(app)
    server = h.server()
    server.release("6.3", {"client.exe": h.client("6.3.0.0"), "data.dll": b"new data",
                           "sub\\x.dll": b"new x", "added.dll": b"new file"})
    server.statuses["/rel/data.dll"] = 404
    run = start(h, app, exe, server)
    eventually(lambda: len(server.requests) == 3, 30, what="the failing download")
    # While the box is open, the byte line shows the failed transfer's empty body.
    check(run.window().controls["Label4"].text == "已下载:0 字节  共 0 字节", "byte line")
    box = run.box(30)
    check(box.text == "升级过程中出现了错误了,错误信息如下：\r\rHTTP/1.1 404 Not Found",
          f"box {box.text!r}")
    check(run.wait(60) == 0, "exit code")
    check(server.requests == ["/rel/update.ini", "/rel/client.exe", "/rel/data.dll"],
          f"requests {server.requests}")
    after = tree(app)
    before.pop("file.exe")
    check(after == before, f"installation not restored: {sorted(after)}")
    check(not (app / "client-started").exists(), "the client was started")


def test_release_packed_since_the_installed_one_replaces_only_what_changed(h):
    """The publisher packs the new release against the old one and copies the
    folder to a plain web server: only the changed and added files are listed
    (with sizes and hashes), asked for and replaced."""
    v1 = {"client.exe": h.client("6.2.0.1"), **OLD}
    v2 = {"client.exe": h.client("6.3.0.0"), "data.dll": OLD["data.dll"], "sub/x.dll": b"new x",
          "added.dll": b"added"}
    old = write_tree(h.dir("v1"), v1)
    www = h.dir("www")
    write_tree(www / "rel", v2)
    h.pack(www / "rel", "6.3", "--since", h.native_path(old))
    listed = [l for l in (www / "rel" / "update.ini").read_bytes().split(b"\r\n") if b"=" in l]
    check([l.split(b"=")[0] for l in listed] == [b"NewVersion", b"Count"] + [
        k + str(n).encode() for n in (1, 2, 3) for k in (b"File", b"Size", b"Hash")],
        f"update.ini {listed}")
    check([l for l in listed if l.startswith(b"File")] == [
        b"File1=added.dll", b"File2=client.exe", b"File3=sub\\x.dll"], f"update.ini {listed}")

    update_from(h, www, v2, ["added.dll", "client.exe", "sub/x.dll"])


def update_from(h, www, v2, fetched):
    """Updates the old installation from the release under www/rel on nginx:
    the box, the files asked for and the installation that results."""
    app, exe = install(h)
    server = h.nginx(www)
    run = start(h, app, exe, server, server.base + "/rel/")
    box = run.box(60)
    check(box.text == "恭喜，你现在已经成功升级到新版本 6.3 了！", f"box {box.text!r}")
    check(run.wait(60) == 0, "exit code")
    requests = [row[4] for row in server.log()]
    check(requests == ["/rel/update.ini"] + ["/rel/" + n for n in fetched], f"requests {requests}")
    files = tree(app)
    for own in ("client-started", "delme.bat", "file.exe"):
        files.pop(own, None)
    check(files == {**v2, "readme.txt": b"not part of the release"}, f"installation {sorted(files)}")
    return app, run


def test_files_already_current_are_left_alone(h):
    """A release listing every file with its size and hash, of which the
    installation already has data.dll: nothing is fetched for it, and it is
    neither backed up nor replaced."""
    v2 = {"client.exe": h.client("6.3.0.0"), "data.dll": OLD["data.dll"], "sub/x.dll": b"new x"}
    www = h.dir("www")
    write_tree(www / "rel", v2)
    h.pack(www / "rel", "6.3")
    app, run = update_from(h, www, v2, ["client.exe", "sub/x.dll"])
    check(sorted(tree(app / "UpdateBak")) == ["client.exe", "sub/x.dll"],
          f"backup {sorted(tree(app / 'UpdateBak'))}")
    if not h.windows:
        check("已下载:900 字节  共 900 字节" in run.texts("Label4"), "byte line of the current file")
