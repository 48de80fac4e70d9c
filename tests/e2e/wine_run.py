#!/usr/bin/env python3
"""Runs a Windows program of a Windows build in the build's own wine prefix,
a 64-bit program under wine64 and a 32-bit one under the 32-bit wine loader,
or (--prepare) creates that prefix once."""
import os
import subprocess
import sys
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"

# Where the kernel runs no i386 code, qemu's emulator runs the 32-bit loader
# (registered by scripts/setup). By default it gives the program 4 GiB of
# address space, and wine's start-up then tries to reserve everything above
# 2 GiB, 64 KiB at a time, each try an emulated mmap: 45 s of CPU for every
# process. A 32-bit Windows program has 2 GiB anyway (ours is not large
# address aware); the 16 MiB above are for the loader's own mappings. With
# that, a process starts in about 2 s. Natively the variable means nothing.
QEMU_RESERVED_VA = "0x81000000"

# The machine field of a PE image's file header.
PE_MACHINE_I386 = 0x14C


def wine_for(exe: Path) -> str:
    """The loader that runs this program: a 32-bit program (as on 64-bit
    Windows) under the 32-bit loader, everything else under wine64."""
    with open(exe, "rb") as image:
        head = image.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little") if head[pe:pe + 4] == b"PE\0\0" else 0
    return WINE32 if machine == PE_MACHINE_I386 else WINE


def prefix_for(exe_or_dir: Path) -> Path:
    here = exe_or_dir.resolve()
    for parent in [here, *here.parents]:
        if (parent / "CMakeCache.txt").exists():
            return parent / "wineprefix"
    raise SystemExit(f"no build directory above {exe_or_dir}")


def wine_env(prefix: Path, display: str | None = None) -> dict:
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LC_ALL="zh_CN.GBK", WINEARCH="win64", QEMU_RESERVED_VA=QEMU_RESERVED_VA)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def prepare(prefix: Path) -> None:
    if (prefix / "system.reg").exists():
        return
    prefix.mkdir(parents=True, exist_ok=True)
    env = wine_env(prefix)
    subprocess.run([WINE, "wineboot", "-i"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=300)


def main() -> int:
    if sys.argv[1:2] == ["--prepare"]:
        build = Path(sys.argv[2]) if len(sys.argv) > 2 else Path.cwd()
        prepare(prefix_for(build))
        return 0
    exe = Path(sys.argv[1])
    prefix = prefix_for(exe.parent)
    prepare(prefix)
    env = wine_env(prefix)
    result = subprocess.run([wine_for(exe), str(exe), *sys.argv[2:]], env=env)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
