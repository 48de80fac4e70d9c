#!/usr/bin/env python3
"""Runs scripts/setup against a package mirror caught in the middle of a sync,
without touching the machine's packages: stand-ins for apt-get, dpkg-query and
dpkg come first on PATH. The stand-in apt-get fails `update` the way such a
mirror does and fails `install` unless it is given a target release; the
stand-in dpkg-query reports the named packages missing and asks the real one
everything else. Prints a PASS or FAIL line per case."""
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

APT_GET = r"""#!/bin/sh
echo "apt-get $*" >>"$STANDIN_LOG"
case "$1" in
update)
  n=$(grep -c '^apt-get update' "$STANDIN_LOG")
  [ "$n" -gt "${STANDIN_UPDATE_FAILS:-0}" ] && exit 0
  echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (129032 != 129116). Mirror sync in progress? [IP: 127.0.0.1 80]" >&2
  exit 100 ;;
install)
  case " $* " in *" -t "*) exit "${STANDIN_TARGET_FAILS:-0}" ;; esac
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100 ;;
source)
  # The version asked for is the last argument (package=version).
  for a in "$@"; do version=${a#*=}; done
  case " $STANDIN_SOURCE_REFUSED " in *" $version "*)
    echo "E: Failed to fetch http://mirror/debian-security/pool/updates/main/libz/libzstd/libzstd_$version.debian.tar.xz  404  Not Found [IP: 127.0.0.1 80]" >&2
    echo "E: Failed to fetch some archives." >&2
    exit 100 ;;
  esac
  # A source tree whose library builds at once.
  mkdir -p "libzstd-${version%-*}/lib"
  printf 'libzstd.a:\n\ttouch $@\n' >"libzstd-${version%-*}/lib/Makefile"
  touch "libzstd-${version%-*}/lib/zstd.h" "libzstd-${version%-*}/lib/zstd_errors.h"
  exit 0 ;;
esac
exit 1
"""

# Lists the source versions of the library, as a mirror with a security update does.
APT_CACHE = r"""#!/bin/sh
[ "$1" = showsrc ] || exec /usr/bin/apt-cache "$@"
for v in $STANDIN_SOURCE_LISTED; do printf 'Package: %s\nVersion: %s\n\n' "$2" "$v"; done
"""

DPKG_QUERY = r"""#!/bin/sh
for p in $STANDIN_MISSING; do
  if [ "$3" = "$p" ]; then exit 1; fi
done
exec /usr/bin/dpkg-query "$@"
"""

DPKG = r"""#!/bin/sh
case "$1" in
--print-foreign-architectures) echo i386 ;;
--add-architecture) echo "dpkg $*" >>"$STANDIN_LOG" ;;
*) exec /usr/bin/dpkg "$@" ;;
esac
"""

UPDATE_FAILED = "still reports failed indexes"
RETRIED = "trying again with the base suite as target release (-t bookworm)"
GAVE_UP = "installing these packages failed: wine32:i386"

# name, missing packages, failing updates, install -t exit code,
# expected exit code, apt-get calls (first word after apt-get), texts expected, texts not expected
CASES = [
    ("everything installed: no apt command at all", "", 3, 0, 0, [], [], [UPDATE_FAILED]),
    ("half-synced mirror: update retried, install from the base suite", "wine32:i386", 3, 0, 0,
     ["update", "update", "update", "install", "install -y -qq --no-install-recommends -t bookworm"],
     [UPDATE_FAILED, RETRIED], [GAVE_UP]),
    ("update fails once, then works", "wine32:i386", 1, 0, 0,
     ["update", "update", "install", "install -y -qq --no-install-recommends -t bookworm"],
     [RETRIED], [UPDATE_FAILED]),
    ("base suite fails too: setup stops with apt's message", "wine32:i386", 3, 100, 1,
     ["update", "update", "update", "install", "install -y -qq --no-install-recommends -t bookworm"],
     [UPDATE_FAILED, RETRIED, GAVE_UP, "held broken packages"], []),
]


def run_case(bindir: Path, log: Path, case) -> list[str]:
    name, missing, update_fails, target_fails, want_rc, want_calls, want_texts, not_texts = case
    log.write_text("")
    env = dict(os.environ, PATH=f"{bindir}:{os.environ['PATH']}", STANDIN_LOG=str(log),
               STANDIN_MISSING=missing, STANDIN_UPDATE_FAILS=str(update_fails),
               STANDIN_TARGET_FAILS=str(target_fails), SETUP_APT_RETRY_DELAY="0")
    done = subprocess.run([str(ROOT / "scripts/setup")], env=env, capture_output=True, text=True,
                          timeout=120)
    calls = [line[len("apt-get "):] for line in log.read_text().splitlines()
             if line.startswith("apt-get ")]
    # The install calls are compared up to the package list.
    calls = [c.split(" wine32:i386")[0] if c.startswith("install") else c.split(" ")[0]
             for c in calls]
    calls = ["install" if c == "install -y -qq --no-install-recommends" else c for c in calls]
    problems = []
    if done.returncode != want_rc:
        problems.append(f"exit code {done.returncode}, expected {want_rc}")
    if calls != want_calls:
        problems.append(f"apt-get calls {calls}, expected {want_calls}")
    problems += [f"missing text: {t}" for t in want_texts if t not in done.stderr]
    problems += [f"unexpected text: {t}" for t in not_texts if t in done.stderr]
    if problems:
        problems.append("stderr was:\n" + done.stderr)
    return problems


ZSTD = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "libzstd-dev"], capture_output=True,
                      text=True).stdout
UPSTREAM = ZSTD.rsplit("-", 1)[0]
OLDER, OLDEST = f"{UPSTREAM}-0.2", f"{UPSTREAM}-0.1"

# name, versions refused by the mirror, expected exit code, source versions asked
# for in order, the version the recipe names, texts expected. The mirror lists
# another upstream too, which is never tried.
SOURCE_CASES = [
    ("the installed version's source refused (404): the next version of the same upstream is built",
     ZSTD, 0, [ZSTD, OLDER], OLDER, []),
    ("no version's source can be fetched: one line names the package, the versions and apt's error",
     f"{ZSTD} {OLDER} {OLDEST}", 1, [ZSTD, OLDER, OLDEST], None,
     [f"setup: apt-get source libzstd failed for every version of {UPSTREAM} "
      f"(tried {ZSTD} {OLDER} {OLDEST}): E: Failed to fetch http://mirror/", "404  Not Found"]),
]


def run_source_case(bindir: Path, log: Path, case) -> list[str]:
    """Runs setup with zstd for one target missing from a library folder of
    its own (the others copied from the machine's), against a mirror that
    refuses some source versions."""
    name, refused, want_rc, want_versions, built, want_texts = case
    log.write_text("")
    root = bindir / "opt"
    shutil.rmtree(root, ignore_errors=True)
    for recipe in Path("/opt").glob("updater-*/*/recipe"):
        target = root / recipe.relative_to("/opt")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(recipe, target)
    zstd = root / "updater-zstd" / "i686-w64-mingw32"
    shutil.rmtree(zstd, ignore_errors=True)
    env = dict(os.environ, PATH=f"{bindir}:{os.environ['PATH']}", STANDIN_LOG=str(log),
               STANDIN_MISSING="", STANDIN_SOURCE_REFUSED=refused, SETUP_LIBRARY_ROOT=str(root),
               STANDIN_SOURCE_LISTED=f"{OLDEST} 9.9.9-1 {ZSTD} {OLDER}", SETUP_APT_RETRY_DELAY="0")
    done = subprocess.run([str(ROOT / "scripts/setup")], env=env, capture_output=True, text=True,
                          timeout=120)
    asked = [line.rsplit("=", 1)[1] for line in log.read_text().splitlines()
             if line.startswith("apt-get source ")]
    problems = []
    if done.returncode != want_rc:
        problems.append(f"exit code {done.returncode}, expected {want_rc}")
    if asked != want_versions:
        problems.append(f"source versions asked for {asked}, expected {want_versions}")
    recipe = (zstd / "recipe").read_text() if (zstd / "recipe").exists() else ""
    if built and not recipe.endswith(f"built from the source of {built}\n"):
        problems.append(f"the recipe does not name the version built: {recipe!r}")
    if not built and recipe:
        problems.append(f"a recipe was written: {recipe!r}")
    problems += [f"missing text: {t}" for t in want_texts if t not in done.stderr]
    if problems:
        problems.append("stderr was:\n" + done.stderr)
    return problems


def main() -> int:
    if os.geteuid() != 0:
        print("FAIL setup on a half-synced mirror: needs root, as scripts/setup does")
        return 1
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        bindir = Path(tmp)
        for name, text in (("apt-get", APT_GET), ("apt-cache", APT_CACHE),
                           ("dpkg-query", DPKG_QUERY), ("dpkg", DPKG)):
            (bindir / name).write_text(text)
            (bindir / name).chmod(0o755)
        runs = [(run_case, case) for case in CASES] + [(run_source_case, case) for case in SOURCE_CASES]
        for run, case in runs:
            problems = run(bindir, bindir / "calls.log", case)
            print(("FAIL " if problems else "PASS ") + "setup: " + case[0])
            for p in problems:
                print("    " + p)
            failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
