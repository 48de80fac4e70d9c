#!/usr/bin/env python3
"""The demo's driver: packs and signs release 6.3 with the publisher's tool
(with patches from release 6.2 and compressed copies),
serves it over HTTPS from nginx on 127.0.0.1 (with a certificate authority of
the demo's own, which only the updater it starts trusts), installs release 6.2 in a scratch
directory with its registry file, runs the updater there as file.exe,
answers its message box as a person would and shows what changed; then does
the same with a release changed on the server after it was signed."""
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from harness import Display, find_window, pe_client, tree, unescape  # noqa: E402
from nginx import Nginx  # noqa: E402
from tls_ca import TestCA  # noqa: E402


def digest(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()[:12]


class Demo:
    def __init__(self, updater: Path, tools: Path, key: Path):
        self.updater, self.tools, self.key = updater, tools, key
        self.root = Path(tempfile.mkdtemp(prefix="updater-demo-"))
        self.www = self.root / "www"
        self.www.mkdir()
        ca = TestCA(self.root / "ca")
        self.nginx = Nginx(self.root, self.www, tls=ca.server())
        self.display = None
        # The demo's own authority is trusted by the updaters it starts alone.
        self.env = dict(os.environ, HKLM_REG_FILE=str(self.root / "hklm.reg"),
                        SSL_CERT_FILE=str(ca.pem))
        if not self.env.get("DISPLAY"):
            self.display = Display()
            self.env["DISPLAY"] = self.display.name

    def client(self, version):
        return pe_client(self.tools, self.root / f"client-{version}.exe", version)

    def old_release(self) -> Path:
        """Release 6.2 as its publisher kept it: what the installation has."""
        old = self.root / "release-6.2"
        if not old.exists():
            (old / "lang").mkdir(parents=True)
            (old / "client.exe").write_bytes(self.client("6.2.0.1"))
            (old / "data.dll").write_bytes(random.Random(62).randbytes(4 << 20))
            (old / "lang" / "zh.txt").write_text("release 6.2 texts\n")
        return old

    def publish(self) -> Path:
        """Release 6.3 as a folder, packed and signed by the publisher's tool,
        with a patch from each file of release 6.2 and compressed copies."""
        old = self.old_release()
        rel = self.www / "rel"
        (rel / "lang").mkdir(parents=True)
        (rel / "client.exe").write_bytes(self.client("6.3.0.0"))
        # A few places of the large file change, as between two builds.
        data = bytearray((old / "data.dll").read_bytes())
        for at in range(100_000, len(data), 1 << 20):
            data[at:at + 64] = b"release 6.3".ljust(64, b".")
        (rel / "data.dll").write_bytes(bytes(data))
        (rel / "lang" / "zh.txt").write_text("release 6.3 texts\n")
        subprocess.run([str(self.tools / "updater-release"), "pack", str(rel), "--version", "6.3",
                        "--encoding", "utf-8", "--sign", str(self.key), "--compress",
                        "--delta-from", str(old)], check=True)
        self.release_bytes = sum(len(data) for name, data in tree(rel).items()
                                 if not name.startswith("delta/") and "update.ini" not in name)
        print(f"Release 6.3 packed and signed in {rel}:")
        print("    " + (rel / "update.ini").read_text().replace("\r\n", "\n    ").rstrip())
        return rel

    def install(self, name: str) -> Path:
        """Release 6.2 installed, with the updater as the client starts it."""
        app = self.root / name
        shutil.copytree(self.old_release(), app)
        (self.root / "hklm.reg").write_text(
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Molva]\r\n"
            f'"UpdatePath"="{app}"\r\n"URL"="{self.nginx.base}/rel/"\r\n')
        shutil.copy2(self.updater, app / "file.exe")
        return app

    def update(self, app: Path, title: str) -> int:
        """Runs the updater in app, answers its box, shows what it did."""
        print(f"\n== {title}")
        before = tree(app)
        trace = self.root / f"{app.name}-window.txt"
        env = dict(self.env, UPDATER_UI_TRACE=str(trace))
        served = len(self.nginx.log())
        proc = subprocess.Popen(["./file.exe", "UPDATE"], cwd=app, env=env)
        box = None
        deadline = time.monotonic() + 120
        while proc.poll() is None and time.monotonic() < deadline:
            lines = trace.read_text(encoding="utf-8").splitlines() if trace.exists() else []
            box = next((l.split("\t") for l in lines if l.startswith("box\t")), None)
            if box:
                break
            time.sleep(0.1)
        if box:
            time.sleep(0.5)
            if self.display:
                shot = self.root / f"{app.name}.png"
                subprocess.run(f"xwd -root -silent | convert xwd:- {shot}", shell=True, env=env)
                print(f"Screenshot of the window and its box: {shot}")
            print(f"Message box: [{box[2]}] {unescape(box[3])!r}")
            if self.display or not sys.stdin.isatty():
                wid = find_window(env, box[2], proc.pid)
                if wid:
                    subprocess.run(["xdotool", "key", "--window", wid, "Return"], env=env,
                                   stderr=subprocess.DEVNULL)
        code = proc.wait(120)
        print("Status lines shown:")
        for line in trace.read_text(encoding="utf-8").splitlines():
            if line.startswith("text\tLBL_Updating\t") or line.startswith("text\tPLMsg\t"):
                print("   ", unescape(line.split("\t", 2)[2]))
        rows = self.nginx.log()[served:]
        asked = ", ".join(row[4] for row in rows)
        print(f"The updater ended with exit code {code}. Requests: {asked}")
        fetched = sum(row[3] for row in rows if not row[4].endswith((".ini", ".minisig")))
        print(f"Bytes fetched for the files: {fetched:,} of the release's {self.release_bytes:,} "
              f"({100 * fetched / self.release_bytes:.2f}%)")
        after = tree(app)
        print("Installation directory (before -> after):")
        for name in sorted(set(before) | set(after)):
            old = digest(before[name]) if name in before else "-"
            new = digest(after[name]) if name in after else "-"
            print(f"    {name:16} {old:>12} -> {new:12} {'(changed)' if old != new else ''}")
        return code

    def close(self):
        self.nginx.close()
        if self.display:
            self.display.close()


def main() -> int:
    demo = Demo(Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve(), Path(sys.argv[3]))
    try:
        print(f"Release server: {demo.nginx.base}/rel/   scratch: {demo.root}")
        rel = demo.publish()
        code = demo.update(demo.install("app"), "A signed release updates the installation")
        # Someone on the way (a mirror, a proxy) swaps a file and lists its hash.
        listed = (rel / "update.ini").read_bytes()
        (rel / "data.dll").write_bytes(b"not what the publisher released\n")
        digest_new = hashlib.sha256((rel / "data.dll").read_bytes()).hexdigest()
        lines = [l if not l.startswith(b"Hash2=") else b"Hash2=sha256:" + digest_new.encode() + b"\r\n"
                 for l in listed.splitlines(True)]
        (rel / "update.ini").write_bytes(re.sub(rb"Size2=\d+", b"Size2=32", b"".join(lines)))
        refused = demo.update(demo.install("app-tampered"),
                              "The same updater refuses the release changed after signing")
        return code or refused
    finally:
        demo.close()


if __name__ == "__main__":
    sys.exit(main())
