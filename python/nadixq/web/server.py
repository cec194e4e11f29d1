"""The web server: the page, a small JSON API and one WebSocket.

    GET  /                      the page (static/index.html)
    GET  /static/NAME           its scripts, style and the plotting library
    GET  /api/status            the station's state (also sent on the WebSocket)
    GET  /api/runs              the kept runs, newest first
    GET  /api/runs/ID           one run's record
    GET  /api/runs/ID/frame     a kept run as a measure frame, for the plots
    GET  /api/runs/ID.spc       the run's SPC file
    GET  /api/runs/ID.jdx       the run as JCAMP-DX
    POST /api/align             continuous one-scan runs
    POST /api/measure           {"kind": "background" | "sample", "settings": {...}}
    POST /api/settings          {...}: the settings of the next run
    POST /api/stop              stops what runs
    POST /api/open              closes and opens the instrument again
    POST /api/sim               {"action": "unplug" | "replug"} (simulated instrument only)
    GET  /ws                    status and runs as JSON, data frames as binary;
                                the page may send {"type": "ping", "client": ms}

Errors are JSON {"error": text} with the status: 400 bad request or settings,
401 no token, 403 other site, 404 unknown, 409 busy, 413 too large.
"""

from __future__ import annotations

import asyncio
import json
import logging
import os
import time
from typing import Any, Callable, Dict, Optional, Set, Tuple

from aiohttp import WSMsgType, web

from . import station as station_module
from .hub import ClientFeed, Hub, Message
from .security import Guard
from .station import Station

log = logging.getLogger("nadixq.web")

STATIC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")
# Settings and actions are a few hundred bytes.
LARGEST_BODY = 16 * 1024
# How long a page gets to take the close message when the server stops.
CLOSE_SECONDS = 2.0
# How often the progress of a run goes to the pages.
PROGRESS_SECONDS = 0.25

_TYPES = {".html": "text/html", ".js": "text/javascript", ".css": "text/css",
          ".png": "image/png", ".svg": "image/svg+xml", "": "text/plain"}


def _static_files() -> Dict[str, str]:
    """The page's files by the name they are asked for: a fixed table made at
    start, so that no request names a file of its own."""
    files = {}
    for sub in ("", "vendor"):
        folder = os.path.join(STATIC, sub)
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            extension = os.path.splitext(name)[1]
            if os.path.isfile(path) and extension in _TYPES:
                files[(sub + "/" if sub else "") + name] = path
    return files


def _error(status: int, text: str) -> web.Response:
    return web.json_response({"error": text}, status=status)


async def _json_body(request: web.Request) -> Dict[str, Any]:
    try:
        body: Any = await request.json()
    except web.HTTPRequestEntityTooLarge:
        raise
    except ValueError as error:
        raise web.HTTPBadRequest(text=json.dumps({"error": "the body is not JSON: %s" % error}),
                                 content_type="application/json")
    if not isinstance(body, dict):
        raise web.HTTPBadRequest(text=json.dumps({"error": "the body must be a JSON object"}),
                                 content_type="application/json")
    return body


class Server:
    def __init__(self, station: Station, guard: Guard) -> None:
        self.station = station
        self.guard = guard
        self.hub = Hub()
        self.files = _static_files()
        self.app = web.Application(middlewares=[guard.middleware], client_max_size=LARGEST_BODY)
        self.app.add_routes([
            web.get("/", self.page),
            web.get("/static/{name:.+}", self.static),
            web.get("/api/status", self.status),
            web.get("/api/runs", self.runs),
            web.get("/api/runs/{name}", self.run),
            web.get("/api/runs/{name}/frame", self.run_frame),
            web.post("/api/align", self.align),
            web.post("/api/measure", self.measure),
            web.post("/api/settings", self.settings),
            web.post("/api/stop", self.stop),
            web.post("/api/open", self.open),
            web.post("/api/sim", self.simulator),
            web.get("/ws", self.websocket),
        ])
        self.app.on_startup.append(self._started)
        self.app.on_shutdown.append(self._closing)
        self._feeds: Set[Tuple["asyncio.Task[None]", web.WebSocketResponse]] = set()
        self.loop: Optional[asyncio.AbstractEventLoop] = None
        self._ticker: Optional["asyncio.Task[None]"] = None

    # Life.

    async def _started(self, app: web.Application) -> None:
        self.loop = asyncio.get_running_loop()
        self._ticker = asyncio.ensure_future(self._tick())

    async def _closing(self, app: web.Application) -> None:
        if self._ticker is not None:
            self._ticker.cancel()
        for feed_task, ws in list(self._feeds):
            feed_task.cancel()
        # All at once and briefly: a page that stopped reading cannot take
        # its close message.
        await asyncio.gather(*[asyncio.wait_for(ws.close(), CLOSE_SECONDS)
                               for _, ws in list(self._feeds)], return_exceptions=True)

    def publish(self, kind: str, message: Message) -> None:
        """From any thread: hands a message to every page."""
        if self.loop is None:
            return
        try:
            self.loop.call_soon_threadsafe(self.hub.publish, kind, message)
        except RuntimeError:
            pass  # the loop has closed: the server is gone, and so are the pages

    async def _tick(self) -> None:
        while True:
            await asyncio.sleep(PROGRESS_SECONDS)
            if self.station.busy and len(self.hub):
                self.station.publish_status()

    # The page.

    async def page(self, request: web.Request) -> web.Response:
        return self._file("index.html")

    async def static(self, request: web.Request) -> web.Response:
        return self._file(request.match_info["name"])

    def _file(self, name: str) -> web.Response:
        path = self.files.get(name)
        if path is None:
            return _error(404, "no such file")
        with open(path, "rb") as source:
            body = source.read()
        return web.Response(body=body, content_type=_TYPES[os.path.splitext(name)[1]],
                            headers={"Cache-Control": "no-cache"})

    # Reading.

    async def status(self, request: web.Request) -> web.Response:
        return web.json_response(self.station.status())

    async def runs(self, request: web.Request) -> web.Response:
        return web.json_response({"runs": self.station.store.records()})

    async def run(self, request: web.Request) -> web.Response:
        name = request.match_info["name"]
        store = self.station.store
        run_id, extension = os.path.splitext(name)
        if extension in (".spc", ".jdx"):
            if store.record(run_id) is None:
                return _error(404, "no such run")
            body: Optional[bytes]
            if extension == ".spc":
                body = await asyncio.to_thread(_read, store.spc_path_of(run_id))
                kind = "application/octet-stream"
            else:
                body = await asyncio.to_thread(store.jcamp_text, run_id)
                kind = "chemical/x-jcamp-dx"
            if body is None:
                return _error(404, "the run holds no file")
            return web.Response(body=body, content_type=kind, headers={
                "Content-Disposition": 'attachment; filename="%s%s"' % (run_id, extension)})
        record = store.record(name)
        if record is None:
            return _error(404, "no such run")
        return web.json_response(record)

    async def run_frame(self, request: web.Request) -> web.Response:
        name = request.match_info["name"]
        if self.station.store.record(name) is None:
            return _error(404, "no such run")
        frame = await asyncio.to_thread(station_module.run_frame, self.station.store, name)
        if frame is None:
            return _error(404, "the run holds no file")
        return web.Response(body=frame, content_type="application/octet-stream")

    # Actions.

    async def align(self, request: web.Request) -> web.Response:
        return self._act(self.station.align)

    async def measure(self, request: web.Request) -> web.Response:
        body = await _json_body(request)
        changes = body.get("settings", {})
        return self._act(self.station.measure, body.get("kind"), changes)

    async def settings(self, request: web.Request) -> web.Response:
        body = await _json_body(request)
        return self._act(self.station.change_settings, body)

    async def stop(self, request: web.Request) -> web.Response:
        return self._act(self.station.stop)

    async def open(self, request: web.Request) -> web.Response:
        return self._act(self.station.reopen)

    async def simulator(self, request: web.Request) -> web.Response:
        if not self.station.simulated:
            return _error(404, "the instrument is not the simulated one")
        body = await _json_body(request)
        return self._act(self.station.simulator, body.get("action"))

    def _act(self, action: Callable[..., None], *arguments: Any) -> web.Response:
        try:
            action(*arguments)
        except station_module.Busy as error:
            return _error(409, str(error))
        except (ValueError, TypeError) as error:
            return _error(400, str(error))
        self.station.publish_status()
        return web.json_response({"ok": True})

    # The WebSocket.

    async def websocket(self, request: web.Request) -> web.WebSocketResponse:
        # No per-message compression: float32 samples hardly shrink, and
        # deflating every frame would cost the server more than sending it.
        ws = web.WebSocketResponse(max_msg_size=4096, heartbeat=None, compress=False)
        await ws.prepare(request)

        async def send(message: Message) -> None:
            if isinstance(message, bytes):
                await ws.send_bytes(message)
            else:
                await ws.send_str(message)

        feed = ClientFeed(send)
        pump = asyncio.ensure_future(feed.pump())
        entry = (pump, ws)
        self._feeds.add(entry)
        self.hub.join(feed)
        feed.offer("status", json.dumps(self.station.status()))
        feed.offer("runs", json.dumps({"type": "runs", "runs": self.station.store.records()}))
        try:
            async for message in ws:
                if message.type != WSMsgType.TEXT:
                    continue
                try:
                    asked = json.loads(message.data)
                except ValueError:
                    continue
                if isinstance(asked, dict) and asked.get("type") == "ping":
                    # Answered at once, not queued behind frames: the page
                    # takes the server's clock from the round trip.
                    await ws.send_str(json.dumps({"type": "pong", "client": asked.get("client"),
                                                  "server": time.time() * 1000.0}))
        finally:
            self.hub.leave(feed)
            self._feeds.discard(entry)
            pump.cancel()
        return ws


def _read(path: str) -> bytes:
    with open(path, "rb") as source:
        return source.read()
