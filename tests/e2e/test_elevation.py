"""Administrator rights asked for when the installation refuses the updater.
Wine neither withholds the rights nor enforces access control, so the test
setting UPDATER_TEST_ELEVATION makes the Windows build act as a process
without the rights whose installation refuses it; the second run, started
with runas, really is a second process under wine. The Linux build has no
such rights and ignores the setting: one process updates."""
import re
import shutil
import subprocess

from harness import check, eventually, release_paths, tree, write_tree
from test_run import OLD, install, start
from tls_ca import TestCA

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


def test_dlls_planted_beside_the_updater_are_not_loaded(h):
    """The system DLLs the updater uses that are not among Windows' KnownDLLs,
    which the loader would look for in the program's directory first: none is
    imported, and copies put beside the updater (also its working directory)
    load neither into it nor into its process with the rights, which update
    over https with the system's own (TLS through its secur32 and crypt32,
    the hashes through its bcrypt, the proxy settings through its winhttp)."""
    if not h.windows:
        return
    app, exe = install(h)
    objdump = ("i686" if h.build == "win32" else "x86_64") + "-w64-mingw32-objdump"
    table = subprocess.run([objdump, "-p", str(exe)], capture_output=True, text=True, check=True)
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", table.stdout)}
    planted = ["comctl32", "bcrypt", "secur32", "crypt32", "winhttp"]
    check(not imports & {f"{name}.dll" for name in ["version", "sspicli", *planted]},
          f"imports {sorted(imports)}")
    # version.dll is checked in the import table alone: wine's own user32
    # imports it, so wine loads a preferred copy beside the program before the
    # program's entry runs, whatever the program does (Windows' user32, a
    # KnownDLL, does not import it).
    for name in planted:
        shutil.copy(h.bin_dir / "tests" / "planted.dll", app / f"{name}.dll")
    # Wine takes its builtin DLLs over a copy in the program's directory,
    # where Windows takes the copy; preferring native DLLs, wine does as
    # Windows does.
    h.env["WINEDLLOVERRIDES"] += ";" + ",".join(planted) + "=n,b"
    ca = TestCA(h.dir("ca"))
    h.trust_root(ca.pem)
    www = write_tree(h.dir("www"), {p.lstrip("/"): b for p, b in
                                    release_paths("6.3", NEW, hashed=True).items()})
    server = h.nginx(www, tls=ca.server())
    h.env["UPDATER_TEST_ELEVATION"] = "limited"
    run = start(h, app, exe, server, server.base + "/rel/")
    box = run.box(60)
    code = run.wait(60)
    check(box.text == DONE and code == 0, f"box {box.text!r}, exit code {code}")
    requests = [row[4] for row in server.log()]
    check(requests == ["/rel/update.ini"] * 2 + ["/rel/data.dll", "/rel/sub/x.dll"],
          f"requests {requests}")
    loaded = sorted(path.name for path in app.glob("*.loaded"))
    check(not loaded, f"planted DLLs loaded: {loaded}")


def test_rights_not_asked_for_outside_the_installation(h):
    """Started from a folder of the caller's own, the updater asks for no
    rights (one process reads the list once) and acts as a process without
    them always did: the files land in that folder, the installation keeps
    its own."""
    app, _ = install(h)
    work = h.dir("work")
    (work / "sub").mkdir()
    exe = h.updater_copy(work, "file.exe")
    server = h.server()
    server.release("6.3", NEW)
    h.env["UPDATER_TEST_ELEVATION"] = "limited"
    h.set_registry({"UpdatePath": h.native_path(app), "URL": server.base})
    run = h.start(exe, ["UPDATE"], work)
    box = run.box(60)
    code = run.wait(60)
    check(box.text == DONE and code == 0, f"box {box.text!r}, exit code {code}")
    check(server.requests == ["/rel/update.ini", "/rel/data.dll", "/rel/sub/x.dll"],
          f"requests {server.requests}")
    landed = tree(work)
    check(all(landed.get(n.replace("\\", "/")) == b for n, b in NEW.items()),
          f"working folder {sorted(landed)}")
    files = tree(app)
    check({n: files.get(n) for n in OLD} == OLD, f"installation {sorted(files)}")
