"""End-to-end harness: runs the real updater with a real window under Xvfb,
on Linux natively and the Windows builds under wine (the 32-bit one under
the 32-bit loader, as on 64-bit Windows), reads back what the window
shows and answers message boxes the way a person would."""
from __future__ import annotations

import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

from wine_run import WINE, WINE32, WINESERVER, prefix_for, prepare, wine_env, wine_for

CAPTION = "Tarnel客户端自动升级"
BOX_CAPTION = "系统提示"
KEY = r"SoftWare\Molva"
# Where the system keeps its proxy settings, and the flags of their binary form.
CONNECTIONS = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
PROXY_DIRECT, PROXY_FIXED, PROXY_SCRIPT, PROXY_DETECT = 1, 2, 4, 8


# The first line of an AddressSanitizer or LeakSanitizer report, an
# UndefinedBehaviorSanitizer finding, or the summary line of any of them.
SANITIZER_REPORT = re.compile(r"^==\d+==ERROR: \w+Sanitizer|: runtime error: |^SUMMARY: \w+Sanitizer",
                              re.MULTILINE)


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# Every time limit of the tests is multiplied by this: scripts/test raises it
# for the shipped build where qemu's emulator runs it (a few times slower).
TIME_SCALE = float(os.environ.get("E2E_TIME_SCALE", "1"))


def eventually(probe, timeout=15.0, interval=0.05, what="condition"):
    """Polls probe() until it returns something true; returns that value."""
    end = time.monotonic() + timeout * TIME_SCALE
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(interval)


def run_captured(args, env, timeout):
    """Runs a command and returns (exit code, stdout, stderr). The output goes
    through files, not pipes: a wine command may start the wineserver, which
    would inherit a pipe and keep it open long after the command ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(args, env=env, stdout=out, stderr=err,
                              timeout=timeout * TIME_SCALE).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read()


def complete_lines(path: Path, start: int = 0) -> list[str]:
    """The whole lines of a file that another process may be writing, from the
    byte offset start: its bytes up to the last line end, decoded as UTF-8 (a
    read that ends inside a line, or inside a character of it, leaves that line
    for the next read). A missing file has none."""
    try:
        with open(path, "rb") as file:
            file.seek(start)
            data = file.read()
    except FileNotFoundError:
        return []
    return data[: data.rfind(b"\n") + 1].decode("utf-8").splitlines()


def unescape(text: str) -> str:
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def find_window(env: dict, title: str, pid: int | None = None) -> str | None:
    """The id of a visible X window with that title (of that process), or None."""
    search = ["xdotool", "search", "--onlyvisible"] + (["--pid", str(pid)] if pid else [])
    out = subprocess.run(search + ["--name", "."], env=env, capture_output=True, text=True).stdout
    for wid in out.split():
        name = subprocess.run(["xdotool", "getwindowname", wid], env=env,
                              capture_output=True, text=True).stdout.rstrip("\n")
        if name == title:
            return wid
    return None


def pe_client(bin_dir: Path, out: Path, version: str) -> bytes:
    """A client.exe image with that version resource, made by the Linux build's make_pe."""
    subprocess.run([str(bin_dir / "tests" / "make_pe"), str(out), version], check=True)
    return out.read_bytes()


@dataclass
class Box:
    caption: str
    icon: str
    text: str


@dataclass
class Control:
    name: str
    x: int
    y: int
    w: int
    h: int
    text: str
    pos: int = -1
    max: int = -1


@dataclass
class WindowState:
    caption: str
    left: int
    top: int
    width: int
    height: int
    screen_width: int
    screen_height: int
    controls: dict = field(default_factory=dict)


class Display:
    """A private X server for one test run. It never resets: by default the
    server resets when its last client leaves, hangs up on whoever connects
    meanwhile, and writes its number to the descriptor again, which must
    therefore stay open while it runs."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        self.ready = read
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        self.name = ":" + number.decode().strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
        os.close(self.ready)


PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTPS_PROXY", "HTTP_PROXY", "no_proxy",
                   "NO_PROXY", "all_proxy", "ALL_PROXY")


class Harness:
    """What one test case gets: a scratch directory, the registry of the
    system under test, and a way to start the updater."""

    def __init__(self, build: str, bin_dir: Path, display: Display):
        self.build = build
        self.windows = build != "linux"
        self.bin_dir = bin_dir
        self.display = display
        self.root = Path(tempfile.mkdtemp(prefix="updater-e2e-"))
        self.procs: list = []
        self.servers: list = []
        self.roots: list[Path] = []  # certificates trusted in the wine prefix for this test
        self.credentials: list[str] = []  # servers with a saved logon in the wine prefix
        self.mounts: list[Path] = []
        if self.windows:
            # The loader of the build's own programs (the updater, the helpers).
            self.wine = WINE32 if build == "win32" else WINE
            self.prefix = prefix_for(bin_dir)
            prepare(self.prefix)
            self.env = wine_env(self.prefix, display.name)
        else:
            self.env = dict(os.environ, DISPLAY=display.name, HKLM_REG_FILE=str(self.root / "hklm.reg"))
        # The machine's own proxy settings are not the test's: a test sets its
        # own (wine's WinHTTP takes http_proxy for the machine's setting too).
        for name in PROXY_VARIABLES:
            self.env.pop(name, None)
        self.proxy_settings_written = False
        self.set_registry(None)

    def dir(self, name: str) -> Path:
        path = self.root / name
        path.mkdir(parents=True, exist_ok=True)
        return path

    def tmpfs(self, name: str, size_kb: int) -> Path:
        """A directory on a file system of its own, that small (needs root);
        unmounted when the test ends."""
        path = self.dir(name)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size_kb}k,mode=0755", "tmpfs",
                        str(path)], check=True)
        self.mounts.append(path)
        return path

    def make_read_only(self, mount: Path) -> None:
        subprocess.run(["mount", "-o", "remount,ro", str(mount)], check=True)

    def native_path(self, path: Path) -> str:
        """The path as the program under test writes it."""
        return "Z:" + str(path).replace("/", "\\") if self.windows else str(path)

    def set_registry(self, values: dict | None, view: int | None = None) -> None:
        """values: name -> str (a string value) or int (a dword); None: no key at all.
        view: 32 or 64, the registry view written on Windows; by default the
        one the build reads."""
        if self.windows:
            # A 32-bit program on 64-bit Windows reads the registry's 32-bit
            # view (Software\WOW6432Node), which the installer writes.
            view = view or (32 if self.build == "win32" else 64)
            view = [f"/reg:{view}"]
            self._wine(["reg", "delete", "HKLM\\" + KEY, "/f", *view], check=False)
            for name, value in (values or {}).items():
                kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else ("REG_SZ", value)
                self._wine(["reg", "add", "HKLM\\" + KEY, "/v", name, "/t", kind, "/d", data, "/f",
                            *view])
            return
        lines = ["Windows Registry Editor Version 5.00", ""]
        if values is not None:
            lines.append("[HKEY_LOCAL_MACHINE\\" + KEY + "]")
            for name, value in values.items():
                if isinstance(value, int):
                    lines.append(f'"{name}"=dword:{value:08x}')
                else:
                    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
                    lines.append(f'"{name}"="{escaped}"')
        (self.root / "hklm.reg").write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")

    def set_proxy_settings(self, user: dict | None = None,
                           machine: tuple[str, str] | None = None) -> None:
        """The proxy settings of the build's wine prefix (Windows builds), in
        the binary forms WinHTTP reads: user, as Internet Options writes it
        (HKCU ...\\Connections, DefaultConnectionSettings): a dict of proxy,
        bypass, script (a PAC URL) and detect (bool), None for a direct
        connection; machine, as `netsh winhttp set proxy` writes it (HKLM
        ...\\Connections, WinHttpSettings): (proxy, bypass), None for none.
        Both values are taken out when the test ends."""
        def counted(text: str) -> bytes:
            return struct.pack("<I", len(text)) + text.encode("ascii")
        user = user or {}
        flags = (PROXY_DIRECT | (PROXY_FIXED if user.get("proxy") else 0) |
                 (PROXY_SCRIPT if user.get("script") else 0) |
                 (PROXY_DETECT if user.get("detect") else 0))
        blob = (struct.pack("<III", 0x46, 1, flags) + counted(user.get("proxy", "")) +
                counted(user.get("bypass", "")) + counted(user.get("script", "")) + bytes(32))
        proxy, bypass = machine or ("", "")
        machine_blob = (struct.pack("<III", 0x18, 0, PROXY_FIXED if machine else PROXY_DIRECT) +
                        counted(proxy) + counted(bypass))
        self.proxy_settings_written = True
        for key, name, data in (("HKCU\\" + CONNECTIONS, "DefaultConnectionSettings", blob),
                                ("HKLM\\" + CONNECTIONS, "WinHttpSettings", machine_blob)):
            self._wine(["reg", "add", key, "/v", name, "/t", "REG_BINARY", "/d", data.hex(), "/f",
                        *self._view(key)])

    def _view(self, key: str) -> list[str]:
        # A 32-bit build reads HKLM\Software in the registry's 32-bit view.
        return ["/reg:32"] if self.build == "win32" and key.startswith("HKLM") else []

    def _wine(self, args, check=True):
        # A wine tool now and then fails at once on a loaded machine, while the
        # prefix's wineserver is still busy with the previous program; it is
        # tried three times. Wine's tools write their errors to stdout.
        for attempt in range(3):
            code, out, err = run_captured([WINE, *args], self.env, 120)
            if code == 0 or not check:
                return
            time.sleep(1 + attempt)
        raise Failure(f"wine {args[0]} failed ({code}): {(out + err)[-500:]!r}")

    @property
    def updater(self) -> Path:
        """The updater the tests run: the shipped one with the tests' hooks."""
        return self.bin_dir / "tests" / ("updater_test.exe" if self.windows else "updater_test")

    def updater_copy(self, directory: Path, name: str | None = None) -> Path:
        """A copy of the updater binary (the finish routine deletes it)."""
        source = self.updater
        target = directory / (name or ("updater.exe" if self.windows else "updater"))
        shutil.copy2(source, target)
        return target

    def client(self, version: str) -> bytes:
        """A client.exe with that version resource: on Windows a real program
        that leaves "client-started" behind when it is started."""
        if self.windows:
            name = {"6.2.0.1": "old", "6.3.0.0": "new"}[version]
            return (self.bin_dir / "tests" / f"fake_client_{name}.exe").read_bytes()
        return pe_client(self.bin_dir, self.root / f"client-{version}.exe", version)

    def server(self) -> "ReleaseServer":
        server = ReleaseServer()
        self.servers.append(server)
        return server

    def raw_server(self) -> "RawServer":
        server = RawServer()
        self.servers.append(server)
        return server

    def nginx(self, root: Path, extra: str = "", tls: tuple[Path, Path] | None = None):
        """Debian's nginx serving root on 127.0.0.1 (over HTTPS with tls, see
        Nginx); stopped when the test ends."""
        from nginx import Nginx
        server = Nginx(self.dir(f"nginx-scratch{len(self.servers)}"), root, extra, tls)
        self.servers.append(server)
        return server

    def proxy(self, user: str | None = None, password: str | None = None):
        """Debian's tinyproxy on 127.0.0.1 (asking for Basic credentials when
        given); stopped when the test ends."""
        from tinyproxy import TinyProxy
        server = TinyProxy(self.dir(f"proxy-scratch{len(self.servers)}"), user, password)
        self.servers.append(server)
        return server

    def release_tool(self, *args: str) -> tuple[int, str, str]:
        """Runs this build's updater-release; paths among args are given as the
        program writes them (native_path). Returns (exit code, stdout, stderr)."""
        if self.windows:
            # E2E_RELEASE_TOOL names another build's tool: under qemu's emulator
            # the 32-bit tool's threads (its patches) crash now and then, and the
            # tool is not what the shipped build's tests are about.
            tool = Path(os.environ.get("E2E_RELEASE_TOOL") or self.bin_dir / "updater-release.exe")
            command = [wine_for(tool), str(tool), *args]
        else:
            command = [str(self.bin_dir / "updater-release"), *args]
        code, out, err = run_captured(command, self.env, 300)
        return code, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def pack(self, folder: Path, version: str, *extra: str) -> None:
        """Packs the release in folder for this build's updater (names in code
        page 936 for Windows, UTF-8 for Linux)."""
        args = ["pack", self.native_path(folder), "--version", version, *extra]
        if not self.windows:
            args += ["--encoding", "utf-8"]
        code, out, err = self.release_tool(*args)
        check(code == 0, f"updater-release pack failed ({code}): {out}{err}")

    def trust_root(self, certificate: Path) -> None:
        """A root certificate (PEM or DER) trusted by the Windows programs this
        test starts: added to the machine's roots of the build's wine prefix
        (never the machine's own store), and taken out when the test ends."""
        self._trust("add", certificate)
        self.roots.append(certificate)

    def save_credential(self, server: str, user: str, password: str) -> None:
        """The user's logon for a server (user as DOMAIN\\name) saved in the
        credential manager of the build's wine prefix; deleted when the test
        ends."""
        self._credential("add", server, user, password)
        self.credentials.append(server)

    def _credential(self, *args: str) -> None:
        helper = self.bin_dir / "tests" / "save_credential.exe"
        code, out, err = run_captured([self.wine, str(helper), *args], self.env, 120)
        check(code == 0, f"save_credential {args[0]} failed ({code}): {(out + err)[-300:]!r}")

    def _trust(self, action: str, certificate: Path) -> None:
        helper = self.bin_dir / "tests" / "trust_root.exe"
        code, out, err = run_captured([self.wine, str(helper), action,
                                       self.native_path(certificate)], self.env, 120)
        check(code == 0, f"trust_root {action} failed ({code}): {(out + err)[-300:]!r}")

    def start(self, exe: Path, args: list[str], cwd: Path, watch=False) -> "Running":
        """watch: the Windows build's window texts are read every few
        milliseconds from before the window opens, for texts()."""
        proc = (WineRunning if self.windows else LinuxRunning)(self, exe, args, cwd, watch)
        self.procs.append(proc)
        return proc

    def close(self) -> str:
        """Ends what the test started; returns what a sanitizer build reported
        about any of its processes ("" when nothing)."""
        for proc in self.procs:
            proc.kill()
        for server in self.servers:
            server.close()
        for root in self.roots:
            try:
                self._trust("remove", root)
            except Failure as failure:
                print(failure, flush=True)  # what else close() does must still happen
        for server in self.credentials:
            try:
                self._credential("remove", server)
            except Failure as failure:
                print(failure, flush=True)
        if self.proxy_settings_written:
            # Back to the prefix's own state: no setting of either kind.
            for key, name in (("HKCU\\" + CONNECTIONS, "DefaultConnectionSettings"),
                              ("HKLM\\" + CONNECTIONS, "WinHttpSettings")):
                self._wine(["reg", "delete", key, "/v", name, "/f", *self._view(key)], check=False)
        if self.windows:
            subprocess.run([WINESERVER, "-k"], env=self.env, timeout=60)
        for mount in reversed(self.mounts):
            # Lazily when something still holds a file there: never left mounted.
            if subprocess.run(["umount", str(mount)], stderr=subprocess.DEVNULL).returncode:
                subprocess.run(["umount", "-l", str(mount)])
        reports = ""
        for errors in sorted(self.root.glob("stderr-*.txt")):
            text = errors.read_text(errors="replace")
            if SANITIZER_REPORT.search(text):
                reports += f"== {errors.name}\n{text}"
        shutil.rmtree(self.root, ignore_errors=True)
        return reports


class Running:
    proc: subprocess.Popen

    def wait(self, timeout=30.0) -> int:
        return self.proc.wait(timeout * TIME_SCALE)

    def alive(self) -> bool:
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


class LinuxRunning(Running):
    """The native build; its window reports what it shows to a trace file."""

    def __init__(self, h: Harness, exe: Path, args, cwd: Path, watch=False):
        self.h = h
        self.trace = h.root / f"trace-{len(h.procs)}.txt"
        env = dict(h.env, UPDATER_UI_TRACE=str(self.trace))
        # Standard error goes to a file that close() reads for sanitizer reports.
        with open(h.root / f"stderr-{len(h.procs)}.txt", "wb") as errors:
            self.proc = subprocess.Popen([str(exe), *args], cwd=cwd, env=env,
                                         stdout=subprocess.DEVNULL, stderr=errors)
        self.boxes_answered = 0

    def lines(self) -> list[list[str]]:
        return [[unescape(f) for f in line.split("\t")] for line in complete_lines(self.trace)]

    def window(self, timeout=15.0) -> WindowState:
        lines = eventually(lambda: [l for l in self.lines() if l[0] in ("window", "control")],
                           timeout, what="the update window")
        w = lines[0]
        state = WindowState(w[1], *map(int, w[2:8]))
        for l in lines[1:]:
            state.controls[l[1]] = Control(l[1], *map(int, l[2:6]), l[8], int(l[6]), int(l[7]))
        for l in self.lines():
            if l[0] == "text" and l[1] in state.controls:
                state.controls[l[1]].text = l[2]
            elif l[0] == "progress" and l[1] in state.controls:
                state.controls[l[1]].pos, state.controls[l[1]].max = int(l[2]), int(l[3])
        return state

    def texts(self, name: str) -> list[str]:
        """Every text the control showed, in order."""
        return [l[2] for l in self.lines() if l[0] == "text" and l[1] == name]

    def box(self, timeout=15.0) -> Box:
        """Waits for the next message box, presses OK and returns what it said."""
        def pending():
            boxes = [l for l in self.lines() if l[0] == "box"]
            return boxes[self.boxes_answered] if len(boxes) > self.boxes_answered else None
        line = eventually(pending, timeout, what="a message box")
        window_id = eventually(lambda: self._find_window(line[2]), 10, what="the box window")
        subprocess.run(["xdotool", "key", "--window", window_id, "Return"], env=self.h.env)
        self.boxes_answered += 1
        eventually(lambda: sum(l[0] == "box-closed" for l in self.lines()) >= self.boxes_answered
                   or not self.alive(), 10, what="the box to close")
        return Box(line[2], line[1], line[3])

    def _find_window(self, title: str) -> str | None:
        return find_window(self.h.env, title, self.proc.pid)

    def try_close(self) -> bool:
        """Asks the window to close from the keyboard (Escape goes to the same
        close handler as the close box); returns whether the window is still there."""
        wid = eventually(lambda: self._find_window(CAPTION), 10, what="the window")
        before = sum(l[0] == "close-refused" for l in self.lines())
        subprocess.run(["xdotool", "key", "--window", wid, "Escape"], env=self.h.env,
                       stderr=subprocess.DEVNULL)
        eventually(lambda: sum(l[0] == "close-refused" for l in self.lines()) > before,
                   10, what="the close request to be answered")
        return self._find_window(CAPTION) is not None


class WineRunning(Running):
    """A Windows build under wine; a small automation helper of the same build
    reads the window's controls and presses OK on message boxes."""

    def __init__(self, h: Harness, exe: Path, args, cwd: Path, watch=False):
        self.h = h
        self.watcher = None
        if watch:
            self._watch()
        self.proc = subprocess.Popen([h.wine, str(exe), *args], cwd=cwd, env=h.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def probe(self, *args, timeout=60) -> list[list[str]]:
        probe = self.h.bin_dir / "tests" / "uiprobe.exe"
        code, out, _ = run_captured([self.h.wine, str(probe), *args], self.h.env, timeout)
        if code != 0:
            raise Failure(f"uiprobe {' '.join(args)} failed ({code})")
        text = out.decode("gbk", errors="replace")
        return [[unescape(f) for f in line.split("\t")] for line in text.splitlines() if line]

    def window(self, timeout=15.0) -> WindowState:
        lines = self.probe("window", str(int(timeout * TIME_SCALE * 1000)))
        w = next(l for l in lines if l[0] == "window")
        state = WindowState(w[1], *map(int, w[2:8]))
        for l in lines:
            if l[0] == "control":
                state.controls[l[1]] = Control(l[1], *map(int, l[3:7]), l[10],
                                               int(l[7]), int(l[8]))
        return state

    def _watch(self, timeout=120.0) -> None:
        probe = self.h.bin_dir / "tests" / "uiprobe.exe"
        self.watched = self.h.root / f"watch-{len(self.h.procs)}.txt"
        with open(self.watched, "wb") as out:
            self.watcher = subprocess.Popen([self.h.wine, str(probe), "watch",
                                             str(int(timeout * TIME_SCALE * 1000))],
                                            env=self.h.env, stdout=out, stderr=subprocess.DEVNULL)

    def texts(self, name: str) -> list[str]:
        """Every text the control showed while watched, in order."""
        text = self.watched.read_bytes().decode("gbk", errors="replace")
        lines = [[unescape(f) for f in line.split("\t")] for line in text.splitlines() if line]
        return [l[2] for l in lines if len(l) == 3 and l[0] == "text" and l[1] == name]

    def kill(self):
        super().kill()
        if self.watcher and self.watcher.poll() is None:
            self.watcher.kill()
            self.watcher.wait(10)

    def box(self, timeout=15.0) -> Box:
        lines = self.probe("box", str(int(timeout * TIME_SCALE * 1000)))
        b = next(l for l in lines if l[0] == "box")
        return Box(b[1], b[2], b[3])

    def try_close(self) -> bool:
        lines = self.probe("close")
        c = next(l for l in lines if l[0] == "close")
        check(c[2] == "0", f"the window accepted the end of the session ({c[2]})")
        return c[1] == "1"

    def wait(self, timeout=30.0) -> int:
        code = self.proc.wait(timeout * TIME_SCALE)
        # Let started programs (the removal script) finish too.
        subprocess.run([WINESERVER, "-w"], env=self.h.env, timeout=timeout * TIME_SCALE)
        return code


def unused_port() -> int:
    """A port on 127.0.0.1 that nothing listens on."""
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ReleaseServer:
    """An HTTP/1.1 release server on 127.0.0.1 for one test: files by URL
    path, or a status to answer instead. Records the paths asked for."""

    def __init__(self):
        import http.server
        import threading
        self.files: dict[str, bytes] = {}
        self.statuses: dict[str, int] = {}
        self.headers: dict[str, list[tuple[str, str]]] = {}  # extra headers of a status answer
        self.requests: list[str] = []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                server.requests.append(self.path)
                status = server.statuses.get(self.path)
                body = server.files.get(self.path)
                if status is None and body is None:
                    status = 404
                if status is not None:
                    self.send_response(status)
                    for name, value in server.headers.get(self.path, []):
                        self.send_header(name, value)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        self.base = f"http://127.0.0.1:{self.httpd.server_address[1]}/rel/"

    def release(self, version: str, files: dict[str, bytes]) -> None:
        """Publishes update.ini listing the files (names in the program's form) and the files."""
        self.files.update(release_paths(version, files))

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def release_paths(version: str, files: dict[str, bytes], hashed=False) -> dict[str, bytes]:
    """update.ini listing the files (names in the program's form), with their
    sizes and hashes where hashed, and the files, by URL path below /rel/."""
    import hashlib
    lines = ["[Version]", f"NewVersion={version}", "[FileList]", f"Count={len(files)}"]
    paths = {}
    for i, name in enumerate(files, 1):
        lines.append(f"File{i}={name}")
        if hashed:
            lines.append(f"Size{i}={len(files[name])}")
            lines.append(f"Hash{i}=sha256:{hashlib.sha256(files[name]).hexdigest()}")
        paths["/rel/" + name.replace("\\", "/")] = files[name]
    paths["/rel/update.ini"] = ("\r\n".join(lines) + "\r\n").encode()
    return paths


class RawServer:
    """A server on 127.0.0.1 that answers each request path with a script of
    byte-level steps, for the faults a well-behaved server never shows:

    - bytes: sent as they are;
    - ("trickle", bytes, seconds): sent one byte at a time, that long apart;
    - ("pause", seconds): nothing sent for that long;
    - ("endless", bytes): bytes sent again and again until the client goes;
    - "close": the connection is closed (FIN);
    - "reset": the connection is reset (RST, through SO_LINGER 0);
    - a function: called with the connection, sends what it likes (a body
      generated as it goes, which no test need hold in memory).

    A path's `queued` scripts answer its first requests, one each; then its
    script in `scripts`, used for every request. Paths without a script get
    their file from `files` with a Content-Length (the part asked for, with
    206, for a Range request "bytes=k-"), or a 404. A script that does not
    close leaves the connection open for the client's next request. Records
    the paths asked for, and the Range each asked for (None for none)."""

    def __init__(self):
        import socket
        import threading
        self.files: dict[str, bytes] = {}
        self.scripts: dict[str, list] = {}
        self.queued: dict[str, list[list]] = {}
        self.requests: list[str] = []
        self.ranges: list[str | None] = []
        self.trickling = threading.Event()  # a trickle step has begun
        self.trickled = threading.Event()   # ... and has sent its last byte
        self.trickle_sent = 0  # bytes of the trickle sent so far
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.connections: list = []
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()
        self.base = f"http://127.0.0.1:{self.listener.getsockname()[1]}/rel/"

    def release(self, version: str, files: dict[str, bytes], hashed=False) -> None:
        self.files.update(release_paths(version, files, hashed))

    def _answer(self, path: str, asked: str | None) -> list:
        """The steps of the answer to a request of path (with the Range asked)."""
        if self.queued.get(path):
            return self.queued[path].pop(0)
        if path in self.scripts:
            return self.scripts[path]
        body = self.files.get(path)
        if body is None:
            return [b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"]
        if asked and asked.startswith("bytes=") and asked.endswith("-"):
            start = int(asked[6:-1])
            if start >= len(body):
                return [b"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n"]
            return [b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n"
                    b"Content-Length: %d\r\n\r\n" % (start, len(body) - 1, len(body),
                                                     len(body) - start) + body[start:]]
        return [b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body]

    def _accept(self):
        import threading
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.connections.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        import socket
        import struct
        pending = b""
        try:
            while True:
                while b"\r\n\r\n" not in pending:
                    data = conn.recv(65536)
                    if not data:
                        return
                    pending += data
                head, pending = pending.split(b"\r\n\r\n", 1)
                lines = head.decode("latin-1").split("\r\n")
                path = lines[0].split(" ")[1]
                asked = next((l.split(":", 1)[1].strip() for l in lines[1:]
                              if l.lower().startswith("range:")), None)
                self.requests.append(path)
                self.ranges.append(asked)
                steps = self._answer(path, asked)
                for step in steps:
                    if step == "close":
                        conn.shutdown(socket.SHUT_RDWR)
                        return
                    if step == "reset":
                        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                        return
                    if isinstance(step, tuple) and step[0] == "pause":
                        time.sleep(step[1])
                    elif isinstance(step, tuple) and step[0] == "endless":
                        while True:
                            conn.sendall(step[1])
                    elif isinstance(step, tuple) and step[0] == "trickle":
                        self.trickling.set()
                        for i in range(len(step[1])):
                            conn.sendall(step[1][i:i + 1])
                            self.trickle_sent = i + 1
                            time.sleep(step[2])
                        self.trickled.set()
                    elif callable(step):
                        step(conn)
                    else:
                        conn.sendall(step)
        except OSError:
            pass
        finally:
            conn.close()

    def close(self):
        import socket
        # Closing alone would leave a blocked accept() listening on the port.
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        for conn in self.connections:
            try:
                conn.close()
            except OSError:
                pass


def write_tree(root: Path, files: dict) -> Path:
    """Writes files (relative path with "/" -> bytes) below root."""
    for rel, data in files.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)
    return root


def tree(root: Path, skip=("UpdateBak",)) -> dict:
    """Every file below root with its bytes, by relative path."""
    files = {}
    for path in sorted(root.rglob("*")):
        rel = path.relative_to(root).as_posix()
        if path.is_file() and rel.split("/")[0] not in skip:
            files[rel] = path.read_bytes()
    return files
