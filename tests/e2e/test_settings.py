"""Installation settings from the real registry (wine) or .reg file (Linux)."""
from harness import BOX_CAPTION, check, unused_port


def test_missing_key_warns_and_ends_without_writing(h):
    h.set_registry(None)
    if h.build == "win32":
        # The 32-bit build reads the 32-bit view only: a key that a 64-bit
        # installer wrote to the 64-bit view is missing for it.
        h.set_registry({"UpdatePath": "C:\\app", "URL": "http://127.0.0.1:1/"}, view=64)
    work = h.dir("work")
    exe = h.updater_copy(work, "file.exe")
    run = h.start(exe, ["UPDATE"], work)
    box = run.box()
    check((box.caption, box.text) == (BOX_CAPTION, "没有找到源程序！"), f"box {box}")
    check(box.icon in ("warning", "unknown"), f"icon {box.icon}")
    check(run.wait(60) == 0, "exit code")
    check(sorted(p.name for p in work.iterdir()) == ["file.exe"], "files written")
    if h.build == "win32":
        h.set_registry(None, view=64)


def test_empty_installation_path_is_a_missing_key(h):
    h.set_registry({"UpdatePath": ""})
    work = h.dir("work")
    run = h.start(h.updater_copy(work, "file.exe"), ["UPDATE"], work)
    box = run.box()
    check(box.text == "没有找到源程序！", f"box {box}")
    check(run.wait(60) == 0, "exit code")
    check(sorted(p.name for p in work.iterdir()) == ["file.exe"], "files written")


def test_backup_directory_that_cannot_be_made_is_reported_and_the_run_goes_on(h):
    missing = h.root / "not-installed"
    h.set_registry({"UpdatePath": h.native_path(missing), "URL": f"http://127.0.0.1:{unused_port()}/"})
    work = h.dir("work")
    exe = h.updater_copy(work, "MyUpdater.exe")
    run = h.start(exe, ["UPDATE"], work)
    box = run.box()
    check((box.caption, box.text) == ("Myupdater", "Invalid filename."), f"box {box}")
    check(box.icon in ("error", "unknown"), f"icon {box.icon}")
    # The window opens all the same and the run starts a second later.
    state = run.window()
    check(state.controls["PLMsg"].text == "", "the rest of window creation ran")
    box = run.box(30)
    check(box.text.startswith("获取升级配置文件失败，请梢候重试\r\r"), f"box {box}")
    check(run.wait(60) == 0, "exit code")
    check(not missing.exists(), "the installation directory was made")
