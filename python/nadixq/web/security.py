"""Who may talk to the server: the Host a request names (against DNS
rebinding), the Origin of anything that changes state (against other sites'
pages), and the token that a server off the loopback interface requires."""

from __future__ import annotations

import hmac
import ipaddress
import secrets
import socket
from typing import Awaitable, Callable, Optional, Set

from aiohttp import web

Handler = Callable[[web.Request], Awaitable[web.StreamResponse]]

COOKIE = "nadixq_token"
CONTENT_POLICY = ("default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                  "img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; "
                  "base-uri 'none'; form-action 'none'")


def is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def new_token() -> str:
    return secrets.token_urlsafe(24)


def _names_of(host: str) -> Set[str]:
    """The names and addresses a page may use for a server bound to `host`."""
    names = {host}
    if is_loopback(host):
        names |= {"localhost", "127.0.0.1", "::1"}
    wildcard = host in ("0.0.0.0", "::", "")
    if wildcard or not is_loopback(host):
        own = {socket.gethostname(), socket.getfqdn()}
        names |= own
        for name in own:
            try:
                names |= {str(info[4][0]) for info in socket.getaddrinfo(name, None)}
            except OSError:
                pass
        if wildcard:
            names |= {"localhost", "127.0.0.1", "::1"}
    names.discard("")
    names.discard("0.0.0.0")
    names.discard("::")
    return {name.lower() for name in names}


class Guard:
    def __init__(self, host: str, token: Optional[str] = None) -> None:
        self.token = token
        self._names = _names_of(host)
        self._hosts: Optional[Set[str]] = None
        # Known once the server listens (it may have picked a free one).
        self.port = 0

    def allowed_hosts(self) -> Set[str]:
        hosts = set()
        for name in self._names:
            shown = "[%s]" % name if ":" in name else name
            hosts.add("%s:%d" % (shown, self.port))
            if self.port == 80:
                hosts.add(shown)
        return hosts

    def host_ok(self, request: web.Request) -> bool:
        if self._hosts is None:
            self._hosts = self.allowed_hosts()
        return request.headers.get("Host", "").lower() in self._hosts

    def token_ok(self, request: web.Request) -> bool:
        if self.token is None:
            return True
        given = request.cookies.get(COOKIE)
        if given is None:
            header = request.headers.get("Authorization", "")
            if header.startswith("Bearer "):
                given = header[len("Bearer "):]
        return given is not None and hmac.compare_digest(given.encode(), self.token.encode())

    def origin_ok(self, request: web.Request) -> bool:
        origin = request.headers.get("Origin")
        # Browsers send Origin with every POST and WebSocket upgrade; a tool
        # that sends none is no other site's page.
        return origin is None or origin.lower() == "http://" + request.headers["Host"].lower()

    @web.middleware
    async def middleware(self, request: web.Request, handler: Handler) -> web.StreamResponse:
        if not self.host_ok(request):
            return web.Response(status=421, text="unknown Host: this server does not answer "
                                                 "to that name\n")
        upgrade = request.headers.get("Upgrade", "").lower() == "websocket"
        if (request.method not in ("GET", "HEAD") or upgrade) and not self.origin_ok(request):
            return web.Response(status=403, text="requests from other sites are refused\n")
        if self.token is not None:
            query = request.query.get("token")
            if request.path == "/" and query is not None:
                if not hmac.compare_digest(query.encode(), self.token.encode()):
                    return web.Response(status=401, text="wrong token\n")
                # The token leaves the address bar: from now on the cookie
                # carries it, out of reach of the page's scripts.
                moved = web.Response(status=303, headers={"Location": "/"})
                moved.set_cookie(COOKIE, self.token, httponly=True, samesite="Strict", path="/")
                return moved
            if (request.path.startswith("/api/") or request.path == "/ws") and \
                    not self.token_ok(request):
                return web.json_response({"error": "a token is required: open the address "
                                                   "the server printed"}, status=401)
        response = await handler(request)
        if response.prepared:  # a WebSocket, already under way
            return response
        response.headers.setdefault("X-Content-Type-Options", "nosniff")
        response.headers.setdefault("Referrer-Policy", "no-referrer")
        response.headers.setdefault("X-Frame-Options", "DENY")
        # The page runs its own scripts only, and talks to this server only.
        response.headers.setdefault("Content-Security-Policy", CONTENT_POLICY)
        return response
