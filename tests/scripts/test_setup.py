#!/usr/bin/env python3
"""Runs scripts/setup against a package mirror caught in the middle of a sync,
without touching the machine's packages: stand-ins for apt-get, dpkg-query and
dpkg come first on PATH. The stand-in apt-get fails `update` the way such a
mirror does and fails `install` unless it is given a target release; the
stand-in dpkg-query reports the named packages missing and asks the real one
everything else. Prints a PASS or FAIL line per case."""
import os
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
esac
exit 1
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


def main() -> int:
    if os.geteuid() != 0:
        print("FAIL setup on a half-synced mirror: needs root, as scripts/setup does")
        return 1
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        bindir = Path(tmp)
        for name, text in (("apt-get", APT_GET), ("dpkg-query", DPKG_QUERY), ("dpkg", DPKG)):
            (bindir / name).write_text(text)
            (bindir / name).chmod(0o755)
        for case in CASES:
            problems = run_case(bindir, bindir / "calls.log", case)
            print(("FAIL " if problems else "PASS ") + "setup: " + case[0])
            for p in problems:
                print("    " + p)
            failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
