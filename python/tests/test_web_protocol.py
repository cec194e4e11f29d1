"""The web view's server without a browser: who may talk to it (token,
Host, Origin), what a request may name (no paths), what it may send (size,
settings), and one server per instrument. A real server in its own process
on loopback; the off-loopback case in a private network namespace."""

import ctypes
import http.client
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import nadixq
from web_support import ServerProcess

try:
    import aiohttp  # noqa: F401
    HAVE_AIOHTTP = True
except ImportError:
    HAVE_AIOHTTP = False

TOKEN = "a-token-for-the-tests"
WEBSOCKET_UPGRADE = {"Connection": "Upgrade", "Upgrade": "websocket",
                     "Sec-WebSocket-Version": "13", "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ=="}


def request(host_port, method, path, body=None, headers=None, host=None):
    """(status, headers, body) of one request, the Host header as given."""
    address, port = host_port.rsplit(":", 1)
    connection = http.client.HTTPConnection(address, int(port), timeout=30)
    try:
        connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        connection.putheader("Host", host_port if host is None else host)
        data = body if isinstance(body, bytes) else (
            json.dumps(body).encode() if body is not None else None)
        for name, value in (headers or {}).items():
            connection.putheader(name, value)
        if data is not None:
            connection.putheader("Content-Type", "application/json")
            connection.putheader("Content-Length", str(len(data)))
        connection.endheaders(data)
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()


def can_unshare():
    if os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("ip"):
        return False
    return subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0


def in_network_of(pid, function):
    """Runs `function` on a thread that has joined the network namespace of
    process `pid` (its sockets live there), and returns what it returns."""
    libc = ctypes.CDLL(None, use_errno=True)
    outcome = {}

    def body():
        fd = os.open("/proc/%d/ns/net" % pid, os.O_RDONLY)
        try:
            if libc.setns(fd, 0x40000000) != 0:  # CLONE_NEWNET
                raise OSError(ctypes.get_errno(), "setns")
            outcome["value"] = function()
        except BaseException as error:
            outcome["error"] = error
        finally:
            os.close(fd)

    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


@unittest.skipUnless(HAVE_AIOHTTP, "no aiohttp (Debian: python3-aiohttp)")
@unittest.skipUnless(nadixq.sim.available(), "the library has no simulated instrument")
class ServerWithTokenTest(unittest.TestCase):
    """One loopback server that was given a token: it then asks for it as a
    server off loopback does."""

    @classmethod
    def setUpClass(cls):
        cls.server = ServerProcess("--port", "0", "--token", TOKEN)
        cls.url = cls.server.wait_url()
        cls.where = cls.server.host_port
        cls.cookie = {"Cookie": "nadixq_token=" + TOKEN}

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        cls.server.cleanup()
        assert status == 0, "the server exited with %s" % status

    def call(self, method, path, body=None, headers=None, host=None, token=True):
        headers = dict(self.cookie if token else {}, **(headers or {}))
        return request(self.where, method, path, body, headers, host)

    def test_the_token_is_asked_for_then_kept_in_a_strict_cookie(self):
        self.assertIn("?token=" + TOKEN, self.url)
        for path in ("/api/status", "/api/runs", "/ws"):
            self.assertEqual(self.call("GET", path, token=False)[0], 401, path)
            wrong = {"Cookie": "nadixq_token=" + TOKEN[:-1] + "X"}
            self.assertEqual(self.call("GET", path, headers=wrong, token=False)[0], 401, path)
        self.assertEqual(self.call("POST", "/api/stop", {}, token=False)[0], 401)
        self.assertEqual(self.call("GET", "/?token=wrong", token=False)[0], 401)

        status, headers, _ = self.call("GET", "/?token=" + TOKEN, token=False)
        self.assertEqual(status, 303)
        self.assertEqual(headers["Location"], "/")
        cookie = headers["Set-Cookie"]
        self.assertIn("nadixq_token=" + TOKEN, cookie)
        self.assertIn("HttpOnly", cookie)
        self.assertIn("SameSite=Strict", cookie)
        status, _, body = self.call("GET", "/api/status")
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(body)["model"], 1)
        bearer = {"Authorization": "Bearer " + TOKEN}
        self.assertEqual(self.call("GET", "/api/status", headers=bearer, token=False)[0], 200)
        upgrade = self.call("GET", "/ws", headers=dict(
            WEBSOCKET_UPGRADE, Origin="http://" + self.where))
        self.assertEqual(upgrade[0], 101)

    def test_other_names_and_other_sites_are_refused(self):
        port = self.where.rsplit(":", 1)[1]
        for host in ("attacker.example:" + port, "attacker.example", "127.0.0.1:1",
                     "localhost.attacker.example:" + port, ""):
            self.assertEqual(self.call("GET", "/api/status", host=host)[0], 421, host)
        self.assertEqual(self.call("GET", "/api/status", host="localhost:" + port)[0], 200)

        foreign = {"Origin": "http://attacker.example"}
        for path in ("/api/stop", "/api/align", "/api/open", "/api/measure"):
            self.assertEqual(self.call("POST", path, {}, headers=foreign)[0], 403, path)
        self.assertEqual(self.call("POST", "/api/stop", {}, headers={"Origin": "null"})[0], 403)
        self.assertEqual(self.call("GET", "/ws", headers=dict(WEBSOCKET_UPGRADE,
                                                               **foreign))[0], 403)
        # Actions are POST only.
        for path in ("/api/stop", "/api/align", "/api/measure", "/api/open"):
            self.assertEqual(self.call("GET", path)[0], 405, path)

    def test_requests_name_runs_by_id_only_and_are_checked(self):
        own = {"Origin": "http://" + self.where}
        bad = [({"kind": "sample", "settings": {"scans": 0}}, "scans must be 1 to"),
               ({"kind": "sample", "settings": {"scans": "many"}}, "scans must be a number"),
               ({"kind": "sample", "settings": {"scans": 2.5}}, "whole number"),
               ({"kind": "sample", "settings": {"resolution": 0.1}}, "resolution must be 0.5"),
               ({"kind": "sample", "settings": {"resolution": float("nan")}}, "must be finite"),
               ({"kind": "sample", "settings": {"gain": 3}}, "gain must be one of 1, 2, 4"),
               ({"kind": "sample", "settings": {"files": -1}}, "files must be 0 to"),
               ({"kind": "sample", "settings": {"scan": 4}}, "unknown setting 'scan'"),
               ({"kind": "sample", "settings": [1]}, "must be a JSON object"),
               ({"kind": "dark"}, "background or sample")]
        for body, message in bad:
            status, _, answer = self.call("POST", "/api/measure", body, headers=own)
            self.assertEqual(status, 400, body)
            self.assertIn(message, json.loads(answer)["error"], body)
        status, _, answer = self.call("POST", "/api/measure", b"{not json", headers=own)
        self.assertEqual(status, 400)
        self.assertEqual(self.call("POST", "/api/settings", b"x" * (64 * 1024),
                                   headers=own)[0], 413)
        # Nothing of the bad requests was taken.
        settings = json.loads(self.call("GET", "/api/status")[2])["settings"]
        self.assertEqual(settings, {"resolution": 4.0, "scans": 16, "files": 1, "gain": 1})

        # A short real run to download.
        status, _, _ = self.call("POST", "/api/measure", {
            "kind": "background", "settings": {"scans": 2, "files": 1}}, headers=own)
        self.assertEqual(status, 200)
        runs = self.wait_for_runs(lambda runs: runs and runs[0]["result"] == "complete")
        run_id = runs[0]["id"]
        status, headers, body = self.call("GET", "/api/runs/%s.spc" % run_id)
        self.assertEqual(status, 200)
        self.assertIn(run_id + ".spc", headers["Content-Disposition"])
        with tempfile.NamedTemporaryFile(suffix=".spc") as copy:
            copy.write(body)
            copy.flush()
            self.assertEqual(len(nadixq.spc.read(copy.name)), 1)
        status, _, body = self.call("GET", "/api/runs/%s.jdx" % run_id)
        self.assertEqual(status, 200)
        self.assertTrue(body.startswith(b"##TITLE="), body[:40])

        secret = os.path.join(self.server.folder, "secret.spc")
        with open(secret, "w") as planted:
            planted.write("not for the web")
        for path in ("/api/runs/../secret.spc", "/api/runs/..%2Fsecret.spc",
                     "/api/runs/%2e%2e%2fsecret.spc", "/api/runs/%2e%2e/secret.spc",
                     "/api/runs/" + secret.replace("/", "%2F"), "/api/runs/%2Fetc%2Fpasswd",
                     "/api/runs/%s.spc%%00" % run_id, "/api/runs/%s%%00.spc" % run_id,
                     "/api/runs/%s.spc/.." % run_id, "/api/runs/..%%2F%s.spc" % run_id,
                     "/api/runs/..%5C..%5Csecret.spc", "/static/../server.py",
                     "/static/..%2Fserver.py", "/static/%2e%2e/__init__.py",
                     "/static/vendor/../../server.py", "/api/runs/%252e%252e%252fsecret.spc"):
            status, _, body = self.call("GET", path)
            self.assertEqual(status, 404, path)
            self.assertNotIn(b"not for the web", body)
            self.assertNotIn(b"import", body)

    def wait_for_runs(self, condition, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            runs = json.loads(self.call("GET", "/api/runs")[2])["runs"]
            if condition(runs):
                return runs
            time.sleep(0.1)
        self.fail("the runs did not reach the state awaited: %s" % runs)

    def test_a_second_server_for_the_same_model_exits_with_a_clear_error(self):
        second = ServerProcess("--port", "0", runtime=self.server.runtime)
        try:
            self.assertEqual(second.process.wait(60), 1)
            self.assertIn("model 1 is already served by another nadixq server",
                          "".join(second.errors))
        finally:
            second.cleanup()


@unittest.skipUnless(HAVE_AIOHTTP, "no aiohttp (Debian: python3-aiohttp)")
@unittest.skipUnless(nadixq.sim.available(), "the library has no simulated instrument")
@unittest.skipUnless(can_unshare(), "no private network namespace (needs root and unshare)")
class OffLoopbackTest(unittest.TestCase):
    """A server on an address other than loopback, alone in a network
    namespace of its own: it makes up a token and asks for it."""

    def test_a_server_off_loopback_makes_up_a_token_and_asks_for_it(self):
        address = "192.0.2.1"
        server = ServerProcess("--host", address, "--port", "8650", prefix=[
            "unshare", "-n", "sh", "-c",
            "ip link set lo up && ip addr add %s/32 dev lo && exec \"$@\"" % address, "sh"])
        try:
            url = server.wait_url()
            self.assertTrue(url.startswith("http://%s:8650/?token=" % address), url)
            token = url.split("?token=")[1]
            self.assertGreaterEqual(len(token), 24)
            where = "%s:8650" % address

            def calls():
                return [request(where, "GET", "/api/status")[0],
                        request(where, "GET", "/api/status", headers={
                            "Cookie": "nadixq_token=" + token + "x"})[0],
                        request(where, "GET", "/api/status", headers={
                            "Cookie": "nadixq_token=" + token})[0],
                        request(where, "GET", "/ws", headers=dict(WEBSOCKET_UPGRADE))[0]]

            self.assertEqual(in_network_of(server.process.pid, calls), [401, 401, 200, 401])
            self.assertEqual(server.stop(), 0)
        finally:
            server.cleanup()


if __name__ == "__main__":
    unittest.main()
