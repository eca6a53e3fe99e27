#!/usr/bin/env python3
"""A bounded burst through the Kiv stand-in on loopback: 200 metrics and 2,000 page requests,
16 at a time. Every response must be complete and valid, none lost, and no plugin process may
outlive the burst. Prints p50 and p99 latency of each kind (figures, not limits)."""
import concurrent.futures
import json
import os
import random
import subprocess
import sys
import time

from stand_in import StandIn, get

METRICS, PAGES, PARALLEL = 200, 2000, 16


def one(url, kind):
    start = time.monotonic()
    status, headers, body = get(url)
    elapsed = time.monotonic() - start
    assert status == 200, f"{kind}: status {status}"
    if kind == "metrics":
        assert headers["Content-Type"] == "application/json; charset=utf-8"
        assert body.endswith(b"\n") and body.count(b"\n") == 1, "metrics: not one line"
        doc = json.loads(body)
        assert doc["ok"] is True and doc["action"] == "metrics", doc
        assert len(doc["processes"]) == doc["top"]
    else:
        assert headers["Content-Type"] == "text/html; charset=utf-8"
        assert body.startswith(b"<!DOCTYPE html>\n") and body.endswith(b"</html>\n"), "page: incomplete"
    return kind, elapsed


def plugin_processes(binary):
    out = subprocess.run(["pgrep", "-f", "-x", binary], stdout=subprocess.PIPE, text=True).stdout
    return [int(p) for p in out.split()]


def percentile(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(q * (len(values) - 1))))]


def main():
    binary = os.path.abspath(sys.argv[1])
    with StandIn(binary) as base:
        jobs = ([("metrics", base + "/plugins?plugin=42?action=metrics&sort=cpu&node=web1")] * METRICS +
                [("page", base + "/plugin_ravlen")] * PAGES)
        random.Random(7).shuffle(jobs)
        started = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(PARALLEL) as pool:
            results = list(pool.map(lambda job: one(job[1], job[0]), jobs))
        wall = time.monotonic() - started
        assert len(results) == METRICS + PAGES, "responses lost"
        deadline = time.monotonic() + 5
        while plugin_processes(binary) and time.monotonic() < deadline:
            time.sleep(0.1)
        left = plugin_processes(binary)
        assert not left, f"plugin processes left behind: {left}"
    print(f"{METRICS} metrics and {PAGES} page requests, {PARALLEL} at a time, in {wall:.1f} s")
    for kind in ("metrics", "page"):
        times = [t * 1000 for k, t in results if k == kind]
        print(f"{kind:8s} p50 {percentile(times, 0.5):7.1f} ms   p99 {percentile(times, 0.99):7.1f} ms")


if __name__ == "__main__":
    main()
