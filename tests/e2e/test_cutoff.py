"""Runs cut off before their end: the updater is killed (SIGKILL, which under
wine ends the Windows process at once, as the task manager does) while it
backs up, while it downloads and while it replaces the installed files. After
each kill every listed file is whole, with all of its old bytes or all of its
new ones, no download stands under a listed name, and a second run completes
the update. Also: an installed file that another program holds open stops the
run before anything is replaced. Each case leaves a row in
fault-matrix-cutoff.tsv in the build directory, which scripts/test prints with
the fault matrix."""
import subprocess
import sys

from harness import WINE, Running, check, eventually
from test_faults import (HEAD, TRANSFER_FAILED, conclude, done, each, installed, prepare, record,
                         start)

TABLE = "fault-matrix-cutoff.tsv"
PART = ".update-part"  # the ending of a download in progress
PAUSE = "UPDATER_TEST_PAUSE"


def release(h) -> dict:
    """The new release, in list order: the last file large enough to be cut
    in its middle."""
    return {"client.exe": h.client("6.3.0.0"), "sub\\x.dll": b"new x " * 1000,
            "data.dll": b"new data " * 40000}


def response(body: bytes) -> bytes:
    return HEAD + b"Content-Length: %d\r\n\r\n" % len(body)


def part_size(app, name: str) -> int:
    part = app / (name + PART)
    return part.stat().st_size if part.is_file() else -1


def test_runs_cut_off(h):
    server = h.raw_server()
    files = release(h)
    server.release("6.3", files)
    new = {name.replace("\\", "/"): data for name, data in files.items()}
    client, data = files["client.exe"], files["data.dll"]
    first = len(client) // 4
    marker = h.root / "paused"

    # Each point: how to hold the run there (server scripts, or the provider's
    # test pause), what shows it is there, and how many files it has replaced.
    points = [
        ("during the backup", {}, "copy 2", lambda app: marker.exists(), 0),
        ("after the first file's first bytes",
         {"/rel/client.exe": [response(client) + client[:first], ("pause", 120), client[first:]]},
         None, lambda app: part_size(app, "client.exe") >= first, 0),
        ("between two files", {"/rel/sub/x.dll": [("pause", 120), response(files["sub\\x.dll"])
                                                  + files["sub\\x.dll"]]},
         None, lambda app: "/rel/sub/x.dll" in server.requests, 0),
        ("in the middle of the last file",
         {"/rel/data.dll": [response(data) + data[:len(data) // 2], ("pause", 120),
                            data[len(data) // 2:]]},
         None, lambda app: part_size(app, "data.dll") >= len(data) // 2, 0),
        ("just before the first replacement", {}, "replace 1", lambda app: marker.exists(), 0),
        ("between two replacements", {}, "replace 2", lambda app: marker.exists(), 1),
    ]

    def one(case, scripts, pause, arrived, replaced):
        case = "cut off " + case
        app = prepare(h)
        marker.unlink(missing_ok=True)
        server.requests.clear()
        server.scripts = scripts
        if pause:
            h.env[PAUSE] = f"{pause} {h.native_path(marker)}"
        try:
            run = start(h, app, server.base)
            eventually(lambda: arrived(app) or not run.alive(), 60, what="the point of the cut")
            check(run.alive(), "the run ended before the point of the cut")
            run.kill()
            after = installed(app)
            for i, name in enumerate(new):
                want = new[name] if i < replaced else h.before[name]
                check(after.get(name) == want,
                      f"{name} is {'missing' if name not in after else 'not as expected'} "
                      f"({len(after.get(name, b''))} bytes)")
            stray = sorted(n for n in after if n not in h.before and not n.endswith(PART))
            check(not stray, f"files left beside the installation: {stray}")
        except Exception as e:
            record(h, case, [f"[after the kill: {e}]"], "no", TABLE)
            raise
        finally:
            h.env.pop(PAUSE, None)
            server.scripts = {}
        expected = dict(h.before, **new)
        run = start(h, app, server.base)
        conclude(h, case, run, app, [done()], expected, table=TABLE)
    each(h, points, one)


def hold_open(h, path, marker) -> None:
    """Another program that reads the file and keeps it open until the test
    ends: on Windows sharing it for reading only, as a running program does;
    on Linux with a shared lock, as this updater's own readers take one."""
    if h.windows:
        args = [WINE, str(h.bin_dir / "tests" / "file_locker.exe"), h.native_path(path),
                h.native_path(marker), "read"]
    else:
        args = [sys.executable, "-c",
                "import fcntl, sys, time\n"
                "f = open(sys.argv[1], 'rb'); fcntl.flock(f, fcntl.LOCK_SH)\n"
                "open(sys.argv[2], 'w').close(); time.sleep(600)", str(path), str(marker)]
    holder = Running()
    holder.proc = subprocess.Popen(args, env=h.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
    h.procs.append(holder)
    eventually(lambda: marker.exists() or not holder.alive(), 60, what="the file to be held")
    check(marker.exists(), f"the holder ended ({holder.proc.returncode})")


def test_file_held_open_stops_the_run_before_any_replacement(h):
    app = prepare(h)
    hold_open(h, app / "data.dll", h.root / "held")
    server = h.raw_server()
    server.release("6.3", release(h))
    run = start(h, app, server.base)
    text = ("共享冲突。" if h.windows else
            "The process cannot access the file because it is being used by another process")
    conclude(h, "installed file held open by a reader", run, app,
             [TRANSFER_FAILED + f'Cannot replace "{h.native_path(app / "data.dll")}". {text}'],
             table=TABLE)
    check(len(server.requests) == 4, f"requests {server.requests}")


def test_cut_off_in_a_large_file_resumes_in_the_next_run(h):
    """A listed file with its size and hash, killed halfway: the next run
    keeps the staged bytes and asks only for the rest."""
    server = h.raw_server()
    files = release(h)
    server.release("6.3", files, hashed=True)
    data = files["data.dll"]
    case = "cut off in the middle of a large file; the next run resumes it"
    app = prepare(h)
    server.scripts = {"/rel/data.dll": [response(data) + data[:len(data) // 2], ("pause", 120)]}
    run = start(h, app, server.base)
    eventually(lambda: part_size(app, "data.dll") >= len(data) // 2 or not run.alive(), 60,
               what="half of data.dll")
    check(run.alive(), "the run ended before the point of the cut")
    run.kill()
    kept = part_size(app, "data.dll")
    server.scripts = {}
    server.requests.clear()
    server.ranges.clear()
    run = start(h, app, server.base)
    expected = dict(h.before, **{name.replace("\\", "/"): b for name, b in files.items()})
    conclude(h, case, run, app, [done()], expected, table=TABLE)
    asked = [r for p, r in zip(server.requests, server.ranges) if p == "/rel/data.dll"]
    check(asked == [f"bytes={kept}-"], f"data.dll asked for {asked} with {kept} bytes kept")
