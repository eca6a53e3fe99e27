#!/usr/bin/env python3
"""The metrics action in the Prometheus text format, from the real counters of the machine the
program runs on (Linux, or Windows under Wine with --launcher): every answer passes
`promtool check metrics`, holds the families its platform measures and none that it does not,
and its per-process series are the largest processes in order."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cgi_cases import Runner, body_of  # noqa: E402

EXPOSITION_HEADER = (b"Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                     b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n")
SAMPLE = re.compile(r'([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)')
LABEL = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)",?')
LINUX_MODES = {"user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal"}


def unescape(value):
    return re.sub(r'\\(.)', lambda m: {"n": "\n"}.get(m.group(1), m.group(1)), value)


def parse(text):
    """{family: [(labels, value)]}, checking HELP and TYPE ahead of each family's samples."""
    families, declared = {}, {}
    for line in text.splitlines():
        if line.startswith("# HELP ") or line.startswith("# TYPE "):
            parts = line.split(" ", 3)
            declared.setdefault(parts[2], set()).add(parts[1])
            continue
        m = SAMPLE.fullmatch(line)
        assert m, f"not a sample line: {line!r}"
        name, labels, value = m.groups()
        assert declared.get(name) == {"HELP", "TYPE"}, f"{name} without HELP and TYPE before it"
        pairs = LABEL.findall(labels or "")
        assert "".join(f'{k}="{v}",' for k, v in pairs).rstrip(",") == (labels or ""), f"labels: {labels!r}"
        families.setdefault(name, []).append(({k: unescape(v) for k, v in pairs}, float(value)))
    assert set(declared) == set(families), f"families without samples: {set(declared) - set(families)}"
    return families


class Checks:
    def __init__(self, runner, platform, promtool):
        self.runner, self.platform, self.promtool = runner, platform, promtool

    def fetch(self, query):
        text = body_of(self.runner.answer(env={"QUERY_STRING": query}), EXPOSITION_HEADER).decode("utf-8")
        p = subprocess.run([self.promtool, "check", "metrics"], input=text.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
        assert p.returncode == 0, f"promtool check metrics: {p.stdout.decode(errors='replace')}"
        return text, parse(text)

    def machine_families(self, fam):
        info = fam["ravlen_info"]
        assert len(info) == 1 and info[0][1] == 1, info
        ident = info[0][0]
        assert ident["version"] == "1.0.1" and ident["platform"] == self.platform, ident
        assert ident.get("host"), "no host name"
        cpu = fam["ravlen_cpu_seconds_total"]
        assert all(v >= 0 for _, v in cpu), cpu
        total = fam["ravlen_memory_total_bytes"][0][1]
        available = fam["ravlen_memory_available_bytes"][0][1]
        assert 0 < available <= total, (available, total)
        boot = fam["ravlen_boot_time_seconds"][0][1]
        assert 946684800 < boot < time.time(), boot
        assert sum(v for _, v in fam["ravlen_processes"]) > 0
        if self.platform == "linux":
            cpus = {labels["cpu"] for labels, _ in cpu}
            with open("/proc/stat") as f:
                stat = f.read()
            assert len(cpus) == len(re.findall(r"^cpu\d+ ", stat, re.M)), cpus
            assert {labels["mode"] for labels, _ in cpu} <= LINUX_MODES
            assert boot == float(re.search(r"^btime (\d+)", stat, re.M).group(1)), boot
            for name in ("ravlen_memory_cached_bytes", "ravlen_load1", "ravlen_load5", "ravlen_load15"):
                assert name in fam, name
            assert all(len(labels["state"]) == 1 for labels, _ in fam["ravlen_processes"])
            assert ident.get("cpu_model"), "no CPU model"
        else:
            # The machine as a whole, in three modes; no cached memory, load, states or model.
            assert sorted(labels["mode"] for labels, _ in cpu) == ["idle", "kernel", "user"], cpu
            assert all("cpu" not in labels for labels, _ in cpu), cpu
            for name in ("ravlen_memory_cached_bytes", "ravlen_load1"):
                assert name not in fam, name
            assert fam["ravlen_processes"][0][0] == {}, fam["ravlen_processes"]
            assert "cpu_model" not in ident, ident

    def process_families(self, fam, top, by_mem):
        cpu = fam["ravlen_process_cpu_seconds_total"]
        resident = fam["ravlen_process_resident_memory_bytes"]
        assert 0 < len(resident) <= top and len(cpu) <= top, (len(cpu), len(resident))
        for labels, _ in cpu + resident:
            assert set(labels) == {"pid", "name"} and labels["pid"].isdigit(), labels
        ranked = resident if by_mem else cpu
        values = [v for _, v in ranked]
        assert values == sorted(values, reverse=True), f"not largest first: {values}"
        return cpu, resident

    def run(self):
        cases = [
            ("action=metrics&format=prometheus", self.plain),
            ("action=metrics&format=prometheus&top=5&sort=mem", lambda f: self.top(f, 5, True)),
            ("action=metrics&format=prometheus&top=5", lambda f: self.top(f, 5, False)),
            ("action=metrics&format=prometheus&top=4096&sort=mem", self.own_process),
        ]
        failures = 0
        for query, check in cases:
            try:
                check(self.fetch(query)[1])
                print(f"ok   {query}")
            except (AssertionError, KeyError, ValueError, IndexError) as e:
                failures += 1
                print(f"FAIL {query}: {e!r}")
        try:
            self.counters_only_grow()
            print("ok   counters do not go back between two scrapes")
        except (AssertionError, KeyError) as e:
            failures += 1
            print(f"FAIL counters between two scrapes: {e!r}")
        return failures

    def plain(self, fam):
        self.machine_families(fam)
        assert not any(name.startswith("ravlen_process_") for name in fam), "per-process series without top"

    def top(self, fam, n, by_mem):
        self.machine_families(fam)
        self.process_families(fam, n, by_mem)

    def own_process(self, fam):
        _, resident = self.process_families(fam, 4096, True)
        own = "plugin_ravlen" if self.platform == "linux" else "plugin_ravlen.exe"
        names = {labels["name"].lower() for labels, _ in resident}
        assert own in names, f"{own} not among {sorted(names)[:20]}"
        if self.platform == "windows":
            assert "services.exe" in names, sorted(names)

    def counters_only_grow(self):
        first = dict((tuple(sorted(l.items())), v) for l, v in self.fetch("action=metrics&format=prometheus")[1]
                     ["ravlen_cpu_seconds_total"])
        second = self.fetch("action=metrics&format=prometheus")[1]["ravlen_cpu_seconds_total"]
        for labels, v in second:
            key = tuple(sorted(labels.items()))
            assert v >= first[key], (labels, first[key], v)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--platform", default="linux")
    ap.add_argument("--launcher", default="")
    a = ap.parse_args()
    promtool = shutil.which("promtool")
    if not promtool:
        print("promtool is not installed (Debian package prometheus; scripts/install.sh installs it)")
        sys.exit(1)
    checks = Checks(Runner(a.binary, a.launcher.split(), a.platform), a.platform, promtool)
    sys.exit(1 if checks.run() else 0)


if __name__ == "__main__":
    main()
