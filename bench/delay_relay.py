#!/usr/bin/env python3
"""A relay on 127.0.0.1 that holds every piece of data it passes for a fixed
time in each direction, as a network with latency does: what a client sends
reaches the server that much later, and so does every piece of the answer.
Pieces keep their order and stream on meanwhile, so the delay costs a round
trip per request and answer, not throughput.

    delay_relay.py TARGET_PORT DELAY_MS

Prints the port it listens on, then relays to 127.0.0.1:TARGET_PORT until it
is ended."""
from __future__ import annotations

import asyncio
import sys


async def pump(reader: asyncio.StreamReader, writer: asyncio.StreamWriter, delay: float) -> None:
    """Passes what reader receives to writer, each piece delay seconds after it
    arrived; an end of stream too."""
    loop = asyncio.get_running_loop()
    pieces: asyncio.Queue = asyncio.Queue()

    async def receive():
        while True:
            try:
                data = await reader.read(1 << 16)
            except OSError:
                data = b""
            pieces.put_nowait((loop.time() + delay, data))
            if not data:
                return

    receiving = asyncio.ensure_future(receive())
    try:
        while True:
            due, data = await pieces.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()
    except OSError:
        pass
    finally:
        receiving.cancel()


async def main() -> None:
    target, delay = int(sys.argv[1]), int(sys.argv[2]) / 1000

    async def relay(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay))
        for writer in (client_writer, server_writer):
            writer.close()

    server = await asyncio.start_server(relay, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
