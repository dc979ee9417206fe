"""A slower link inside the bench's network namespace: a TCP proxy that delays every piece by
half the round trip in each direction, and the kernel's token-bucket shaper (tc tbf) on what
the server side sends. netem is not available on these machines.

    with Link(listen=443, target=8443, rtt_ms=40, rate_mbit=20):
        ...  # clients connect to 127.0.0.1:443, the server listens on 127.0.0.1:8443

The proxy accepts at once, so the TCP handshake's round trip is added to the first piece a
client sends. TLS stays end to end; TCP's slow start over the delay is not reproduced (the
proxy reads from the server at loopback speed), so the figures are slightly kind.
"""

import asyncio
import subprocess
import threading


def _tc(*args):
    subprocess.run(["tc"] + list(args), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class Link:
    def __init__(self, listen, target, rtt_ms=0.0, rate_mbit=None, host="127.0.0.1"):
        self.listen, self.target, self.host = listen, target, host
        self.delay = rtt_ms / 2000.0
        self.rate = rate_mbit
        self.loop = None
        self.thread = None
        self.shaped = False

    # ---- the shaper: only packets from the proxy's port, so that the hop between the proxy
    # and the server (also on loopback) is not counted twice.
    def _shape(self):
        if self._has_root():
            _tc("qdisc", "del", "dev", "lo", "root")
        subprocess.run(["ip", "link", "set", "lo", "mtu", "1500"], check=True)
        _tc("qdisc", "add", "dev", "lo", "root", "handle", "1:", "htb", "default", "20")
        for cls in ("1:10", "1:20"):
            _tc("class", "add", "dev", "lo", "parent", "1:", "classid", cls, "htb", "rate",
                "10gbit")
        _tc("qdisc", "add", "dev", "lo", "parent", "1:10", "handle", "10:", "tbf", "rate",
            "%gmbit" % self.rate, "burst", "16kb", "latency", "100ms")
        _tc("filter", "add", "dev", "lo", "parent", "1:", "protocol", "ip", "prio", "1", "u32",
            "match", "ip", "sport", str(self.listen), "0xffff", "flowid", "1:10")
        self.shaped = True

    @staticmethod
    def _has_root():
        out = subprocess.run(["tc", "qdisc", "show", "dev", "lo"], capture_output=True,
                             text=True).stdout
        return "qdisc htb 1:" in out or "qdisc tbf" in out

    # ---- the delaying proxy
    async def _pump(self, src, dst, extra):
        queue = asyncio.Queue()
        loop = asyncio.get_running_loop()

        async def send():
            while True:
                due, data = await queue.get()
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if dst.can_write_eof():
                        dst.write_eof()
                    return
                dst.write(data)
                await dst.drain()

        sender = asyncio.create_task(send())
        try:
            while True:
                data = await src.read(1 << 16)
                queue.put_nowait((loop.time() + self.delay + extra, data))
                extra = 0.0
                if not data:
                    break
            await sender
        except (ConnectionError, OSError):
            sender.cancel()

    async def _client(self, reader, writer):
        try:
            up_reader, up_writer = await asyncio.open_connection(self.host, self.target)
        except OSError:
            writer.close()
            return
        try:
            await asyncio.gather(self._pump(reader, up_writer, 2 * self.delay),
                                 self._pump(up_reader, writer, 0.0))
        finally:
            for w in (writer, up_writer):
                w.close()

    def _serve(self, ready):
        self.loop = asyncio.new_event_loop()
        asyncio.set_event_loop(self.loop)
        server = self.loop.run_until_complete(
            asyncio.start_server(self._client, self.host, self.listen, backlog=256))
        ready.set()
        try:
            self.loop.run_forever()
        finally:
            server.close()
            self.loop.run_until_complete(server.wait_closed())
            self.loop.close()

    def __enter__(self):
        if self.rate:
            self._shape()
        ready = threading.Event()
        self.thread = threading.Thread(target=self._serve, args=(ready,), daemon=True)
        self.thread.start()
        if not ready.wait(10):
            raise RuntimeError("the delaying proxy did not start")
        return self

    def __exit__(self, *exc):
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(10)
        if self.shaped:
            _tc("qdisc", "del", "dev", "lo", "root")
