"""The web view's server under load: 20 pages reading the Align stream for
a minute while another connection never reads at all. The readers keep
their frame rate (within 20% of a single reader's), the server's resident
memory stays flat (within 10%), and nothing fails. NADIXQ_LOAD_SECONDS
shortens the minute for a quick look."""

import asyncio
import json
import os
import socket
import statistics
import struct
import time
import unittest

import nadixq
from web_support import ServerProcess

try:
    import aiohttp
except ImportError:
    aiohttp = None

READERS = 20
SECONDS = float(os.environ.get("NADIXQ_LOAD_SECONDS", "60"))
WARM_UP = 5.0


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for process %d" % pid)


def frame_type(data):
    (length,) = struct.unpack_from("<I", data)
    return json.loads(data[4:4 + length])["type"]


async def read_align_frames(session, url, seconds, counts, index):
    async with session.ws_connect(url, max_msg_size=0) as ws:
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            try:
                message = await ws.receive(timeout=left)
            except asyncio.TimeoutError:
                return
            if message.type == aiohttp.WSMsgType.BINARY:
                if frame_type(message.data) == "align":
                    counts[index] += 1
            elif message.type != aiohttp.WSMsgType.TEXT:
                raise AssertionError("reader %d: the connection ended: %s" % (index, message))


def never_reading_client(host_port):
    """A WebSocket upgrade, then nothing read ever again, on a small socket
    buffer: the server's frames for it can only pile up on its side."""
    host, port = host_port.rsplit(":", 1)
    client = socket.socket()
    client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    client.connect((host, int(port)))
    client.sendall(("GET /ws HTTP/1.1\r\nHost: %s\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                    "\r\n" % host_port).encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += client.recv(1)
    assert answer.startswith(b"HTTP/1.1 101"), answer
    return client


@unittest.skipUnless(aiohttp, "no aiohttp (Debian: python3-aiohttp)")
@unittest.skipUnless(nadixq.sim.available(), "the library has no simulated instrument")
@unittest.skipUnless(os.path.exists("/proc/self/status"), "no /proc to read memory from")
class LoadTest(unittest.TestCase):
    def test_twenty_readers_and_one_that_never_reads(self):
        server = ServerProcess("--port", "0")
        self.addCleanup(server.cleanup)
        asyncio.run(self.drive(server))
        self.assertEqual(server.stop(), 0)
        errors = "".join(server.errors)
        self.assertNotIn("Traceback", errors)
        self.assertNotIn("rror", errors)

    async def drive(self, server):
        base = server.base
        url = base.replace("http://", "ws://") + "/ws"
        async with aiohttp.ClientSession() as session:
            async with session.post(base + "/api/align") as response:
                self.assertEqual(response.status, 200, await response.text())
            single = [0]
            await read_align_frames(session, url, 1.0, single, 0)  # the first frames flowing
            single = [0]
            await read_align_frames(session, url, 10.0, single, 0)
            single_rate = single[0] / 10.0
            self.assertGreater(single_rate, 5.0)

            stuck = never_reading_client(server.host_port)
            try:
                counts = [0] * READERS
                memory = []

                async def watch():
                    await asyncio.sleep(WARM_UP)
                    while True:
                        memory.append(resident_kib(server.process.pid))
                        await asyncio.sleep(1.0)

                watcher = asyncio.ensure_future(watch())
                started = time.monotonic()
                await asyncio.gather(*[read_align_frames(session, url, SECONDS, counts, i)
                                       for i in range(READERS)])
                elapsed = time.monotonic() - started
                watcher.cancel()
            finally:
                stuck.close()

        rates = [count / elapsed for count in counts]
        for rate in rates:
            self.assertGreater(rate, 0.8 * single_rate, (rates, single_rate))
            self.assertLess(rate, 1.2 * single_rate + 1.0, (rates, single_rate))
        first = memory[0]
        self.assertGreater(len(memory), 3)
        for resident in memory:
            self.assertLess(abs(resident - first), 0.1 * first,
                            "resident memory (KiB), one second apart: %s" % memory)
        print("align frames per second: one reader %.1f; 20 readers median %.1f (%.1f to %.1f); "
              "resident memory %d to %d KiB" % (
                  single_rate, statistics.median(rates), min(rates), max(rates), min(memory),
                  max(memory)))


if __name__ == "__main__":
    unittest.main()
