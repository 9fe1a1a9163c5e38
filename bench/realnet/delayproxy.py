#!/usr/bin/env python3
"""A line between the client and the server, in user space: every byte
arrives half a round trip after it was sent, and all connections share one
line's bandwidth in each direction (serialised in the order they came).

    delayproxy.py LISTEN_PORT TARGET_PORT RTT_MS MBIT_PER_S

Listens on 127.0.0.1:LISTEN_PORT and forwards each connection to
127.0.0.1:TARGET_PORT. Prints "ready" once it listens."""
import asyncio
import sys
import time


class Line:
    """One direction of the shared line."""

    def __init__(self, bytes_per_s, one_way_s):
        self.rate = bytes_per_s
        self.one_way = one_way_s
        self.free_at = 0.0

    def arrival(self, size):
        now = time.monotonic()
        start = max(now, self.free_at)
        self.free_at = start + size / self.rate
        return self.free_at + self.one_way


async def pump(reader, writer, line):
    queue = asyncio.Queue()

    async def deliver():
        while True:
            item = await queue.get()
            if item is None:
                break
            due, data = item
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        try:
            if writer.can_write_eof():
                writer.write_eof()
        except OSError:
            pass

    task = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(16384)
            if not data:
                break
            queue.put_nowait((line.arrival(len(data)), data))
    except (ConnectionError, OSError):
        pass
    queue.put_nowait(None)
    try:
        await task
    except (ConnectionError, OSError):
        pass


async def main():
    listen, target = int(sys.argv[1]), int(sys.argv[2])
    one_way = float(sys.argv[3]) / 2000.0
    rate = float(sys.argv[4]) * 1e6 / 8
    down, up = Line(rate, one_way), Line(rate, one_way)

    async def serve(client_reader, client_writer):
        # The connection itself takes a round trip, as a real one does.
        await asyncio.sleep(2 * one_way)
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, up),
                             pump(server_reader, client_writer, down))
        for w in (client_writer, server_writer):
            try:
                w.close()
            except OSError:
                pass

    server = await asyncio.start_server(serve, "127.0.0.1", listen, backlog=256)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
