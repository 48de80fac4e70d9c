"""A release file larger than 4 GiB, for the shipped 32-bit build, whose
sizes in memory are 32 bits wide while the transfer counts past 2^31 and
2^32. The server generates the body as it sends it and the file is compared
with the same generator block by block, so the body is never stored twice;
the file itself lands on a small file system of its own, in memory."""
import random
import threading

from harness import check, eventually

BLOCK = 1 << 20
# Not a whole number of blocks or pieces: the last read is a partial one.
SIZE = (4 << 30) + 3 * BLOCK + 4321
INT32_MAX = 2**31 - 1
BASE = random.Random(32).randbytes(BLOCK)


def block(index: int) -> bytearray:
    """The body's block at that index: the same random bytes, stamped with
    the index, so that a block written in the wrong place does not match."""
    data = bytearray(BASE)
    data[:8] = index.to_bytes(8, "little")
    return data


def send_body(conn, start: int, end: int) -> None:
    at = start
    while at < end:
        index, offset = divmod(at, BLOCK)
        n = min(BLOCK - offset, end - at)
        conn.sendall(memoryview(block(index))[offset:offset + n])
        at += n


def delivered(conn) -> bool:
    """Whether the program has read every byte sent on the connection:
    nothing waits in the server's send queue or in the program's receive
    queue (the columns tx_queue and rx_queue of /proc/net/tcp)."""
    ours, theirs = conn.getsockname()[1], conn.getpeername()[1]
    with open("/proc/net/tcp") as table:
        for line in table.read().splitlines()[1:]:
            fields = line.split()
            ends = (int(fields[1].split(":")[1], 16), int(fields[2].split(":")[1], 16))
            tx, rx = (int(n, 16) for n in fields[4].split(":"))
            if (ends == (ours, theirs) and tx) or (ends == (theirs, ours) and rx):
                return False
    return True


def first_difference(path) -> int | None:
    """The offset of the first block that differs from the body, or None."""
    buffer = bytearray(BLOCK)
    with open(path, "rb", buffering=0) as f:
        for index in range((SIZE + BLOCK - 1) // BLOCK):
            want = min(BLOCK, SIZE - index * BLOCK)
            got = f.readinto(buffer)
            if got != want or buffer[:got] != block(index)[:got]:
                return index * BLOCK
    return None


# The server stops at each of these offsets until the program has read all it
# was sent and the window has been read: past the signed 32-bit range, where a
# signed count would turn negative, and past 2^32, where any 32-bit count would
# start again from nothing. Both show the clamped figures of the 32-bit
# transfer fields.
STOPS = [3 << 30, (4 << 30) + BLOCK]
CLAMPED = "已下载:2047.99 MB  共 2047.99 MB"


def test_file_over_4_gib_arrives_whole_with_the_bar_and_byte_line_clamped(h):
    # Room for the file and the updater's copy; the run backs up nothing.
    app = h.tmpfs("app", SIZE // 1024 + 16 * 1024)
    (app / "client.exe").write_bytes(h.client("6.2.0.1"))
    exe = h.updater_copy(app, "file.exe")
    server = h.raw_server()
    server.files["/rel/update.ini"] = (
        b"[Version]\r\nNewVersion=6.3\r\n[FileList]\r\nCount=1\r\nFile1=big.dat\r\n")
    reached = [threading.Event() for _ in STOPS]
    resume = [threading.Event() for _ in STOPS]

    def body(conn):
        at = 0
        for stop, there, go_on in zip(STOPS, reached, resume):
            send_body(conn, at, stop)
            eventually(lambda: delivered(conn), 120, what=f"the program to read {stop} bytes")
            there.set()
            go_on.wait(120)
            at = stop
        send_body(conn, at, SIZE)

    server.scripts["/rel/big.dat"] = [
        b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % SIZE, body]
    h.set_registry({"UpdatePath": h.native_path(app), "URL": server.base})
    run = h.start(exe, ["UPDATE"], app)

    for stop, there, go_on in zip(STOPS, reached, resume):
        check(there.wait(180), f"the program did not read {stop} bytes")
        # While the server waits, the window shows the transfer's last event.
        state = eventually(lambda: (s := run.window()).controls["Label4"].text == CLAMPED and s,
                           10, interval=0.5, what=f"the byte line at {stop} bytes: {CLAMPED}")
        bar = state.controls["PB_Curr"]
        check((bar.pos, bar.max) == (INT32_MAX, INT32_MAX),
              f"bar at {stop} bytes: {bar.pos}/{bar.max}")
        go_on.set()

    box = run.box(300)
    check(box.text == "恭喜，你现在已经成功升级到新版本 6.3 了！", f"box {box.text!r}")
    check(run.wait(60) == 0, "exit code")
    big = app / "big.dat"
    check(big.stat().st_size == SIZE, f"big.dat has {big.stat().st_size} bytes of {SIZE}")
    differs = first_difference(big)
    check(differs is None, f"big.dat differs from the body at {differs}")
    check(server.requests == ["/rel/update.ini", "/rel/big.dat"], f"requests {server.requests}")
