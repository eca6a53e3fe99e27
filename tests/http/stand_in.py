"""Starts the Kiv stand-in (host/run.sh, lighttpd) on a free loopback port and always stops it."""
import atexit
import os
import signal
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop_group(proc, timeout=10):
    """Ends a server started with start_new_session, and everything it started: TERM, then KILL."""
    if proc and proc.poll() is None:
        os.killpg(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


class StandIn:
    """Context manager: `with StandIn(binary, password) as base_url: ...`."""

    def __init__(self, binary, password=None, state_parent=None):
        self.binary, self.password, self.state_parent = binary, password, state_parent
        self.proc = None

    def __enter__(self):
        # State (configuration, error log) in a fresh directory, under state_parent when given.
        self.state = tempfile.TemporaryDirectory(prefix="kiv-stand-in-", dir=self.state_parent)
        port = free_port()
        env = dict(os.environ)
        env.pop("KIV_PASSWORD", None)
        if self.password is not None:
            env["KIV_PASSWORD"] = self.password
        self.proc = subprocess.Popen([os.path.join(REPO, "host", "run.sh"), self.binary, self.state.name, str(port)],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     start_new_session=True)
        atexit.register(self.stop)
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, lambda *_: (self.stop(), os._exit(1)))
        self.url = f"http://127.0.0.1:{port}"
        deadline = time.monotonic() + 15
        while True:
            try:
                urllib.request.urlopen(self.url + "/", timeout=2).read()
                return self.url
            except (urllib.error.URLError, ConnectionError):
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    err = self.proc.stderr.read().decode(errors="replace") if self.proc.poll() is not None else ""
                    self.stop()
                    raise RuntimeError(f"the stand-in did not start: {err}")
                time.sleep(0.05)

    def stop(self):
        stop_group(self.proc)
        if self.proc and self.proc.stderr:
            self.proc.stderr.close()
        self.proc = None

    def __exit__(self, *exc):
        self.stop()
        self.state.cleanup()


def get(url, headers=None):
    """(status, headers, body) of one GET, whatever the status."""
    req = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(req, timeout=60) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()
