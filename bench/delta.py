#!/usr/bin/env python3
"""Patches against references in the same run, on real pairs of files: this
project's own Linux executables (updater, updater-release) built at an older
commit and now, and one pair of consecutive versions of a large library from
Debian's packages (the base suite's and the security suite's).

Figures, each a ratio against a reference measured here:
- patch bytes against bsdiff 4.3's of the same pair (zstd --patch-from and
  xdelta3 printed beside), with the share of the new file that travels;
- applying the largest pair's patch (hashing the base, applying, hashing the
  result as it is written, bench/delta_bench.cpp) against
  `sha256sum OLD; zstd -d NEW.zst -o NEW; sha256sum NEW`;
- making each patch (time and peak memory) against bsdiff.
Timed figures are medians of interleaved rounds with their range. Prints a
table, writes the figures as JSON and exits non-zero when a target is missed."""
from __future__ import annotations

import argparse
import json
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CACHE = Path("/tmp/updater-bench-delta")  # old builds and packages, kept between runs

# The Debian package whose two versions make the large pair, and the file in it.
PACKAGE = "libgs10"
PACKAGE_FILE = "usr/lib/x86_64-linux-gnu/libgs.so.10.00"

TARGETS = {"size": 0.95, "apply": 1.3, "make_time": 1.5, "make_memory": 1.5}


def run(args, **kwargs):
    return subprocess.run(args, check=True, **kwargs)


def timed(args: list[str]) -> dict:
    """Wall time, CPU time and peak RSS of a command, from GNU time."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.monotonic()
        run(["/usr/bin/time", "-f", "%U %S %M", "-o", report.name, *args],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = time.monotonic() - start
        user, system, rss = report.read().split()
    return {"wall": wall, "cpu": float(user) + float(system), "rss_kib": int(rss)}


def shell_timed(script: str) -> float:
    start = time.monotonic()
    run(["sh", "-c", script], stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def summary(values: list[float]) -> dict:
    return {"median": statistics.median(values), "min": min(values), "max": max(values)}


def old_build(commit: str) -> Path:
    """The Linux updater and updater-release built at the commit, once: its
    tree exported with git archive (no worktree, nothing written to the
    repository) and built with the linux preset."""
    sha = run(["git", "-C", str(ROOT), "rev-parse", commit], capture_output=True,
              text=True).stdout.strip()
    tree = CACHE / f"build-{sha[:12]}"
    binaries = tree / "build" / "linux"
    if (binaries / "updater").exists() and (binaries / "updater-release").exists():
        return binaries
    shutil.rmtree(tree, ignore_errors=True)
    tree.mkdir(parents=True)
    archive = run(["git", "-C", str(ROOT), "archive", sha], capture_output=True).stdout
    run(["tar", "-x", "-C", str(tree)], input=archive)
    print(f"building updater and updater-release at {sha[:12]} in {tree}", file=sys.stderr)
    run(["cmake", "--preset", "linux"], cwd=tree, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "linux", "-j2", "--target", "updater", "updater-release"],
        cwd=tree, stdout=subprocess.DEVNULL)
    return binaries


def package_pair() -> tuple[Path, Path, str]:
    """The package's file in its two versions (older first), downloaded and
    unpacked once."""
    policy = run(["apt-cache", "policy", PACKAGE], capture_output=True, text=True).stdout
    versions = re.findall(r"^\s+(?:\*\*\* )?(\S+) \d+$", policy, re.M)
    # Sorted with dpkg's own comparison: the two newest.
    ordered = []
    for v in set(versions):
        place = 0
        while place < len(ordered) and subprocess.run(
                ["dpkg", "--compare-versions", v, "gt", ordered[place]]).returncode == 0:
            place += 1
        ordered.insert(place, v)
    if len(ordered) < 2:
        raise SystemExit(f"apt-cache policy shows fewer than two versions of {PACKAGE}")
    old, new = ordered[-2:]
    files = []
    for version in (old, new):
        unpacked = CACHE / f"{PACKAGE}_{version}"
        if not (unpacked / PACKAGE_FILE).exists():
            download = CACHE / "download"
            download.mkdir(parents=True, exist_ok=True)
            download.chmod(0o777)  # apt's download user writes there
            run(["apt-get", "download", "-qq", f"{PACKAGE}={version}"], cwd=download,
                stderr=subprocess.DEVNULL)
            deb = next(download.glob(f"{PACKAGE}_*{version.split(':')[-1]}*.deb"))
            run(["dpkg-deb", "-x", str(deb), str(unpacked)])
        files.append(unpacked / PACKAGE_FILE)
    return files[0], files[1], f"{PACKAGE} {old} -> {new}"


class DeltaBench:
    def __init__(self, build: Path, scratch: Path, rounds: int, make_rounds: int):
        self.tool = build / "delta_bench"
        self.scratch = scratch
        self.rounds = rounds
        self.make_rounds = make_rounds

    def path(self, name: str) -> Path:
        return self.scratch / name

    def sizes(self, name: str, old: Path, new: Path) -> dict:
        """Patch bytes of every maker for the pair, and the compressed copy's."""
        ours, bsdiff = self.path(f"{name}.patch"), self.path(f"{name}.bsdiff")
        run([str(self.tool), "make", str(old), str(new), str(ours)])
        run(["bsdiff", str(old), str(new), str(bsdiff)])
        copy = self.path(f"{name}.zst")
        run([str(self.tool), "compress", str(new), str(copy)])
        zstd, xdelta = self.path(f"{name}.patch-from"), self.path(f"{name}.xd3")
        run(["zstd", "-19", "-q", "-f", f"--patch-from={old}", str(new), "-o", str(zstd)],
            stderr=subprocess.DEVNULL)
        run(["xdelta3", "-e", "-9", "-f", "-s", str(old), str(new), str(xdelta)])
        size = {k: p.stat().st_size for k, p in
                (("ours", ours), ("bsdiff", bsdiff), ("zstd_patch_from", zstd), ("xdelta3", xdelta),
                 ("copy", copy), ("new", new), ("old", old))}
        # The patch must make the new file.
        out = self.path(f"{name}.out")
        run([str(self.tool), "apply", str(old), str(ours), str(out)], stdout=subprocess.DEVNULL)
        if out.read_bytes() != new.read_bytes():
            raise SystemExit(f"the patch of {name} does not make the new file")
        return {**size, "ratio": size["ours"] / size["bsdiff"]}

    def making(self, name: str, old: Path, new: Path) -> dict:
        """Interleaved rounds of making the patch, ours against bsdiff."""
        ours, theirs = [], []
        for _ in range(self.make_rounds):
            ours.append(timed([str(self.tool), "make", str(old), str(new),
                               str(self.path(f"{name}.patch"))]))
            theirs.append(timed(["bsdiff", str(old), str(new), str(self.path(f"{name}.bsdiff"))]))
        return {
            "time": summary([o["wall"] / t["wall"] for o, t in zip(ours, theirs)]),
            "memory": summary([o["rss_kib"] / t["rss_kib"] for o, t in zip(ours, theirs)]),
            "ours": {k: statistics.median(o[k] for o in ours) for k in ours[0]},
            "bsdiff": {k: statistics.median(t[k] for t in theirs) for k in theirs[0]},
        }

    def applying(self, name: str, old: Path) -> dict:
        """Interleaved rounds: hashing the base, applying and hashing the result
        against hashing the old file, decompressing the compressed copy and
        hashing the new file."""
        patch, copy = self.path(f"{name}.patch"), self.path(f"{name}.zst")
        out, ref = self.path(f"{name}.applied"), self.path(f"{name}.decompressed")
        ours, theirs = [], []
        for _ in range(self.rounds):
            ours.append(shell_timed(f"'{self.tool}' apply '{old}' '{patch}' '{out}'"))
            theirs.append(shell_timed(f"sha256sum '{old}'; zstd -q -f -d '{copy}' -o '{ref}'; "
                                      f"sha256sum '{ref}'"))
        return {"ratio": summary([o / t for o, t in zip(ours, theirs)]),
                "ours_s": statistics.median(ours), "reference_s": statistics.median(theirs)}


def measure(options) -> dict:
    old_bins = old_build(options.old_commit)
    pairs = [(name, old_bins / name, options.build / name) for name in ("updater", "updater-release")]
    old, new, label = package_pair()
    pairs.append((PACKAGE, old, new))
    scratch = Path(tempfile.mkdtemp(prefix="updater-bench-delta-", dir=options.scratch))
    bench = DeltaBench(options.build, scratch, options.rounds, options.make_rounds)
    results: dict = {"package": label, "old_commit": options.old_commit, "pairs": {}}
    try:
        for name, old_file, new_file in pairs:
            print(f"measuring {name}", file=sys.stderr)
            results["pairs"][name] = {"size": bench.sizes(name, old_file, new_file),
                                      "make": bench.making(name, old_file, new_file)}
        largest = max(pairs, key=lambda p: p[2].stat().st_size)
        results["apply"] = {"file": largest[0], **bench.applying(largest[0], largest[1])}
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return results


def rows(results):
    """(figure, value shown, target, holds) for the table."""
    for name, pair in results["pairs"].items():
        s = pair["size"]
        yield (f"{name}: patch bytes / bsdiff", f"{s['ratio']:.3f}", f"<= {TARGETS['size']}",
               s["ratio"] <= TARGETS["size"])
        for key, label in (("time", "making time"), ("memory", "making peak RSS")):
            r = pair["make"][key]
            yield (f"{name}: {label} / bsdiff", f"{r['median']:.3f} ({r['min']:.3f}-{r['max']:.3f})",
                   f"<= {TARGETS['make_' + key]}", r["median"] <= TARGETS["make_" + key])
    a = results["apply"]["ratio"]
    yield (f"{results['apply']['file']}: hash + apply + hash / sha256sum + zstd -d + sha256sum",
           f"{a['median']:.3f} ({a['min']:.3f}-{a['max']:.3f})", f"<= {TARGETS['apply']}",
           a["median"] <= TARGETS["apply"])


def print_table(results) -> None:
    print(f"Pairs: this project's Linux executables at {results['old_commit']} and now; "
          f"{results['package']}")
    print(f"| {'figure':70} | {'median (range)':>21} | {'target':>8} | holds |")
    print(f"|{'-' * 72}|{'-' * 23}|{'-' * 10}|-------|")
    for name, value, limit, ok in rows(results):
        print(f"| {name:70} | {value:>21} | {limit:>8} | {'yes' if ok else 'NO':5} |")
    print(f"| {'pair':16} | {'new file':>11} | {'ours':>9} | {'bsdiff':>9} | {'zstd -19 --patch-from':>21} "
          f"| {'xdelta3 -9':>10} | {'copy (zstd)':>11} | {'travels':>7} |")
    for name, pair in results["pairs"].items():
        s = pair["size"]
        print(f"| {name:16} | {s['new']:>11,} | {s['ours']:>9,} | {s['bsdiff']:>9,} | "
              f"{s['zstd_patch_from']:>21,} | {s['xdelta3']:>10,} | {s['copy']:>11,} | "
              f"{100 * s['ours'] / s['new']:>6.2f}% |")
    for name, pair in results["pairs"].items():
        o, b = pair["make"]["ours"], pair["make"]["bsdiff"]
        print(f"making {name}: ours {o['wall']:.2f} s (CPU {o['cpu']:.2f} s), {o['rss_kib'] / 1024:.0f} MiB; "
              f"bsdiff {b['wall']:.2f} s (CPU {b['cpu']:.2f} s), {b['rss_kib'] / 1024:.0f} MiB")
    a = results["apply"]
    print(f"applying {a['file']}: {a['ours_s'] * 1000:.0f} ms against {a['reference_s'] * 1000:.0f} ms")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "linux")
    parser.add_argument("--old-commit", default="99fd626",
                        help="the commit whose executables make the older side of the own pairs")
    parser.add_argument("--rounds", type=int, default=7, help="interleaved rounds of applying")
    parser.add_argument("--make-rounds", type=int, default=3,
                        help="interleaved rounds of making (bsdiff takes a minute on the library)")
    parser.add_argument("--json", type=Path, default=ROOT / "build" / "bench-delta.json")
    parser.add_argument("--scratch", type=Path,
                        default=Path("/dev/shm") if Path("/dev/shm").is_dir() else None)
    options = parser.parse_args()
    options.build = options.build.resolve()
    run([str(ROOT / "scripts" / "setup"), "bsdiff", "xdelta3", "time"], stdout=subprocess.DEVNULL)
    run(["cmake", "--build", str(options.build), "-j2", "--target", "updater", "updater-release",
         "delta_bench"], stdout=subprocess.DEVNULL)
    results = measure(options)
    options.json.parent.mkdir(parents=True, exist_ok=True)
    options.json.write_text(json.dumps(results, indent=2))
    print_table(results)
    print(f"figures written to {options.json}")
    return 0 if all(ok for *_, ok in rows(results)) else 1


if __name__ == "__main__":
    sys.exit(main())
