#!/usr/bin/env python3
"""Runs the test_* functions of one end-to-end case file against one build
and prints "N passed, M failed"."""
import argparse
import importlib.util
import sys
import traceback
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from harness import Display, Harness  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, choices=["linux", "win32", "win64"])
    parser.add_argument("--bin-dir", required=True, type=Path)
    parser.add_argument("-k", action="append", default=[],
                        help="run only tests whose name contains this (may be given again)")
    parser.add_argument("case", type=Path)
    options = parser.parse_args()

    spec = importlib.util.spec_from_file_location(options.case.stem, options.case)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    tests = [(n, f) for n, f in vars(module).items() if n.startswith("test_") and callable(f)]
    tests = [(n, f) for n, f in tests if not options.k or any(k in n for k in options.k)]

    display = Display()
    passed = failed = 0
    try:
        for name, test in tests:
            h = Harness(options.build, options.bin_dir.resolve(), display)
            try:
                test(h)
                error = ""
            except Exception:
                error = traceback.format_exc()
            except BaseException:
                h.close()
                raise
            # A sanitizer build's report about the program fails the test too.
            reports = h.close()
            if reports:
                error += "the sanitizer reported:\n" + reports
            if error:
                failed += 1
                print(f"FAIL {name} [{options.build}]", flush=True)
                print(error, end="", flush=True)
            else:
                passed += 1
                print(f"PASS {name} [{options.build}]", flush=True)
    finally:
        display.close()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
