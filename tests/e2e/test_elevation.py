"""Administrator rights asked for when the installation refuses the updater.
Wine neither withholds the rights nor enforces access control, so the test
setting UPDATER_TEST_ELEVATION makes the Windows build act as a process
without the rights whose installation refuses it; the second run, started
with runas, really is a second process under wine. The Linux build has no
such rights and ignores the setting: one process updates."""
from harness import check, eventually, tree
from test_run import OLD, install, start

NEW = {"data.dll": b"new data", "sub\\x.dll": b"new x"}
DONE = "恭喜，你现在已经成功升级到新版本 6.3 了！"
REFUSED = "升级需要管理员权限，但未能获得授权。\r\r客户端将以当前版本启动。"


def test_rights_asked_for_once_or_refused(h):
    for setting in ("limited", "limited refuse"):
        refused = h.windows and "refuse" in setting
        app, exe = install(h)
        server = h.server()
        server.release("6.3", NEW)
        h.env["UPDATER_TEST_ELEVATION"] = setting
        try:
            run = start(h, app, exe, server)
            box = run.box(60)
            code = run.wait(60)
        finally:
            h.env.pop("UPDATER_TEST_ELEVATION")
        case = f"{setting}: "
        check(box.text == (REFUSED if refused else DONE), f"{case}box {box.text!r}")
        if refused:
            check(box.icon in ("warning", "unknown"), f"{case}icon {box.icon}")
        check(code == 0, f"{case}exit code {code}")
        # The first process reads the list, then the one with the rights does;
        # a third reading would be a second prompt.
        lists = 1 if refused or not h.windows else 2
        fetched = [] if refused else ["/rel/data.dll", "/rel/sub/x.dll"]
        check(server.requests == ["/rel/update.ini"] * lists + fetched,
              f"{case}requests {server.requests}")
        files = tree(app)
        expected = OLD if refused else {n.replace("\\", "/"): b for n, b in NEW.items()}
        check({n: files.get(n) for n in expected} == expected, f"{case}installation {sorted(files)}")
        eventually(lambda: not exe.exists() and not (app / "delme.bat").exists(), 30,
                   what="the updater and its removal script to be deleted")
        if h.windows:
            eventually(lambda: (app / "client-started").exists(), 30, what="the client to start")
        app.rename(h.root / f"app-{setting.replace(' ', '-')}")
