#!/usr/bin/env python3
"""The metrics document of the Windows build, from the real counters of the machine it runs on
(under Wine here): the fields this build fills, the ones it leaves empty by design, and the
order of the process rows. Every run must exit with 0 and write nothing on standard error."""
import argparse
import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cgi_cases import JSON_HEADER, Runner, body_of  # noqa: E402

# Members whose exact text this build fixes, as they stand in the document.
FIXED_TEXT = [
    b'{"ok":true,"action":"metrics","plugin":"plugin_ravlen","version":"1.0.1","platform":"windows","host":"',
    b'"cpu_model":"","utc":"',
    b',"ncores":0,"cores":[],"mem":{',
    b',"cached_kb":0,"pct":',
    b',"load":{"available":false,"load1":0.00,"load5":0.00,"load15":0.00},"proc_count":',
]
ROW = re.compile(rb'\{"pid":(-?\d+),"name":"(?:[^"\\]|\\.)*","cpu":([0-9.]+),"rss_kb":(-?\d+),"state":"(.)"\}')


def fetch(runner, query):
    body = body_of(runner.answer(env={"QUERY_STRING": query}), JSON_HEADER)
    assert body.endswith(b"\n") and body.count(b"\n") == 1, f"not one line: {body[:200]!r}"
    return body, json.loads(body.decode("utf-8", "replace"))


def check_document(body, doc, sort, top):
    for piece in FIXED_TEXT:
        assert piece in body, f"missing {piece!r} in {body[:400]!r}"
    assert doc["ok"] is True and doc["platform"] == "windows", doc
    assert doc["host"] != "", "no host name"
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", doc["utc"]), doc["utc"]
    assert 0.0 <= doc["cpu_pct"] <= 100.0, doc["cpu_pct"]
    mem, swap = doc["mem"], doc["swap"]
    assert mem["total_kb"] > 0 and mem["used_kb"] > 0 and mem["free_kb"] > 0, mem
    assert mem["used_kb"] + mem["free_kb"] == mem["total_kb"], mem
    assert 0.0 < mem["pct"] <= 100.0, mem
    assert 0 <= swap["used_kb"] <= swap["total_kb"], swap
    assert doc["uptime_sec"] > 0, doc["uptime_sec"]
    assert doc["sort"] == sort, doc["sort"]

    rows = ROW.findall(body)
    assert len(rows) == len(doc["processes"]) == doc["top"], "process rows do not parse"
    assert doc["proc_count"] > 0, "no processes"
    assert doc["top"] == min(doc["proc_count"], top), (doc["top"], doc["proc_count"], top)
    for pid, cpu, rss, state in rows:
        assert cpu == b"0.0" and state == b"R", f"row {pid}: cpu {cpu!r}, state {state!r}"
    rss = [int(r[2]) for r in rows]
    assert rss == sorted(rss, reverse=True), f"rows not ordered by working set: {rss}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--launcher", default="")
    a = ap.parse_args()
    runner = Runner(a.binary, a.launcher.split(), "windows")

    failures = 0
    # With every row's cpu at 0.0, both orders come down to the working set, largest first.
    for query, sort, top in (("action=metrics&sort=mem&top=4096", "mem", 4096),
                             ("format=json&top=4096", "cpu", 4096),
                             ("action=metrics", "cpu", 25),
                             ("action=metrics&sort=mem&top=3", "mem", 3)):
        try:
            body, doc = fetch(runner, query)
            check_document(body, doc, sort, top)
            if top == 4096:
                names = {p["name"].lower() for p in doc["processes"]}
                assert "services.exe" in names, f"services.exe not among {sorted(names)}"
                own = [p for p in doc["processes"] if p["name"].lower() == "plugin_ravlen.exe"]
                assert own and all(p["rss_kb"] > 0 for p in own), f"own working set not read: {own}"
            print(f"ok   {query}")
        except (AssertionError, KeyError, ValueError) as e:
            failures += 1
            print(f"FAIL {query}: {e}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
