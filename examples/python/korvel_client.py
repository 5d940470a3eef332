#!/usr/bin/env python3
"""A Korvel Control client in Python, to copy from.

It connects to the WebSocket API, answers the password challenge if the application asks for one, waits until
the console's state is complete, prints it, switches a module and prints the notification that follows, shows
an error matched to its request by "id", then follows the level meters at 20 messages a second.

    python3 korvel_client.py [URL] [--password TEXT] [--module mod1] [--seconds 5]

Needs Debian's python3-websockets. The protocol: docs/websocket-api.md.
"""

import argparse
import asyncio
import base64
import hashlib
import itertools
import json
import sys

try:
    import websockets
except ImportError:
    sys.exit("this example needs the websockets package: sudo apt-get install python3-websockets")

DEFAULT_URL = "ws://127.0.0.1:19552/"
REPLY_TIMEOUT = 3.0  # seconds to wait for a reply or notification; an older server ignores commands it lacks
METERING_INTERVAL_MS = 50  # at most 20 meter messages a second, each the peak of its interval


class ClientError(Exception):
    """Ends the example with this text."""


class Refused(ClientError):
    """The application answered a request with "error"."""


class NoAnswer(ClientError):
    """Nothing came in time."""


def compact(message):
    return json.dumps(message, separators=(",", ":"))


def sha256_base64(text):
    return base64.b64encode(hashlib.sha256(text.encode()).digest()).decode()


class KorvelClient:
    """One connection. Requests carry an "id"; the reply or error with that "id" goes to the request that sent
    it, everything else (notifications) waits in a queue."""

    def __init__(self, websocket):
        self.websocket = websocket
        self.ids = itertools.count(1)
        self.pending = {}  # id -> future of the reply
        self.notifications = asyncio.Queue()
        self.reader = asyncio.create_task(self.read())

    async def read(self):
        try:
            async for text in self.websocket:
                message = json.loads(text)
                future = self.pending.get(message.get("id"))
                if future is not None:
                    if not future.done():
                        future.set_result(message)
                elif message["msg"] == "error" and "id" not in message:
                    # An error without "id" is about the connection ("authentication required"): it answers
                    # every waiting request.
                    for waiting in self.pending.values():
                        if not waiting.done():
                            waiting.set_result(message)
                else:
                    self.notifications.put_nowait(message)
        except websockets.ConnectionClosed:
            pass
        for future in self.pending.values():
            if not future.done():
                future.set_exception(ClientError("the application closed the connection"))
        self.notifications.put_nowait(None)

    async def send(self, msg, data=None):
        """Sends one message with a fresh "id" and returns the future of its reply."""
        message = {"msg": msg} if data is None else {"msg": msg, "data": data}
        message["id"] = next(self.ids)
        future = asyncio.get_running_loop().create_future()
        self.pending[message["id"]] = future
        # Answered, cancelled or timed out: the id is done with.
        future.add_done_callback(lambda _: self.pending.pop(message["id"], None))
        print("->", compact(message))
        await self.websocket.send(json.dumps(message))
        return future

    async def request(self, msg, data=None, quiet=False):
        """A query: returns the "data" of its reply, raises Refused on an error."""
        try:
            reply = await asyncio.wait_for(await self.send(msg, data), REPLY_TIMEOUT)
        except asyncio.TimeoutError:
            raise NoAnswer(f"no reply to {msg} within {REPLY_TIMEOUT:g} s") from None
        if not quiet or reply["msg"] == "error":
            print("<-", compact(reply))
        if reply["msg"] == "error":
            raise Refused(reply["data"])
        return reply["data"]

    async def command(self, msg, data, notification):
        """A console command is not answered when it is carried out: the console's report comes back as a
        notification to every client. Returns that notification; raises Refused when an error comes instead."""
        reply = await self.send(msg, data)
        changed = asyncio.ensure_future(self.next_notification(notification))
        done, _ = await asyncio.wait({reply, changed}, timeout=REPLY_TIMEOUT, return_when=asyncio.FIRST_COMPLETED)
        changed.cancel()
        if reply in done:
            print("<-", compact(reply.result()))
            raise Refused(reply.result()["data"])
        reply.cancel()
        if changed not in done:
            raise NoAnswer(f"no {notification} within {REPLY_TIMEOUT:g} s")
        return changed.result()

    async def next_notification(self, msg):
        """The next notification called msg; those before it are passed over."""
        while True:
            message = await self.notifications.get()
            if message is None:
                raise ClientError("the application closed the connection")
            if message["msg"] == msg:
                return message


async def authenticate(websocket, password):
    """With a password set, the application opens with a challenge and serves nothing until it is answered.
    This handshake comes before "id" matching: its replies carry none."""
    try:
        hello = json.loads(await asyncio.wait_for(websocket.recv(), REPLY_TIMEOUT))
    except asyncio.TimeoutError:
        raise NoAnswer("a password was given but the application asks for none") from None
    if hello.get("msg") != "hello":
        raise ClientError(f"expected the password challenge, got {compact(hello)}")
    secret = sha256_base64(password + hello["data"]["salt"])
    answer = sha256_base64(secret + hello["data"]["challenge"])
    await websocket.send(json.dumps({"msg": "authenticate", "data": answer}))
    try:
        reply = json.loads(await asyncio.wait_for(websocket.recv(), REPLY_TIMEOUT))
    except asyncio.TimeoutError:
        raise NoAnswer("no answer to the password") from None
    if reply.get("msg") != "authenticated":
        raise ClientError(f"password refused: {reply.get('data')}")
    print("authenticated")


def meter_line(levels):
    def pair(side):
        return f"{levels[side + '_left']:6.2f} {levels[side + '_right']:6.2f}"

    return f"meters  pgm {pair('pgm')}  phones {pair('phones')}  crm {pair('crm')}"


async def run(args):
    async with websockets.connect(args.url) as websocket:
        print("connected to", args.url)
        if args.password is not None:
            await authenticate(websocket, args.password)
        client = KorvelClient(websocket)

        # Right after the console is plugged in the application is still reading its state; a snapshot taken
        # then would leave keys out.
        if not await client.request("get_state_complete"):
            print("waiting for the console's state")
            try:
                await asyncio.wait_for(client.next_notification("on_state_complete"), REPLY_TIMEOUT)
            except asyncio.TimeoutError:
                raise NoAnswer("the console's state did not become complete") from None

        state = await client.request("get_all", quiet=True)
        print(f"<- all, {len(state)} keys:")
        print(json.dumps(state, indent=2))

        switched = await client.command("set_on", {args.module: "toggle"}, "on_on")
        print("notification:", compact(switched))

        # A deliberate mistake: the error names the request it answers by its "id".
        try:
            await client.command("set_on", {"mod9": "on"}, "on_on")
        except Refused as error:
            print("refused as expected:", error)

        try:
            interval = await client.request("set_metering_interval", METERING_INTERVAL_MS)
            print(f"metering interval: {interval} ms")
        except NoAnswer:
            print("no answer to set_metering_interval: this application sends the meters at the console's rate")

        # The first meter message is the sign that the subscription was accepted.
        deadline = asyncio.get_running_loop().time() + args.seconds
        meters = await client.command("subscribe", ["metering"], "on_metering")
        count = 0
        while meters is not None:
            print(meter_line(meters["data"]))
            count += 1
            try:
                remaining = deadline - asyncio.get_running_loop().time()
                meters = await asyncio.wait_for(client.next_notification("on_metering"), max(remaining, 0))
            except asyncio.TimeoutError:
                meters = None
        print(f"{count} meter messages in {args.seconds:g} s")


def main():
    parser = argparse.ArgumentParser(description="Korvel Control WebSocket client example")
    parser.add_argument("url", nargs="?", default=DEFAULT_URL, help=f"default {DEFAULT_URL}")
    parser.add_argument("--password", help="the password set in the application's Network access dialog")
    parser.add_argument("--module", default="mod1", help="the module to switch (mod1 ... mod8)")
    parser.add_argument("--seconds", type=float, default=5, help="how long to follow the meters")
    args = parser.parse_args()
    try:
        asyncio.run(run(args))
    except Refused as error:
        if str(error) == "Device USB not connected!":
            sys.exit("Korvel Control answers, but its console is not connected")
        if str(error) == "authentication required":
            sys.exit("Korvel Control asks for a password: give it with --password")
        sys.exit(f"refused: {error}")
    except (OSError, websockets.InvalidHandshake, websockets.InvalidURI) as error:
        sys.exit(f"cannot connect to {args.url}: {error}")
    except (ClientError, websockets.ConnectionClosed) as error:
        sys.exit(str(error))


if __name__ == "__main__":
    main()
