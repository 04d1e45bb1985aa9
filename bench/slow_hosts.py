#!/usr/bin/env python3
"""Other sites on loopback, slow and counted, for the external-links benchmark.

    bench/slow_hosts.py [--first N] [--hosts N] [--port P] [--delay-ms MS]
                        [--lifetime S] [--ready FILE]

Listens on 127.0.0.FIRST and the next HOSTS - 1 addresses (default
127.0.0.2 ... 127.0.0.101), one port, HTTP/1.1 with kept-alive connections.
Every request is answered after DELAY ms (default 50): a small HTML page, or
404 for /robots.txt. Per host it counts the transfers in flight (from a
request's head read to its answer being written) and the open connections,
and keeps the peaks.

Stops on SIGTERM or SIGINT, or by itself after LIFETIME seconds (default 600),
and then prints KEY=VALUE lines: the requests (HEAD, GET, robots.txt), the
distinct addresses asked for (robots.txt aside), the largest peaks over all
hosts, and every host's peak of transfers in flight, in address order.
"""
import argparse
import asyncio
import signal
import sys

HEAD_LIMIT = 64 * 1024  # the longest request head read
BODY_LIMIT = 1024 * 1024  # the longest request body read (and dropped)
IDLE_SECONDS = 30  # a kept-alive connection without a request is closed
PAGE = b"<!DOCTYPE html><html><head><title>Elsewhere</title></head><body><p>Fine.</p></body></html>\n"


class Stats:
    def __init__(self, hosts):
        self.inFlight = [0] * hosts
        self.peak = [0] * hosts
        self.open = [0] * hosts
        self.peakOpen = [0] * hosts
        self.methods = {}
        self.robots = 0
        self.addresses = set()


def answer(status, reason, body, head_only, keep):
    head = (
        f"HTTP/1.1 {status} {reason}\r\n"
        f"Content-Type: text/html; charset=utf-8\r\n"
        f"Content-Length: {len(body)}\r\n"
        # Lifts LinkChecker's cap of 10 requests a second on a host.
        f"LinkChecker: 1\r\n"
        f"Connection: {'keep-alive' if keep else 'close'}\r\n\r\n"
    ).encode()
    return head if head_only else head + body


async def serve(stats, host, delay, reader, writer):
    stats.open[host] += 1
    stats.peakOpen[host] = max(stats.peakOpen[host], stats.open[host])
    try:
        while True:
            try:
                head = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), IDLE_SECONDS)
            except (asyncio.IncompleteReadError, asyncio.LimitOverrunError, asyncio.TimeoutError, OSError):
                return
            lines = head.decode("latin-1").split("\r\n")
            parts = lines[0].split(" ")
            if len(parts) != 3:
                writer.write(answer(400, "Bad Request", b"", False, False))
                await writer.drain()
                return
            method, target, version = parts
            fields = {}
            for line in lines[1:]:
                name, colon, value = line.partition(":")
                if colon:
                    fields[name.strip().lower()] = value.strip().lower()
            length = fields.get("content-length", "0")
            if not length.isdigit() or int(length) > BODY_LIMIT:
                return
            if int(length):
                await reader.readexactly(int(length))
            connection = fields.get("connection", "")
            keep = "close" not in connection and (version == "HTTP/1.1" or "keep-alive" in connection)

            stats.methods[method] = stats.methods.get(method, 0) + 1
            robots = target.split("?")[0] == "/robots.txt"
            if robots:
                stats.robots += 1
            else:
                stats.addresses.add((host, target))
            stats.inFlight[host] += 1
            stats.peak[host] = max(stats.peak[host], stats.inFlight[host])
            try:
                await asyncio.sleep(delay)
            finally:
                # Counted out before the answer leaves, so that a client's next
                # request can never meet this one still counted.
                stats.inFlight[host] -= 1
            if robots:
                reply = answer(404, "Not Found", b"", method == "HEAD", keep)
            else:
                reply = answer(200, "OK", PAGE, method == "HEAD", keep)
            writer.write(reply)
            await writer.drain()
            if not keep:
                return
    except OSError:
        return
    finally:
        stats.open[host] -= 1
        writer.close()


async def run(args):
    stats = Stats(args.hosts)
    delay = args.delay_ms / 1000.0
    servers = []
    for i in range(args.hosts):
        address = f"127.0.0.{args.first + i}"

        def handler(reader, writer, host=i):
            return serve(stats, host, delay, reader, writer)

        servers.append(await asyncio.start_server(handler, address, args.port, limit=HEAD_LIMIT, backlog=512))
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    if args.ready:
        with open(args.ready, "w") as f:
            f.write("ready\n")
    try:
        await asyncio.wait_for(stop.wait(), args.lifetime)
    except asyncio.TimeoutError:
        print(f"slow_hosts: stopped after {args.lifetime} s", file=sys.stderr)
    for server in servers:
        server.close()
    return stats


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--first", type=int, default=2)
    parser.add_argument("--hosts", type=int, default=100)
    parser.add_argument("--port", type=int, default=18780)
    parser.add_argument("--delay-ms", type=int, default=50)
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--ready", default="")
    args = parser.parse_args()
    if not (1 <= args.first and 1 <= args.hosts and args.first + args.hosts <= 255):
        parser.error("the addresses must stay within 127.0.0.1 ... 127.0.0.254")
    stats = asyncio.run(run(args))
    print(f"requests={sum(stats.methods.values())}")
    for method in sorted(stats.methods):
        print(f"requests_{method.lower()}={stats.methods[method]}")
    print(f"robots_requests={stats.robots}")
    print(f"addresses={len(stats.addresses)}")
    print(f"hosts_asked={len({host for host, _ in stats.addresses})}")
    print(f"peak_in_flight={max(stats.peak)}")
    print(f"peak_connections={max(stats.peakOpen)}")
    print("peaks=" + " ".join(str(p) for p in stats.peak))
    print("peak_hosts=" + " ".join(f"{p}:{stats.peak.count(p)}" for p in sorted(set(stats.peak))))


if __name__ == "__main__":
    main()
