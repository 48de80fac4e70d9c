#!/usr/bin/env python3
"""The demo's driver: publishes release 6.3 on 127.0.0.1, installs release
6.2 in a scratch directory with its registry file, runs the updater there as
file.exe, answers its message box as a person would and shows what changed."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from harness import Display, ReleaseServer, find_window, pe_client, tree, unescape  # noqa: E402


def digest(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()[:12]


def main() -> int:
    build = Path(sys.argv[1]).resolve()
    demo = Path(tempfile.mkdtemp(prefix="updater-demo-"))
    app = demo / "app"
    app.mkdir()

    def client(version):
        return pe_client(build, demo / f"client-{version}.exe", version)

    # The installed release 6.2 and the published release 6.3.
    (app / "client.exe").write_bytes(client("6.2.0.1"))
    (app / "data.dll").write_bytes(b"data of release 6.2\n" * 1000)
    (app / "lang").mkdir()
    (app / "lang" / "zh.txt").write_text("release 6.2 texts\n")
    server = ReleaseServer()
    server.release("6.3", {"client.exe": client("6.3.0.0"),
                           "data.dll": b"data of release 6.3\n" * 200000,
                           "lang\\zh.txt": "release 6.3 texts\n".encode()})
    (demo / "hklm.reg").write_text(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Molva]\r\n"
        f'"UpdatePath"="{app}"\r\n"URL"="{server.base}"\r\n')
    shutil.copy2(build / "updater", app / "file.exe")
    before = tree(app)

    display = None
    env = dict(os.environ, HKLM_REG_FILE=str(demo / "hklm.reg"),
               UPDATER_UI_TRACE=str(demo / "window.txt"))
    if not env.get("DISPLAY"):
        display = Display()
        env["DISPLAY"] = display.name
    print(f"Release server: {server.base}   installation: {app}   display: {env['DISPLAY']}")
    proc = subprocess.Popen(["./file.exe", "UPDATE"], cwd=app, env=env)

    # Wait for the final message box, take a picture, answer it.
    trace = demo / "window.txt"
    deadline = time.monotonic() + 120
    box = None
    while proc.poll() is None and time.monotonic() < deadline:
        lines = trace.read_text(encoding="utf-8").splitlines() if trace.exists() else []
        box = next((l.split("\t") for l in lines if l.startswith("box\t")), None)
        if box:
            break
        time.sleep(0.1)
    if box:
        time.sleep(0.5)
        if display:
            shot = demo / "window.png"
            subprocess.run(f"xwd -root -silent | convert xwd:- {shot}", shell=True, env=env)
            print(f"Screenshot of the window and its box: {shot}")
        print(f"Message box: [{box[2]}] {box[3]}")
        if display or not sys.stdin.isatty():
            wid = find_window(env, box[2], proc.pid)
            if wid:
                subprocess.run(["xdotool", "key", "--window", wid, "Return"], env=env,
                               stderr=subprocess.DEVNULL)
    code = proc.wait(120)
    server.close()
    if display:
        display.close()

    print("Status lines shown:")
    for line in trace.read_text(encoding="utf-8").splitlines():
        if line.startswith("text\tLBL_Updating\t") or line.startswith("text\tPLMsg\t"):
            print("   ", unescape(line.split("\t", 2)[2]))
    print(f"The updater ended with exit code {code}. Requests: {', '.join(server.requests)}")
    after = tree(app)
    print("Installation directory (before -> after):")
    for name in sorted(set(before) | set(after)):
        old = digest(before[name]) if name in before else "-"
        new = digest(after[name]) if name in after else "-"
        print(f"    {name:16} {old:>12} -> {new:12} {'(changed)' if old != new else ''}")
    print("Backup directory:", ", ".join(sorted(tree(app / "UpdateBak", skip=()))))
    return code


if __name__ == "__main__":
    sys.exit(main())
