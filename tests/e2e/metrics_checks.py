#!/usr/bin/env python3
"""End-to-end checks of the metrics action on Linux.

1. Each fixture proc tree, sampled by the fixture tool, gives a document that a strict JSON
   parser accepts (names with bytes that are not UTF-8 come out as U+FFFD).
2. The real program on this machine answers with this machine's own figures: host name, cores,
   memory and swap as /proc/meminfo and `free` show them, load averages, uptime, and the process
   table in the requested order and length."""
import argparse
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cgi_cases import JSON_HEADER, Runner, body_of  # noqa: E402


def strict_document(body):
    assert body.endswith(b"\n") and body.count(b"\n") == 1, f"not exactly one LF, at the end: {body[-80:]!r}"

    def no_constants(name):
        raise AssertionError(f"{name} is not JSON")
    return json.loads(body.decode("utf-8", errors="strict"), parse_constant=no_constants)


def fixture_document(tool, root, *args):
    return strict_document(Runner(tool, [], "linux").answer([root, *args]))


def metrics(binary, query):
    out = Runner(binary, [], "linux").answer(env={"QUERY_STRING": query})
    doc = strict_document(body_of(out, JSON_HEADER))
    assert doc["ok"] is True and doc["action"] == "metrics", doc
    return doc


def meminfo():
    values = {}
    with open("/proc/meminfo") as f:
        for line in f:
            key, _, rest = line.partition(":")
            values[key] = int(rest.split()[0])
    return values


def loadavg():
    with open("/proc/loadavg") as f:
        return [float(x) for x in f.read().split()[:3]]


def uptime():
    with open("/proc/uptime") as f:
        return float(f.read().split()[0])


def check_fixtures(tool, fixtures):
    for name in sorted(os.listdir(fixtures)):
        for args in ((), ("mem", "3")):
            doc = fixture_document(tool, os.path.join(fixtures, name), *args)
            assert doc["top"] == len(doc["processes"]), (name, doc)
            if doc["ok"]:
                assert doc["platform"] == "linux"
    odd = fixture_document(tool, os.path.join(fixtures, "odd_names"), "cpu", "4096")
    names = {p["pid"]: p["name"] for p in odd["processes"]}
    states = {p["pid"]: p["state"] for p in odd["processes"]}
    assert odd["host"] == "odd\ufffd-node", odd["host"]
    assert names[103] == "bad\ufffd\ufffdbytes", names[103]
    assert names[102] == "line\nfeed" and names[101] == "a) (b) S 1" and names[104] == 'quote"back\\slash', names
    assert states[105] == "?" and states[100] == "S", states
    broken = fixture_document(tool, os.path.join(fixtures, "broken"))
    assert broken["ok"] is True and broken["load"]["available"] is False and broken["host"] == "", broken


def ordered(rows, keys):
    tuples = [tuple(r[k] for k in keys) for r in rows]
    return all(a >= b for a, b in zip(tuples, tuples[1:]))


def check_machine(binary):
    with open("/proc/sys/kernel/hostname") as f:
        host = f.read().strip()
    with open("/proc/stat") as f:
        core_ids = [int(m.group(1)) for m in re.finditer(r"^cpu(\d+) ", f.read(), re.M)][:256]
    before_load, before_up = loadavg(), uptime()
    doc = metrics(binary, "action=metrics")
    after_load, after_up = loadavg(), uptime()
    mem = meminfo()

    assert doc["platform"] == "linux"
    assert doc["host"] == host, (doc["host"], host)
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", doc["utc"]), doc["utc"]
    assert doc["ncores"] == len(core_ids) == len(doc["cores"]), (doc["ncores"], core_ids)
    assert [c["core"] for c in doc["cores"]] == core_ids
    assert 0 <= doc["cpu_pct"] <= 100 and all(0 <= c["pct"] <= 100 for c in doc["cores"]), doc["cores"]
    with open("/proc/cpuinfo") as f:
        model = re.search(r"^model name\s*:\s*(.*?)\s*$", f.read(), re.M)
    if model:
        assert doc["cpu_model"] == model.group(1)[:127], doc["cpu_model"]

    m, total = doc["mem"], mem["MemTotal"]
    slack = total * 0.02
    assert m["total_kb"] == total, (m, total)
    assert abs(m["free_kb"] - mem.get("MemAvailable", mem["MemFree"])) <= slack, (m, mem)
    assert m["used_kb"] == m["total_kb"] - m["free_kb"], m
    assert abs(m["cached_kb"] - (mem["Cached"] + mem.get("SReclaimable", 0))) <= slack, m
    assert abs(m["pct"] - m["used_kb"] * 100.0 / total) <= 0.051, m
    s = doc["swap"]
    assert s["total_kb"] == mem["SwapTotal"], s
    assert abs(s["used_kb"] - (mem["SwapTotal"] - mem["SwapFree"])) <= max(slack, 1), s
    free_out = subprocess.run(["free", "-k"], stdout=subprocess.PIPE, check=True, text=True).stdout
    free_mem = next(line.split() for line in free_out.splitlines() if line.startswith("Mem:"))
    free_swap = next(line.split() for line in free_out.splitlines() if line.startswith("Swap:"))
    assert int(free_mem[1]) == m["total_kb"] and abs(int(free_mem[6]) - m["free_kb"]) <= slack, (free_mem, m)
    assert int(free_swap[1]) == s["total_kb"], (free_swap, s)

    load = doc["load"]
    assert load["available"] is True
    for key, a, b in zip(("load1", "load5", "load15"), before_load, after_load):
        assert min(a, b) - 0.006 <= load[key] <= max(a, b) + 0.006, (key, load, before_load, after_load)
    assert round(before_up) - 1 <= doc["uptime_sec"] <= round(after_up) + 1, (doc["uptime_sec"], before_up)

    pids = [int(d) for d in os.listdir("/proc") if d.isdigit()]
    assert abs(doc["proc_count"] - min(len(pids), 4096)) <= max(20, len(pids) // 5), (doc["proc_count"], len(pids))
    assert doc["sort"] == "cpu" and doc["top"] == min(25, doc["proc_count"]) == len(doc["processes"]), doc["top"]
    # Two figures printed alike may differ in the record (0.04 and 0.0 both print 0.0), so the
    # memory tie-break does not show in the printed order.
    assert ordered(doc["processes"], ("cpu",))
    for p in doc["processes"]:
        assert p["pid"] > 0 and p["rss_kb"] >= 0 and p["cpu"] >= 0 and len(p["state"]) == 1, p


def check_ranking_and_top(binary):
    by_mem = metrics(binary, "action=metrics&sort=mem&top=4096")
    assert by_mem["sort"] == "mem" and by_mem["top"] == by_mem["proc_count"] == len(by_mem["processes"])
    assert ordered(by_mem["processes"], ("rss_kb", "cpu"))
    for query, expected in (("top=3", 3), ("top=1", 1), ("top=4097", 25), ("top=0", 25), ("top=abc", 25),
                            ("top=7x", 7)):
        doc = metrics(binary, "format=json&" + query)
        assert doc["top"] == min(expected, doc["proc_count"]) == len(doc["processes"]), (query, doc["top"])
    assert metrics(binary, "action=metrics&sort=MEM")["sort"] == "cpu"


def check_own_busy_and_idle_process(binary):
    """A child spinning with no sleep reads above half a CPU; a child asleep reads exactly 0.0.
    On a crowded machine the busy child may not get half a CPU inside one window, so it has a
    few samples to show it; the sleeper must read 0.0 in every one."""
    busy = subprocess.Popen([sys.executable, "-c", "import time\nend = time.time() + 30\nwhile time.time() < end: pass"])
    idle = subprocess.Popen(["sleep", "30"])
    try:
        time.sleep(0.3)
        busy_cpu = []
        for _ in range(10):
            p = subprocess.Popen([binary], env={"QUERY_STRING": "action=metrics&top=4096"}, stdout=subprocess.PIPE)
            out, _ = p.communicate(timeout=60)
            doc = strict_document(out[len(JSON_HEADER):])
            rows = {r["pid"]: r for r in doc["processes"]}
            assert rows[p.pid]["name"] == "plugin_ravlen" and rows[p.pid]["state"] == "R", rows.get(p.pid)
            assert rows[busy.pid]["rss_kb"] > 0, rows.get(busy.pid)
            assert rows[idle.pid]["cpu"] == 0.0 and rows[idle.pid]["state"] == "S", rows.get(idle.pid)
            busy_cpu.append(rows[busy.pid]["cpu"])
            if busy_cpu[-1] > 50:
                break
        assert max(busy_cpu) > 50, busy_cpu
    finally:
        for child in (busy, idle):
            child.kill()
            child.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--fixture-tool", required=True)
    ap.add_argument("--fixtures", required=True)
    a = ap.parse_args()
    checks = [("fixture trees give strict JSON", lambda: check_fixtures(a.fixture_tool, a.fixtures)),
              ("this machine's figures", lambda: check_machine(a.binary)),
              ("sort and top", lambda: check_ranking_and_top(a.binary)),
              ("own, busy and idle processes", lambda: check_own_busy_and_idle_process(a.binary))]
    failures = 0
    for name, check in checks:
        try:
            check()
            print(f"ok   {name}")
        except (AssertionError, KeyError, ValueError) as e:
            failures += 1
            print(f"FAIL {name}: {e!r}"[:2000])
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
