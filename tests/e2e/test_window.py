"""The command-line gate, the window as a person sees it, the refused close
and the finish routine, on the real binary."""
from harness import BOX_CAPTION, CAPTION, check, eventually, unused_port

# Control: left, top, width (None: follows the text), height, text at start.
LAYOUT = {
    "Panel1": (3, 2, 119, 233, ""),
    "Image1": (2, 2, 115, 229, ""),
    "PLMsg": (129, 11, 300, 33, CAPTION),
    "Label3": (131, 48, None, 12, ""),
    "LBL_Updating": (131, 69, 296, 12, None),
    "Label4": (131, 96, None, 12, ""),
    "Label1": (128, 128, 54, 12, "当前进度:"),
    "PB_Curr": (184, 126, 241, 16, ""),
    "Label2": (128, 168, 54, 12, "整体进度:"),
    "PB_All": (184, 166, 241, 16, ""),
}


def installation(h):
    """An installation whose update server refuses connections."""
    app = h.dir("app")
    h.set_registry({"UpdatePath": h.native_path(app), "URL": f"http://127.0.0.1:{unused_port()}/"})
    return app


def test_gate_without_update_argument_shows_nothing(h):
    installation(h)
    work = h.dir("work")
    for args in ([], ["update"], ["other", "UPDATE"], ["Update"]):
        exe = h.updater_copy(work, "file.exe")
        run = h.start(exe, args, work)
        code = run.wait(60)
        check(code == 0, f"{args}: exit code {code}")
        check(sorted(p.name for p in work.iterdir()) == ["file.exe"], f"{args}: files written")
        check(not (h.root / "app" / "UpdateBak").exists(), f"{args}: backup directory made")
    if not h.windows:
        check(not any(h.root.glob("trace-*.txt")), "a window was shown")


def test_window_layout_close_refused_and_finish(h):
    app = installation(h)
    work = h.dir("work")
    exe = h.updater_copy(work, "file.exe")
    run = h.start(exe, ["UPDATE"], work)
    state = run.window()
    check(state.caption == CAPTION, f"caption {state.caption!r}")
    check((state.width, state.height) == (434, 237), f"client size {state.width}x{state.height}")
    centre_x = state.left + state.width / 2 - state.screen_width / 2
    centre_y = state.top + state.height / 2 - state.screen_height / 2
    check(abs(centre_x) <= 8 and abs(centre_y) <= 40, f"not centred: {centre_x}, {centre_y}")
    for name, (x, y, w, height, text) in LAYOUT.items():
        c = state.controls.get(name)
        check(c is not None, f"{name} missing")
        check((c.x, c.y, c.h) == (x, y, height), f"{name} at {(c.x, c.y, c.h)}")
        check(w is None or c.w == w, f"{name} width {c.w}")
        check(text is None or c.text == text, f"{name} text {c.text!r}")
    for bar in ("PB_Curr", "PB_All"):
        check(state.controls[bar].pos == 0, f"{bar} not empty")

    check(run.try_close(), "the window closed")
    check(run.alive(), "the program ended on a close request")

    # A second later the run starts; its server refuses, which the user reads.
    box = run.box(30)
    check(box.caption == BOX_CAPTION, f"box caption {box.caption!r}")
    check(box.text == "获取升级配置文件失败，请梢候重试\r\rSocket Error # 10061\r\nConnection refused.",
          f"box text {box.text!r}")
    check(box.icon in ("error", "unknown"), f"icon {box.icon}")
    code = run.wait(60)
    check(code == 0, f"exit code {code}")
    check((app / "UpdateBak").is_dir(), "no backup directory")
    if not h.windows:
        check("正在获取升级配置文件,请稍候..." in run.texts("LBL_Updating"), "first step not shown")
    # The finish routine removed the executable, and its script removed itself.
    eventually(lambda: not exe.exists(), 30, what="the executable to be deleted")
    eventually(lambda: not (work / "delme.bat").exists(), 30, what="delme.bat to be deleted")
