#!/usr/bin/env python3
"""Prints the fault matrices that test_faults.py left in the build directories
as one table: per case, one line per build with whether the installation was
intact and the boxes the user read (CR and LF shown as \\r and \\n)."""
import sys
import time
from pathlib import Path


def main() -> int:
    rows: dict[str, list[tuple[str, str, str]]] = {}
    for name in sys.argv[1:]:
        path = Path(name)
        if not path.exists():
            print(f"(no fault matrix at {path})")
            continue
        written = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(path.stat().st_mtime))
        print(f"({path} written {written})")
        for line in path.read_text(encoding="utf-8").splitlines():
            case, build, boxes, intact = (line.split("\t") + ["", "", ""])[:4]
            rows.setdefault(case, []).append((build, intact, boxes))
    if not rows:
        return 0
    width = max(len(case) for case in rows)
    print(f"{'case':<{width}}  {'build':<6} {'intact':<14} boxes seen")
    for case, lines in rows.items():
        for i, (build, intact, boxes) in enumerate(lines):
            print(f"{case if i == 0 else '':<{width}}  {build:<6} {intact:<14} {boxes}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
