#!/usr/bin/env python3
"""The updater's benchmarks, each a ratio against a reference measured in the
same run on the same machine: downloads against curl from one nginx on
127.0.0.1 (also through a relay that adds latency), where the time per file
goes for many small files, peak memory, the shipped executable's size and
imports, start-up to a mapped window, and the update list's key scan with a
huge Count.

Prints a table and writes every figure as JSON."""
from __future__ import annotations

import argparse
import json
import mmap
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from harness import (BOX_CAPTION, Display, complete_lines, find_window, pe_client,  # noqa: E402
                     unused_port)
from nginx import Nginx  # noqa: E402


class CuttingRelay:
    """A relay between the updater and nginx on 127.0.0.1 that, while armed,
    closes the first connection it relays once that many bytes have gone
    from nginx to the client (a transfer broken by the network); every other
    connection it relays whole. Runs that are compared all go through it."""

    def __init__(self, target_port: int):
        import socket
        import threading
        self.target_port = target_port
        self.cut_after = None  # bytes, or None: relay whole
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        import socket
        import threading
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.target_port))
            cut, self.cut_after = self.cut_after, None
            threading.Thread(target=self._pump, args=(client, server, None), daemon=True).start()
            threading.Thread(target=self._pump, args=(server, client, cut), daemon=True).start()

    @staticmethod
    def _pump(source, sink, limit):
        import socket
        buffer = bytearray(1 << 20)
        view = memoryview(buffer)
        sent = 0
        try:
            while True:
                want = len(buffer) if limit is None else min(len(buffer), limit - sent)
                n = source.recv_into(view[:want]) if want > 0 else 0
                if n == 0:
                    break
                sink.sendall(view[:n])
                sent += n
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        self.listener.close()


sys.path.insert(0, str(ROOT / "bench"))
import delta as delta_bench  # noqa: E402

def served_span(rows, prefix: str) -> float:
    """Seconds from the start of the first request under prefix to the end of the last."""
    rows = [r for r in rows if r[4].startswith(prefix)]
    if not rows or any(r[2] != 200 for r in rows):
        raise RuntimeError(f"requests under {prefix} failed: {rows[:3]}")
    return max(r[0] for r in rows) - min(r[0] - r[1] for r in rows)


def timed(args, cwd=None, env=None, during=None, check=True) -> dict:
    """Runs args under GNU time; returns wall, user+sys CPU and peak RSS."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.monotonic()
        errors = tempfile.TemporaryFile("w+")
        proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", report.name, *args], cwd=cwd, env=env,
                                stdout=subprocess.DEVNULL, stderr=errors)
        if during:
            during(proc)
        code = proc.wait(600)
        wall = time.monotonic() - start
        text = report.read()
    if code != 0 and check:
        errors.seek(0)
        raise RuntimeError(f"{args[0]} failed with {code}: {errors.read()[-500:]}")
    field = lambda name: float(re.search(rf"{name}: ([0-9.]+)", text).group(1))  # noqa: E731
    return {"wall": wall, "cpu": field("User time \\(seconds\\)") + field("System time \\(seconds\\)"),
            "rss_kib": int(field("Maximum resident set size \\(kbytes\\)"))}


class Bench:
    def __init__(self, build: Path, win32: Path, scratch: Path, runs: int):
        self.build = build
        self.win32 = win32
        self.scratch = scratch
        self.runs = runs
        self.releases: dict[str, dict[str, int]] = {}  # each published release's file sizes
        self.www = scratch / "www"
        self.www.mkdir()
        self.display = Display()
        self.nginx = Nginx(scratch, self.www)
        self.client_old = pe_client(build, scratch / "client-old.exe", "6.2.0.1")
        self.client_new = pe_client(build, scratch / "client-new.exe", "6.3.0.0")
        self.env = dict(os.environ, DISPLAY=self.display.name, HKLM_REG_FILE=str(scratch / "hklm.reg"))
        self.env.pop("UPDATER_UI_TRACE", None)
        self.minimal = scratch / "minimal_get"
        subprocess.run(["cc", "-O2", "-o", str(self.minimal), str(ROOT / "bench" / "minimal_get.c")],
                       check=True)

    def close(self):
        self.nginx.close()
        self.display.close()

    def publish(self, name: str, files: dict[str, int], count: int | None = None) -> list[str]:
        """A release under /name/: update.ini and files of the given sizes. Returns the file names."""
        rel = self.www / name
        if rel.is_dir():  # published already by an earlier figure of the run
            return list(files)
        rel.mkdir()
        block = os.urandom(1 << 20)
        self.releases[name] = files
        for file, size in files.items():
            with open(rel / file, "wb") as out:
                for offset in range(0, size, len(block)):
                    out.write(block[: min(len(block), size - offset)])
        lines = ["[Version]", "NewVersion=6.3", "[FileList]", f"Count={count or len(files)}"]
        lines += [f"File{i}={file}" for i, file in enumerate(files, 1)]
        (rel / "update.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode())
        return list(files)

    def publish_checked(self, name: str, source: str) -> None:
        """A release under /name/ of the same files as /source/ (hard links, not
        copies), its update.ini written by updater-release with sizes and hashes."""
        rel = self.www / name
        rel.mkdir()
        for file in (self.www / source).iterdir():
            if file.name != "update.ini":
                os.link(file, rel / file.name)
        self.releases[name] = self.releases[source]
        subprocess.run([str(self.build / "updater-release"), "pack", str(rel), "--version", "6.3",
                        "--encoding", "utf-8"], check=True, stdout=subprocess.DEVNULL)

    def clear_downloads(self, release: str | None = None) -> None:
        """Removes what the last run downloaded and leaves the next run the
        same memory as every other: memory that was just written and freed.
        This machine hands freed memory back to its host in passes a few
        seconds apart, and writing into memory the host has to supply again
        costs one to two seconds more per GiB. Without this step that cost fell
        on runs at random, and more often on the longer ones. Twice the
        release's bytes are written and freed, so that a pass during the run
        takes from the surplus."""
        for name in ("app", "curl", "minimal"):
            shutil.rmtree(self.scratch / name, ignore_errors=True)
        size = 2 * sum(self.releases.get(release, {}).values()) >> 20 << 20
        if size:
            block = b"\x01" * (1 << 20)
            with mmap.mmap(-1, size) as memory:
                for _ in range(size >> 20):
                    memory.write(block)

    def install(self, release: str | None = None) -> Path:
        """A fresh installation of the old release holding only client.exe."""
        self.clear_downloads(release)
        app = self.scratch / "app"
        app.mkdir()
        (app / "client.exe").write_bytes(self.client_old)
        shutil.copy2(self.build / "updater", app / "file.exe")
        return app

    def file_requests(self, release: str, start: int) -> list:
        """The log rows of the release's files (not its update.ini) from the
        log offset start."""
        return [r for r in self.nginx.log(start)
                if r[4].startswith(f"/{release}/") and r[4] != f"/{release}/update.ini"]

    def run_updater(self, release: str, base: str | None = None, app: Path | None = None,
                    during=None, wrap: list[str] = (), env: dict | None = None) -> dict:
        """One update run from a fresh installation (or the one given), through
        nginx or the server at base; during(proc) runs beside it instead of the
        box answering. wrap goes before the updater's command line (a tracer),
        env adds to its environment."""
        app = app or self.install(release)
        (self.scratch / "hklm.reg").write_text(
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Molva]\r\n"
            f'"UpdatePath"="{app}"\r\n"URL"="{base or self.nginx.base}/{release}/"\r\n')
        log_start = self.nginx.log_size()

        def answer_box(proc):
            # Looking for the box takes a few processes a time, which would
            # compete with the transfer for the two cores: the search starts
            # once nginx has logged the run's files (or after a minute, for a
            # run that fails before).
            deadline = time.monotonic() + 60
            while (len(self.file_requests(release, log_start)) < len(self.releases[release])
                   and proc.poll() is None and time.monotonic() < deadline):
                time.sleep(0.02)
            # The success box ends the run; answer it as soon as it is mapped.
            while proc.poll() is None:
                box = find_window(self.env, BOX_CAPTION)
                if box:
                    subprocess.run(["xdotool", "key", "--window", box, "Return"], env=self.env,
                                   stderr=subprocess.DEVNULL)
                time.sleep(0.1)

        result = timed([*wrap, "./file.exe", "UPDATE"], cwd=app, env=dict(self.env, **(env or {})),
                       during=during or answer_box, check=during is None)
        if during is None and ((app / "file.exe").exists() or not (app / "UpdateBak").is_dir()):
            raise RuntimeError("the update run did not finish")
        return result

    def compare_current(self, release: str) -> dict:
        """A release whose files are all installed already: the time from the
        updater's request of update.ini to its success box on the screen,
        against sha256sum over the same files; interleaved, medians. The
        updater must ask for nothing but update.ini."""
        names = sorted(self.releases[release])
        figures = {"updater": [], "sha256sum": []}
        for _ in range(self.runs):
            app = self.install(release)
            for name in names:
                os.link(self.www / release / name, app / name)
            trace = self.scratch / "current-trace.txt"
            trace.unlink(missing_ok=True)
            shown = {}

            def box_time(proc):
                while proc.poll() is None:
                    if any(line.startswith("box\t") for line in complete_lines(trace)):
                        shown["at"] = time.time()
                        break
                    time.sleep(0.002)
                while proc.poll() is None:
                    box = find_window(self.env, BOX_CAPTION)
                    if box:
                        subprocess.run(["xdotool", "key", "--window", box, "Return"],
                                       env=self.env, stderr=subprocess.DEVNULL)
                    time.sleep(0.1)
            before = self.nginx.log_size()
            env, self.env = self.env, dict(self.env, UPDATER_UI_TRACE=str(trace))
            try:
                self.run_updater(release, app=app, during=box_time)
            finally:
                self.env = env
            rows = [r for r in self.nginx.log(before) if r[4].startswith(f"/{release}/")]
            if [r[4] for r in rows] != [f"/{release}/update.ini"] or "at" not in shown:
                raise RuntimeError(f"the run asked for {[r[4] for r in rows][:3]} or showed no box")
            figures["updater"].append(shown["at"] - (rows[0][0] - rows[0][1]))
            start = time.monotonic()
            subprocess.run(["sha256sum", *names], cwd=self.www / release, check=True,
                           stdout=subprocess.DEVNULL)
            figures["sha256sum"].append(time.monotonic() - start)
        ratios = [u / r for u, r in zip(figures["updater"], figures["sha256sum"])]
        return {"ratio": {"median": statistics.median(ratios), "min": min(ratios),
                          "max": max(ratios)},
                **{who: statistics.median(xs) for who, xs in figures.items()}}

    def compare_resumed(self, release: str, file: str) -> dict:
        """The release's one large file cut by the network at 90% and resumed
        within the run, against the same run uncut, both through the relay;
        interleaved, medians. Then the updater killed at 90% of the file and
        started again: the bytes nginx sends for the file in the second run."""
        size = self.releases[release][file]
        relay = CuttingRelay(self.nginx.port)
        base = f"http://127.0.0.1:{relay.port}"
        path = f"/{release}/{file}"
        figures = {"whole": [], "cut": []}
        sent = []
        try:
            for _ in range(self.runs):
                for who in figures:
                    relay.cut_after = size * 9 // 10 if who == "cut" else None
                    before = self.nginx.log_size()
                    result = self.run_updater(release, base)
                    rows = [r for r in self.nginx.log(before) if r[4] == path]
                    result["transfer"] = max(r[0] for r in rows) - min(r[0] - r[1] for r in rows)
                    if who == "cut":
                        if len(rows) != 2 or rows[1][2] != 206:
                            raise RuntimeError(f"the cut file was not resumed: {rows}")
                        sent.append(sum(r[3] for r in rows) / size)
                    figures[who].append(result)
        finally:
            relay.close()
        # The resumed run waits a second before it resumes: that pause is
        # not the transfer's.
        ratios = [(c["transfer"] - 1.0) / w["transfer"]
                  for c, w in zip(figures["cut"], figures["whole"])]
        across = []
        for _ in range(self.runs):
            app = self.install(release)
            part = app / (file + ".update-part")

            def kill_at_90(proc):
                # proc is GNU time; the updater is its child.
                while proc.poll() is None:
                    if part.exists() and part.stat().st_size >= size * 9 // 10:
                        children = Path(f"/proc/{proc.pid}/task/{proc.pid}/children").read_text()
                        for child in children.split():
                            os.kill(int(child), 9)
                        return
                    time.sleep(0.005)
            self.run_updater(release, app=app, during=kill_at_90)
            before = self.nginx.log_size()
            self.run_updater(release, app=app)
            rows = [r for r in self.nginx.log(before) if r[4] == path]
            across.append(sum(r[3] for r in rows) / size)
        summary = lambda xs: {"median": statistics.median(xs), "min": min(xs), "max": max(xs)}  # noqa: E731
        return {"time_ratio": summary(ratios), "bytes_ratio": summary(sent),
                "across_runs_bytes_ratio": summary(across),
                "runs": {who: [r["transfer"] for r in rs] for who, rs in figures.items()}}

    def run_curl(self, release: str, names: list[str], base: str | None = None,
                 options: list[str] = ()) -> dict:
        """One curl process fetching the files from nginx or the server at base."""
        self.clear_downloads(release)
        out = self.scratch / "curl"
        out.mkdir()
        config = self.scratch / "curl.cfg"
        config.write_text("".join(f'url = "{base or self.nginx.base}/{release}/{n}"\noutput = "{n}"\n'
                                  for n in names))
        return timed(["curl", "-s", "-f", *options, "--config", str(config)], cwd=out)

    def run_minimal(self, release: str, names: list[str], wrap: list[str] = ()) -> dict:
        self.clear_downloads(release)
        out = self.scratch / "minimal"
        out.mkdir()
        return timed([*wrap, str(self.minimal), str(self.nginx.port),
                      *(f"/{release}/{n}" for n in names)], cwd=out)

    def compare_downloads(self, release: str, names: list[str], clients: dict | None = None) -> dict:
        """Interleaved runs of the updater and of the references (by default
        curl and the minimal client). Each figure is the median over the runs;
        each ratio is the median of the runs' own ratios (updater against the
        reference run next to it), with their range."""
        clients = clients or {"updater": lambda: self.run_updater(release),
                              "curl": lambda: self.run_curl(release, names),
                              "minimal": lambda: self.run_minimal(release, names)}
        figures = {who: [] for who in clients}
        for _ in range(self.runs):
            for who, run in clients.items():
                before = self.nginx.log_size()
                result = run()
                rows = self.file_requests(release, before)
                if len(rows) != len(names):
                    raise RuntimeError(f"{who} asked for {len(rows)} of {len(names)} files")
                result["transfer"] = served_span(rows, f"/{release}/")
                figures[who].append(result)
        out = {who: {k: statistics.median(r[k] for r in rs) for k in rs[0]}
               for who, rs in figures.items()}
        for reference in [who for who in clients if who != "updater"]:
            for key in ("transfer", "cpu"):
                ratios = [u[key] / r[key] for u, r in zip(figures["updater"], figures[reference])]
                out[f"{key}_ratio_{reference}"] = {"median": statistics.median(ratios),
                                                   "min": min(ratios), "max": max(ratios)}
        out["runs"] = figures
        return out

    def compare_latency(self, release: str, names: list[str], delay_ms: int = 20) -> dict:
        """The downloads through a relay that holds every piece of data delay_ms
        in each direction (bench/delay_relay.py): the updater against one curl
        fetching the files one after another on one connection, and against
        curl with six transfers at a time. Interleaved, as compare_downloads."""
        relay = subprocess.Popen([sys.executable, str(ROOT / "bench" / "delay_relay.py"),
                                  str(self.nginx.port), str(delay_ms)], stdout=subprocess.PIPE,
                                 text=True)
        try:
            base = f"http://127.0.0.1:{int(relay.stdout.readline())}"
            # Without --parallel-immediate curl holds back each further transfer
            # until it knows whether the connection already open can carry it
            # too, which over HTTP/1.1 with latency makes the six transfers
            # start one after another.
            parallel = ["--parallel", "--parallel-immediate", "--parallel-max", "6"]
            return self.compare_downloads(release, names, {
                "updater": lambda: self.run_updater(release, base),
                "curl": lambda: self.run_curl(release, names, base),
                "parallel": lambda: self.run_curl(release, names, base, parallel)})
        finally:
            relay.terminate()
            relay.wait(10)

    def per_file(self, release: str, names: list[str]) -> dict:
        """Where the updater's time goes in a release of many small files, per
        file: its system calls (strace -c over a whole run, start and end
        included) against the minimal client's; its synchronous repaints and
        event checks with their time (bench/repaint_clock.c in its process), the
        X server's CPU time and the transfer time beside them; and, in
        interleaved runs, the transfer time with those repaints left undone
        (the window drawn once a frame only). Medians of the runs; twice the
        rounds of the other figures, since a run of 2,000 small files is short
        and one busy moment of the machine can double it."""
        files = len(names)
        report = self.scratch / "strace.txt"
        syscalls = {}
        for who, run in (("updater", lambda wrap: self.run_updater(release, wrap=wrap)),
                         ("minimal", lambda wrap: self.run_minimal(release, names, wrap))):
            report.unlink(missing_ok=True)
            run(["strace", "-c", "-f", "-o", str(report)])
            syscalls[who] = {name: calls / files for name, calls in syscall_counts(report).items()}

        clock = self.scratch / "repaint_clock.so"
        subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", str(clock),
                        str(ROOT / "bench" / "repaint_clock.c"), "-ldl"], check=True)
        tallies = self.scratch / "repaint-clock.txt"
        runs = []
        for _ in range(2 * self.runs):
            figures = {}
            for skip in ("0", "1"):
                tallies.unlink(missing_ok=True)
                x_before = cpu_seconds(self.display.proc.pid)
                before = self.nginx.log_size()
                result = self.run_updater(release, env={"LD_PRELOAD": str(clock),
                                                        "REPAINT_CLOCK": str(tallies),
                                                        "REPAINT_CLOCK_SKIP": skip})
                x_cpu = cpu_seconds(self.display.proc.pid) - x_before
                transfer = served_span(self.file_requests(release, before), f"/{release}/")
                if skip == "1":
                    figures["unpainted_transfer_ms"] = transfer * 1000 / files
                    continue
                tally = {line.split()[0]: (int(line.split()[1]), float(line.split()[2]))
                         for line in tallies.read_text().splitlines()}
                figures.update({"transfer_ms": transfer * 1000 / files,
                                "cpu_ms": result["cpu"] * 1000 / files,
                                "xserver_cpu_ms": x_cpu * 1000 / files,
                                "flushes": tally["flush"][0] / files,
                                "flush_ms": tally["flush"][1] * 1000 / files,
                                "checks": tally["check"][0] / files,
                                "check_ms": tally["check"][1] * 1000 / files})
            runs.append(figures)
        for r in runs:
            r["painted_ratio"] = r["transfer_ms"] / r["unpainted_transfer_ms"]
        return {"syscalls": syscalls,
                "syscalls_per_file": {who: sum(c.values()) for who, c in syscalls.items()},
                **{key: {"median": statistics.median(r[key] for r in runs),
                         "min": min(r[key] for r in runs), "max": max(r[key] for r in runs)}
                   for key in runs[0]},
                "runs": runs}

    def compare_checked(self, plain: str, checked: str, file: Path) -> dict:
        """Interleaved runs of the updater on the same file listed without and
        with its size and hash, and of openssl hashing that file; medians. The
        check's extra time is set against openssl's time for the hash alone.
        That figure is a difference of two transfer times, each with its round's
        noise, so it takes twice the rounds of the other figures."""
        figures = {"plain": [], "checked": [], "openssl": []}
        for _ in range(2 * self.runs):
            for who in figures:
                if who == "openssl":
                    result = timed(["openssl", "dgst", "-sha256", str(file)])
                    result["transfer"] = result["wall"]
                else:
                    release = plain if who == "plain" else checked
                    before = self.nginx.log_size()
                    result = self.run_updater(release)
                    rows = self.file_requests(release, before)
                    result["transfer"] = served_span(rows, f"/{release}/")
                figures[who].append(result)
        med = {who: {k: statistics.median(r[k] for r in rs) for k in rs[0]} for who, rs in figures.items()}
        # Each checked run against the plain run just before it: the machine's
        # drift between rounds cancels out.
        pairs = list(zip(figures["checked"], figures["plain"]))
        extra = statistics.median(c["transfer"] - p["transfer"] for c, p in pairs)
        extra_cpu = statistics.median(c["cpu"] - p["cpu"] for c, p in pairs)
        # Each round's extra time against that round's openssl, for the range.
        ratios = [(c["transfer"] - p["transfer"]) / o["wall"]
                  for c, p, o in zip(figures["checked"], figures["plain"], figures["openssl"])]
        ratio = {"median": statistics.median(ratios), "min": min(ratios), "max": max(ratios)}
        return {**med, "extra": extra, "ratio": ratio,
                "extra_cpu": extra_cpu, "cpu_ratio": extra_cpu / med["openssl"]["cpu"],
                "runs": {who: [r["transfer"] for r in rs] for who, rs in figures.items()}}

    def startup(self) -> dict:
        """Process start to the window mapped and exposed, from the window's own record."""
        app = self.install()
        (self.scratch / "hklm.reg").write_text(
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Molva]\r\n"
            f'"UpdatePath"="{app}"\r\n"URL"="http://127.0.0.1:{unused_port()}/"\r\n')
        times = []
        for i in range(max(5, self.runs * 2)):
            trace = self.scratch / f"startup-{i}.txt"
            env = dict(self.env, UPDATER_UI_TRACE=str(trace))
            start = time.monotonic()
            proc = subprocess.Popen(["./file.exe", "UPDATE"], cwd=app, env=env)
            while not any(line.startswith("window\t") for line in complete_lines(trace)):
                if time.monotonic() - start > 10:
                    raise RuntimeError("the window was not mapped")
                time.sleep(0.0005)
            times.append(time.monotonic() - start)
            proc.kill()
            proc.wait()
        return {"median_ms": statistics.median(times) * 1000, "runs_ms": [t * 1000 for t in times]}

    def size(self) -> dict:
        imports = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(self.win32)],
                                 capture_output=True, text=True).stdout
        dlls = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", imports)})
        return {"bytes": self.win32.stat().st_size, "imports": dlls}

    def count_scan(self) -> dict:
        # Its exit code tells whether the target holds; the table says that too.
        out = subprocess.run([str(self.build / "bench_count_scan")], capture_output=True,
                             text=True).stdout
        return json.loads(out)["count_scan"]


def syscall_counts(report: Path) -> dict[str, int]:
    """The calls of each system call in a report of strace -c."""
    counts = {}
    for line in report.read_text().splitlines():
        # % time, seconds, usecs/call, calls, errors (when there were), name
        fields = line.split()
        if len(fields) in (5, 6) and fields[-1] != "total" and re.fullmatch(r"[0-9.]+", fields[0]):
            counts[fields[-1]] = int(fields[3])
    return counts


def cpu_seconds(pid: int) -> float:
    """A running process's user + system CPU time so far."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "linux")
    parser.add_argument("--win32", type=Path, default=ROOT / "build" / "win32" / "updater.exe")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--big-mib", type=int, default=1024)
    parser.add_argument("--json", type=Path, default=ROOT / "build" / "bench.json")
    parser.add_argument("--only", default="",
                        help="comma-separated: big,hash,resume,current,many,perfile,latency,memory,"
                             "size,startup,count,delta")
    parser.add_argument("--scratch", type=Path, default=None,
                        help="where the server's files and the downloads go (default /dev/shm, "
                             "which leaves the disk out; a disk directory shows what flushes cost)")
    options = parser.parse_args()
    only = set(filter(None, options.only.split(",")))
    want = lambda name: not only or name in only  # noqa: E731

    base = options.scratch or (Path("/dev/shm") if Path("/dev/shm").is_dir() else None)
    scratch = Path(tempfile.mkdtemp(prefix="updater-bench-", dir=base))
    bench = Bench(options.build.resolve(), options.win32.resolve(), scratch, options.runs)
    results: dict = {"machine": machine()}
    try:
        if want("big"):
            names = bench.publish("big", {"big.bin": options.big_mib << 20})
            results["big"] = bench.compare_downloads("big", names)
        if want("hash"):
            if "big" not in results:
                bench.publish("big", {"big.bin": options.big_mib << 20})
            bench.publish_checked("bighash", "big")
            results["hash"] = bench.compare_checked("big", "bighash", bench.www / "big" / "big.bin")
        if want("resume"):
            if "big" not in results:
                bench.publish("big", {"big.bin": options.big_mib << 20})
            if not (bench.www / "bighash").is_dir():
                bench.publish_checked("bighash", "big")
            results["resume"] = bench.compare_resumed("bighash", "big.bin")
        if want("current"):
            bench.publish("current0", {f"c{i:04}.dat": 65536 for i in range(2000)})
            bench.publish_checked("current", "current0")
            results["current"] = bench.compare_current("current")
        if want("many"):
            names = bench.publish("many", {f"f{i:04}.dat": 4096 for i in range(2000)})
            results["many"] = bench.compare_downloads("many", names)
        if want("perfile"):
            names = bench.publish("many", {f"f{i:04}.dat": 4096 for i in range(2000)})
            results["perfile"] = bench.per_file("many", names)
        if want("latency"):
            names = bench.publish("latency", {f"l{i:03}.dat": 16384 for i in range(200)})
            results["latency"] = bench.compare_latency("latency", names)
        if want("memory"):
            bench.publish("m16", {"m16.bin": 16 << 20})
            small = statistics.median(bench.run_updater("m16")["rss_kib"] for _ in range(3))
            if "big" not in results:
                bench.publish("big", {"big.bin": options.big_mib << 20})
            large = statistics.median(bench.run_updater("big")["rss_kib"] for _ in range(3))
            results["memory"] = {"rss_16mib_kib": small, "rss_big_kib": large,
                                 "growth_kib": large - small}
        if want("size"):
            results["size"] = bench.size()
        if want("startup"):
            results["startup"] = bench.startup()
        if want("count"):
            results["count"] = bench.count_scan()
        if want("delta"):
            # Patches, in bench/delta.py, which also runs on its own.
            figures = scratch / "delta.json"
            subprocess.run([sys.executable, str(ROOT / "bench" / "delta.py"), "--build",
                            str(options.build), "--json", str(figures)], stdout=subprocess.DEVNULL)
            results["delta"] = json.loads(figures.read_text())
    finally:
        bench.close()
        shutil.rmtree(scratch, ignore_errors=True)

    options.json.parent.mkdir(parents=True, exist_ok=True)
    options.json.write_text(json.dumps(results, indent=2))
    print_table(results)
    print(f"figures written to {options.json}")
    return 0 if all_targets_hold(results) else 1


def machine() -> str:
    cpu = next((l.split(":", 1)[1].strip() for l in Path("/proc/cpuinfo").read_text().splitlines()
                if l.startswith("model name")), platform.machine())
    mem = int(re.search(r"MemTotal:\s+(\d+)", Path("/proc/meminfo").read_text()).group(1)) >> 20
    return f"{cpu}, {os.cpu_count()} cores, {mem} GiB, Linux {platform.release()}"


def ratio(key):
    return lambda r: r[key[0]][key[1]]


TARGETS = [
    # (name, figure, limit, format); a ratio figure has a median and a range
    ("1 GiB file: transfer time / curl", ratio(("big", "transfer_ratio_curl")), 1.05, "{:.3f}"),
    ("1 GiB file: transfer time / minimal client", ratio(("big", "transfer_ratio_minimal")),
     None, "{:.3f}"),
    ("1 GiB file: CPU time / curl", ratio(("big", "cpu_ratio_curl")), 1.5, "{:.3f}"),
    ("1 GiB: Size/Hash extra time / openssl", lambda r: r["hash"]["ratio"], 1.2, "{:.3f}"),
    ("1 GiB cut at 90%, resumed: nginx bytes / size", lambda r: r["resume"]["bytes_ratio"], 1.11,
     "{:.3f}"),
    ("1 GiB cut at 90%, resumed: time - 1 s / uncut", lambda r: r["resume"]["time_ratio"], 1.15,
     "{:.3f}"),
    ("1 GiB, killed at 90%: next run's bytes / size",
     lambda r: r["resume"]["across_runs_bytes_ratio"], 0.11, "{:.3f}"),
    ("2,000 current x 64 KiB: list to box / sha256sum", lambda r: r["current"]["ratio"],
     1.3, "{:.3f}"),
    ("2,000 x 4 KiB: transfer time / curl", ratio(("many", "transfer_ratio_curl")), 1.2, "{:.3f}"),
    ("2,000 x 4 KiB: transfer time / minimal client", ratio(("many", "transfer_ratio_minimal")),
     None, "{:.3f}"),
    ("2,000 x 4 KiB: system calls per file, updater",
     lambda r: r["perfile"]["syscalls_per_file"]["updater"], None, "{:.1f}"),
    ("2,000 x 4 KiB: system calls per file, minimal client",
     lambda r: r["perfile"]["syscalls_per_file"]["minimal"], None, "{:.1f}"),
    ("2,000 x 4 KiB: repaint time per file (ms)", lambda r: r["perfile"]["flush_ms"], None, "{:.3f}"),
    ("2,000 x 4 KiB: transfer time per file (ms)", lambda r: r["perfile"]["transfer_ms"], None,
     "{:.3f}"),
    ("2,000 x 4 KiB: transfer time / without the repaints", lambda r: r["perfile"]["painted_ratio"],
     None, "{:.3f}"),
    ("200 x 16 KiB, 20 ms each way: transfer / curl", ratio(("latency", "transfer_ratio_curl")),
     None, "{:.3f}"),
    ("200 x 16 KiB, 20 ms each way: / curl, 6 parallel", ratio(("latency", "transfer_ratio_parallel")),
     None, "{:.3f}"),
    ("peak RSS, 16 MiB file (MiB)", lambda r: r["memory"]["rss_16mib_kib"] / 1024, 16, "{:.1f}"),
    ("peak RSS growth, 1 GiB over 16 MiB (MiB)", lambda r: r["memory"]["growth_kib"] / 1024, 1, "{:.2f}"),
    ("win32 updater.exe, stripped (KiB)", lambda r: r["size"]["bytes"] / 1024, 1024, "{:.0f}"),
    ("start-up to mapped window (ms)", lambda r: r["startup"]["median_ms"], 100, "{:.0f}"),
    ("Count=2147483647 / Count=3", lambda r: r["count"]["ratio"], 1.1, "{:.3f}"),
]


def rows(results):
    for name, figure, limit, fmt in TARGETS:
        try:
            value = figure(results)
        except KeyError:
            continue
        if isinstance(value, dict):
            shown = f"{fmt.format(value['median'])} ({fmt.format(value['min'])}-{fmt.format(value['max'])})"
            value = value["median"]
        else:
            shown = fmt.format(value)
        yield name, shown, "-" if limit is None else f"<= {limit}", limit is None or value <= limit


def all_targets_hold(results) -> bool:
    return all(ok for *_, ok in rows(results)) and (
        "delta" not in results or all(ok for *_, ok in delta_bench.rows(results["delta"])))


def print_table(results):
    print(f"Machine: {results['machine']}")
    print(f"| {'figure':52} | {'median (range)':>21} | {'target':>8} | holds |")
    print(f"|{'-' * 54}|{'-' * 23}|{'-' * 10}|-------|")
    for name, value, limit, ok in rows(results):
        print(f"| {name:52} | {value:>21} | {limit:>8} | {'yes' if ok else 'NO':5} |")
    for key in ("big", "many", "latency"):
        if key not in results:
            continue
        for who, runs in results[key]["runs"].items():
            transfers = [r["transfer"] for r in runs]
            print(f"{key}: {who:8} transfer {results[key][who]['transfer']:.3f} s "
                  f"({min(transfers):.3f}-{max(transfers):.3f}), process "
                  f"{results[key][who]['wall']:.2f} s, CPU {results[key][who]['cpu']:.2f} s")
    if "perfile" in results:
        r = {key: value["median"] if "median" in value else value
             for key, value in results["perfile"].items() if isinstance(value, dict)}
        print(f"perfile: per file, updater: {r['flushes']:.2f} repaints ({r['flush_ms']:.3f} ms), "
              f"{r['checks']:.2f} event checks ({r['check_ms']:.3f} ms), CPU {r['cpu_ms']:.3f} ms, "
              f"X server CPU {r['xserver_cpu_ms']:.3f} ms, transfer {r['transfer_ms']:.3f} ms "
              f"({r['unpainted_transfer_ms']:.3f} ms without the repaints)")
        for who, calls in r["syscalls"].items():
            top = sorted((item for item in calls.items() if item[1] >= 0.01),
                         key=lambda item: -item[1])[:8]
            print(f"perfile: {who} system calls per file {r['syscalls_per_file'][who]:.1f}: "
                  + ", ".join(f"{name} {n:.2f}" for name, n in top))
    if "hash" in results:
        r = results["hash"]
        print(f"hash: updater transfer {r['plain']['transfer']:.3f} s plain, "
              f"{r['checked']['transfer']:.3f} s with Size/Hash (extra {r['extra']:.3f} s, CPU "
              f"{r['extra_cpu']:.2f} s); openssl dgst -sha256 {r['openssl']['wall']:.3f} s, CPU "
              f"{r['openssl']['cpu']:.2f} s (medians of interleaved runs and of paired differences)")
    if "size" in results:
        print("win32 imports: " + " ".join(results["size"]["imports"]))
    if "delta" in results:
        delta_bench.print_table(results["delta"])


if __name__ == "__main__":
    sys.exit(main())
