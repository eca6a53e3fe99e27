#!/usr/bin/env python3
"""A real Prometheus server scrapes the plugin through the Kiv stand-in.

The stand-in (lighttpd, tests/http/stand_in.py) runs with a node password; a Prometheus server
(Debian's /usr/bin/prometheus) runs from a configuration generated here, on a free loopback port,
with its storage in the work directory, and scrapes every second three jobs: the direct route and
the hub route with the right bearer credentials, and the direct route with a wrong one. Through
its HTTP API the test then waits for up == 1 on both good jobs with a few scrapes each, a non-empty
rate of the CPU counter from both, and up == 0 with a 401 on the wrong one. Both servers are always
stopped; everything written stays in the work directory.

usage: prometheus_test.py PLUGIN_BINARY WORK_DIR"""
import atexit
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse
import urllib.request

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "http"))
from stand_in import StandIn, free_port, stop_group  # noqa: E402

PASSWORD = 'scrape "me" \\ please'
DEADLINE_S = 90

JOB = """\
  - job_name: {name}
    metrics_path: {path}
    params:
{params}      action: [metrics]
      format: [prometheus]
    authorization:
      credentials_file: {password_file}
    static_configs:
      - targets: ["{target}"]
"""


def scrape_config(target, password_file, wrong_file):
    """Scrape every second: the direct and hub routes with the password, the direct one without."""
    jobs = [("direct", "/plugin_ravlen", "", password_file),
            ("hub", "/plugins", '      plugin: ["42"]\n', password_file),
            ("wrong_password", "/plugin_ravlen", "", wrong_file)]
    return ("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n" +
            "".join(JOB.format(name=n, path=p, params=extra, password_file=f, target=target)
                    for n, p, extra, f in jobs))


class PrometheusServer:
    def __init__(self, work, target):
        self.work, self.target, self.proc, self.log = work, target, None, None

    def write_secret(self, name, text):
        path = os.path.join(self.work, name)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(fd, "w") as f:
            f.write(text)
        return path

    def start(self):
        config = os.path.join(self.work, "prometheus.yml")
        with open(config, "w") as f:
            f.write(scrape_config(self.target, self.write_secret("password", PASSWORD),
                                  self.write_secret("wrong-password", PASSWORD + "x")))
        port = free_port()
        self.url = f"http://127.0.0.1:{port}"
        self.log = open(os.path.join(self.work, "prometheus.log"), "w")
        self.proc = subprocess.Popen(
            ["/usr/bin/prometheus", f"--config.file={config}", f"--storage.tsdb.path={self.work}/data",
             f"--web.listen-address=127.0.0.1:{port}", "--log.level=warn"],
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True, cwd=self.work)
        atexit.register(self.stop)
        deadline = time.monotonic() + 30
        while True:
            try:
                urllib.request.urlopen(self.url + "/-/ready", timeout=2).read()
                return
            except OSError:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("prometheus did not start; see " + self.log.name)
                time.sleep(0.2)

    def stop(self):
        stop_group(self.proc, timeout=20)
        self.proc = None
        if self.log:
            self.log.close()
            self.log = None

    def api(self, path, **params):
        url = f"{self.url}/api/v1/{path}"
        if params:
            url += "?" + urllib.parse.urlencode(params)
        with urllib.request.urlopen(url, timeout=10) as r:
            doc = json.load(r)
        assert doc["status"] == "success", doc
        return doc["data"]

    def query(self, expr):
        """{job: value} of an instant vector."""
        return {s["metric"].get("job", ""): float(s["value"][1]) for s in self.api("query", query=expr)["result"]}


def wait_for(what, test, server):
    deadline = time.monotonic() + DEADLINE_S
    last = None
    while time.monotonic() < deadline:
        last = test()
        if last is True:
            print(f"ok   {what}")
            return True
        time.sleep(0.5)
    print(f"FAIL {what}: last answer {last!r}")
    targets = server.api("targets")["activeTargets"]
    for t in targets:
        print(f"     {t['labels'].get('job')}: {t['health']} {t['scrapeUrl']} {t.get('lastError', '')}")
    return False


def main():
    binary, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    prometheus = None

    def stop_all(signum, _frame):
        if prometheus:
            prometheus.stop()
        raise SystemExit(128 + signum)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, stop_all)

    with StandIn(binary, PASSWORD, state_parent=work) as url:
        prometheus = PrometheusServer(work, urllib.parse.urlparse(url).netloc)
        prometheus.start()
        try:
            checks = [
                ("both good jobs up after a few scrapes",
                 lambda: (prometheus.query("up") == {"direct": 1, "hub": 1, "wrong_password": 0} and
                          prometheus.query("count_over_time(up[1m]) >= 3").keys() >= {"direct", "hub"})
                 or prometheus.query("up")),
                ("a non-empty CPU rate from both routes",
                 lambda: prometheus.query("sum by (job) (rate(ravlen_cpu_seconds_total[10s]))").keys()
                 >= {"direct", "hub"} or prometheus.query("sum by (job) (rate(ravlen_cpu_seconds_total[10s]))")),
                ("the wrong password refused with 401",
                 lambda: any(t["labels"]["job"] == "wrong_password" and t["health"] == "down" and
                             "401" in t.get("lastError", "")
                             for t in prometheus.api("targets")["activeTargets"])),
                ("the node's identity from the hub route",
                 lambda: prometheus.query('ravlen_info{job="hub",version="1.0.1"}').keys() == {"hub"}),
            ]
            failed = 0
            for what, test in checks:
                failed += not wait_for(what, test, prometheus)
        finally:
            prometheus.stop()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
