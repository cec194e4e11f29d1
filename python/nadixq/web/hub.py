"""Delivery of the newest messages to every connected page.

Each client holds at most one pending message per kind ("status", "align",
"measure", "runs"): a newer one replaces the one not yet sent, so a client
that reads slowly, or not at all, skips frames and never makes the server
queue them. Runs on the event loop's thread only.
"""

from __future__ import annotations

import asyncio
from typing import Awaitable, Callable, Dict, Set, Union

Message = Union[bytes, str]


class ClientFeed:
    """The pending messages of one client and the task that sends them."""

    def __init__(self, send: Callable[[Message], Awaitable[None]]) -> None:
        self._send = send
        self._pending: Dict[str, Message] = {}
        self._ready = asyncio.Event()
        self.dropped = 0

    def offer(self, kind: str, message: Message) -> None:
        if kind in self._pending:
            self.dropped += 1
        self._pending[kind] = message
        self._ready.set()

    async def pump(self) -> None:
        """Sends until cancelled or the connection fails; a send waits while
        the client's socket is full."""
        while True:
            await self._ready.wait()
            self._ready.clear()
            pending, self._pending = self._pending, {}
            for message in pending.values():
                try:
                    await self._send(message)
                except (ConnectionError, RuntimeError):
                    return  # the client went; its handler removes the feed


class Hub:
    def __init__(self) -> None:
        self._clients: Set[ClientFeed] = set()
        self._latest: Dict[str, Message] = {}

    def __len__(self) -> int:
        return len(self._clients)

    def join(self, feed: ClientFeed) -> None:
        """Adds a client and gives it the newest message of every kind, so a
        page that (re)connects shows the current state at once."""
        self._clients.add(feed)
        for kind, message in self._latest.items():
            feed.offer(kind, message)

    def leave(self, feed: ClientFeed) -> None:
        self._clients.discard(feed)

    def publish(self, kind: str, message: Message) -> None:
        self._latest[kind] = message
        for feed in self._clients:
            feed.offer(kind, message)

    def forget(self, kind: str) -> None:
        self._latest.pop(kind, None)
