#!/usr/bin/env python3
"""A player's link to a download host, with a fault on it: each connection's
request goes to the host, and its answer comes back, except that

  --stall-above N   of a body longer than N bytes only the first half is
                    passed; then nothing, the connection held open until the
                    player closes it (a host that stalls mid-body);
  --cut-every N     at most N bytes of each body are passed, then the
                    connection is closed (a line cut every N bytes: a request
                    that continues the file gets its next N).

Each answer is logged as the reference nginx logs it,
'ADDRESS "REQUEST" STATUS BODY_BYTES', BODY_BYTES being what the player was
sent. The launcher opens a connection per request, so one is served per
connection.

Usage: link_proxy.py PORT HOST_PORT LOG (--stall-above N | --cut-every N)
       (listens on 127.0.0.1:PORT, the host is 127.0.0.1:HOST_PORT)
"""
import argparse
import asyncio
import signal

ADDRESS = "127.0.0.1"
HEAD_LIMIT = 64 << 10
CHUNK_BYTES = 64 << 10
# Longer than a launcher waits on a silent host (its rate rule's 60 s);
# then the held connection is closed, so that nothing outlives the run.
HOLD_SECONDS = 180


def body_length(head):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            return int(value)
    return None


async def relay(player_in, player_out, args, log):
    try:
        request = await player_in.readuntil(b"\r\n\r\n")
    except (asyncio.IncompleteReadError, asyncio.LimitOverrunError, ConnectionError):
        player_out.close()
        return
    try:
        host_in, host_out = await asyncio.open_connection(ADDRESS, args.host_port)
    except OSError:
        player_out.close()
        return
    sent = 0
    status = "000"
    length = None
    try:
        host_out.write(request)
        head = await host_in.readuntil(b"\r\n\r\n")
        status = head.split(b" ", 2)[1].decode()
        length = body_length(head)
        passed = length
        if args.stall_above is not None and length is not None and length > args.stall_above:
            passed = length // 2
        if args.cut_every is not None:
            passed = args.cut_every if length is None else min(length, args.cut_every)
        player_out.write(head)
        while passed is None or sent < passed:
            data = await host_in.read(CHUNK_BYTES if passed is None else min(CHUNK_BYTES, passed - sent))
            if not data:
                break
            player_out.write(data)
            await player_out.drain()
            sent += len(data)
    except (asyncio.IncompleteReadError, ConnectionError):
        pass
    finally:
        host_out.close()
        peer = player_out.get_extra_info("peername")[0]
        line = request.split(b"\r\n", 1)[0].decode("latin-1")
        log.write(f'{peer} "{line}" {status} {sent}\n')
    if args.stall_above is not None and length is not None and sent < length:
        try:
            await asyncio.wait_for(player_in.read(), HOLD_SECONDS)
        except (asyncio.TimeoutError, ConnectionError):
            pass
    player_out.close()


async def serve(args):
    with open(args.log, "a", buffering=1) as log:
        server = await asyncio.start_server(
            lambda r, w: relay(r, w, args, log), ADDRESS, args.port, backlog=4096,
            limit=HEAD_LIMIT)
        stop = asyncio.Event()
        loop = asyncio.get_running_loop()
        for signum in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(signum, stop.set)
        async with server:
            await stop.wait()
        # Held connections end with the proxy.
        relays = asyncio.all_tasks() - {asyncio.current_task()}
        for relay_task in relays:
            relay_task.cancel()
        await asyncio.gather(*relays, return_exceptions=True)


def main():
    parser = argparse.ArgumentParser(prog="link_proxy.py")
    parser.add_argument("port", type=int)
    parser.add_argument("host_port", type=int)
    parser.add_argument("log")
    fault = parser.add_mutually_exclusive_group(required=True)
    fault.add_argument("--stall-above", type=int)
    fault.add_argument("--cut-every", type=int)
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
