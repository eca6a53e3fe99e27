#!/usr/bin/env python3
"""Measures plugin_ravlen against its peers and floors and writes one markdown table.

Every figure is whole-process: spawn to reap, timed by spawn_runs, standard output to
/dev/null. Tools are measured in interleaved rounds so that drift on a shared machine
spreads over all of them alike; each figure is the median of its runs.

The ~4000-process rows run with idle processes started here (static, pausing, ending on their
own after a bounded time or when this script dies) and always killed before it returns.

A second table holds the figures of the process CPU and of the probe's own work: how close a
child's reading comes to its own use (its CPU clock over wall time), the machine CPU figure on
an idle machine full of idle processes, and the request's CPU time and latency against one walk.
With --baseline, an older build of the program is measured alongside."""
import argparse
import ctypes
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

WINDOW_MS = 80.0
RSS_LIMIT_KB = 3 * 1024
JSON_HEADER = b"Content-Type: application/json; charset=utf-8\r\n"
HTML_HEADER = b"Content-Type: text/html; charset=utf-8\r\n"
FILL_LIFETIME_S = 300
ACCURACY_REQUESTS = 20
PROBE_REQUESTS = 20


def process_count():
    return sum(1 for name in os.listdir("/proc") if name.isdigit())


class Tools:
    def __init__(self, build, bench_dir):
        tool_dir = os.path.join(build, "bench")
        self.plugin = os.path.join(build, "plugin_ravlen")
        self.runner = os.path.join(tool_dir, "spawn_runs")
        self.exec_floor = os.path.join(tool_dir, "exec_floor")
        self.walk_floor = os.path.join(tool_dir, "floor_stat_walk")
        self.idle = os.path.join(tool_dir, "idle_child")
        self.duty = os.path.join(tool_dir, "duty_child")
        self.micro = os.path.join(tool_dir, "micro_bench")
        self.top = shutil.which("top") or "/usr/bin/top"
        self.python = "/usr/bin/python3"
        self.psutil_peer = os.path.join(bench_dir, "psutil_peer.py")


def base_env():
    return {"PATH": "/usr/bin:/bin", "HOME": tempfile.gettempdir(), "LANG": "C"}


class Kind:
    """One thing measured: a command line and its environment."""

    def __init__(self, label, argv, env=None):
        self.label, self.argv = label, argv
        self.env = dict(base_env(), **(env or {}))
        self.wall_ms, self.cpu_ms, self.rss_kb = [], [], []

    def run_traced(self, tools, runs):
        """Peak RSS of the program itself (VmHWM at its exit), in separate traced runs."""
        out = subprocess.run([tools.runner, "--hwm", str(runs)] + self.argv, env=self.env, check=True,
                             stdout=subprocess.PIPE).stdout.decode()
        for line in out.splitlines():
            _, rss, _, status = (int(x) for x in line.split())
            if status != 0 or rss < 0:
                raise RuntimeError(f"{self.label}: traced run failed (status {status}, peak {rss})")
            self.rss_kb.append(rss)

    def run(self, tools, runs):
        out = subprocess.run([tools.runner, str(runs)] + self.argv, env=self.env, check=True,
                             stdout=subprocess.PIPE).stdout.decode()
        for line in out.splitlines():
            wall_ns, rss, cpu_us, status = (int(x) for x in line.split())
            if status != 0:
                raise RuntimeError(f"{self.label}: exit status {status}")
            self.wall_ms.append(wall_ns / 1e6)
            self.cpu_ms.append(cpu_us / 1e3)

    def median(self):
        return statistics.median(self.wall_ms)

    def fastest(self):
        return min(self.wall_ms)

    def median_cpu(self):
        return statistics.median(self.cpu_ms)

    def peak_rss(self):
        return max(self.rss_kb)


def metrics_request(tools):
    return Kind("metrics", [tools.plugin], {"QUERY_STRING": "action=metrics"})


def small_requests(tools):
    plugin = [tools.plugin]
    return {
        "page": Kind("page", plugin, {"QUERY_STRING": ""}),
        "info": Kind("info", plugin, {"QUERY_STRING": "action=info"}),
        "401": Kind("401", plugin, {"QUERY_STRING": "action=metrics", "KIV_PASSWORD": "s3cret"}),
    }


def metrics_peers(tools, baseline=None):
    extra = {"before": Kind("before", [baseline], {"QUERY_STRING": "action=metrics"})} if baseline else {}
    return {
        "metrics": metrics_request(tools),
        **extra,
        "top": Kind("top", [tools.top, "-b", "-n", "2", "-d", "0.08"]),
        "psutil": Kind("psutil", [tools.python, tools.psutil_peer]),
        "walk": Kind("walk", [tools.walk_floor]),
    }


EXPOSITION_HEADER = b"Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
EXPOSITION_GOAL = 1.2  # times the exec floor plus one floor walk: no window to wait


def exposition_requests(tools):
    """The metrics action in the Prometheus text format, without and with per-process series."""
    return {
        "prom": Kind("prom", [tools.plugin], {"QUERY_STRING": "action=metrics&format=prometheus"}),
        "prom_top": Kind("prom_top", [tools.plugin], {"QUERY_STRING": "action=metrics&format=prometheus&top=25"}),
    }


def exposition_rows(row, peers, n, exec_floor):
    walk = peers["walk"].median()
    limit = exec_floor + walk
    for key, what in (("prom", "exposition request (format=prometheus)"),
                      ("prom_top", "exposition request, top=25")):
        k = peers[key]
        ratio = k.median() / limit
        row(what, n, ms(k.median()), f"{ratio:.2f} × (exec floor + walk)", ms(k.median_cpu()), k.peak_rss(),
            f"≤ {EXPOSITION_GOAL} × (exec floor + walk) = {EXPOSITION_GOAL * limit:.1f} ms",
            verdict(ratio <= EXPOSITION_GOAL), ms(k.fastest()))


def check_exposition(tools):
    for kind in exposition_requests(tools).values():
        out = subprocess.run(kind.argv, env=kind.env, stdout=subprocess.PIPE, check=True).stdout
        if not out.startswith(EXPOSITION_HEADER) or b"\nravlen_cpu_seconds_total{" not in out:
            raise RuntimeError(f"{kind.label}: unexpected response {out[:120]!r}")


def check_responses(tools):
    """One plain run of each request, so that the figures are known to be of real answers."""
    notes = []
    for kind in [metrics_request(tools), *small_requests(tools).values()]:
        out = subprocess.run(kind.argv, env=kind.env, stdout=subprocess.PIPE, check=True).stdout
        if kind.label == "401":
            ok = out.startswith(b"Status: 401")
        elif kind.label == "page":
            ok = out.startswith(HTML_HEADER)
        else:
            ok = out.startswith(JSON_HEADER)
        if not ok:
            raise RuntimeError(f"{kind.label}: unexpected response {out[:120]!r}")
        if kind.label == "metrics" and b'"ok":true' not in out:
            notes.append("the metrics request answered sample_failed: "
                         "its figures are not those of a real sample")
    return notes


def measure_rounds(kinds, tools, rounds, runs_per_round):
    for _ in range(rounds):
        for kind in kinds.values():
            kind.run(tools, runs_per_round)
    for kind in kinds.values():
        kind.run_traced(tools, 3)


def warm_up(kinds, tools, runs):
    """Runs each kind and forgets the figures, so that the page cache holds every program."""
    for kind in kinds.values():
        kind.run(tools, runs)
        kind.wall_ms, kind.cpu_ms = [], []

_libc = ctypes.CDLL(None, use_errno=True)


def cpu_clock_ns(pid):
    """The CPU time of a whole process so far, from its CPU-time clock."""
    clock = ctypes.c_int()
    err = _libc.clock_getcpuclockid(pid, ctypes.byref(clock))
    if err:
        raise OSError(err, os.strerror(err))
    return time.clock_gettime_ns(clock.value)


def metrics_document(plugin):
    out = subprocess.run([plugin], env=dict(base_env(), QUERY_STRING="action=metrics&top=4096"),
                         stdout=subprocess.PIPE, check=True).stdout
    if not out.startswith(JSON_HEADER):
        raise RuntimeError(f"unexpected response {out[:120]!r}")
    return json.loads(out.split(b"\r\n\r\n", 1)[1])


class Accuracy:
    """A child of known use and the readings of each program over ACCURACY_REQUESTS requests, the
    programs taking turns so that they see the same machine."""

    def __init__(self, label, busy_us, sleep_us, threads):
        self.label, self.busy_us, self.sleep_us, self.threads = label, busy_us, sleep_us, threads

    def measure(self, tools, programs):
        """{program name: (the child's own use over the run, readings, its use during each request)}"""
        child = subprocess.Popen([tools.duty, str(self.busy_us), str(self.sleep_us), str(self.threads), "120"])
        readings = {name: [] for name in programs}
        during = {name: [] for name in programs}
        try:
            time.sleep(0.5)
            cpu0, wall0 = cpu_clock_ns(child.pid), time.monotonic_ns()
            for _ in range(ACCURACY_REQUESTS):
                for name, plugin in programs.items():
                    c, w = cpu_clock_ns(child.pid), time.monotonic_ns()
                    rows = {r["pid"]: r for r in metrics_document(plugin)["processes"]}
                    readings[name].append(rows[child.pid]["cpu"])
                    during[name].append((cpu_clock_ns(child.pid) - c) * 100.0 / (time.monotonic_ns() - w))
            cpu1, wall1 = cpu_clock_ns(child.pid), time.monotonic_ns()
        finally:
            child.kill()
            child.wait()
        own = (cpu1 - cpu0) * 100.0 / (wall1 - wall0)
        return {name: (own, readings[name], during[name]) for name in programs}


def machine_busy(seconds):
    """The machine's busy share over `seconds` with nothing of the benchmark's running: what the
    machine does on its own (on a shared machine, other tenants' work shows here too)."""
    def counters():
        with open("/proc/stat") as f:
            v = [int(x) for x in f.readline().split()[1:9]]
        return v[0] + v[1] + v[2] + v[5] + v[6] + v[7], v[3] + v[4]
    busy0, idle0 = counters()
    time.sleep(seconds)
    busy1, idle1 = counters()
    return (busy1 - busy0) * 100.0 / max(1, busy1 - busy0 + idle1 - idle0)


def probe_effect(programs):
    """The machine CPU figure of PROBE_REQUESTS requests of each program, taking turns, and the
    machine's own busy share just before and just after."""
    readings = {name: [] for name in programs}
    before = machine_busy(2)
    for _ in range(PROBE_REQUESTS):
        for name, plugin in programs.items():
            readings[name].append(metrics_document(plugin)["cpu_pct"])
    return readings, (before, machine_busy(2))


ACCURACY_CHILDREN = (Accuracy("one thread at 30 % (3 ms busy, 7 ms asleep)", 3000, 7000, 1),
                     Accuracy("two threads at 25 % each (2.5 ms busy, 7.5 ms asleep)", 2500, 7500, 2))


class Filler:
    """Idle processes in one process group of their own, killed together at the end."""

    def __init__(self, tools):
        self.tools, self.group, self.pids = tools, 0, []

    def fill_to(self, target):
        want = target - process_count()
        argv = [self.tools.idle, str(FILL_LIFETIME_S)]
        stops = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        for _ in range(max(0, want)):
            # No stop between the spawn and the bookkeeping, so that every child gets killed.
            signal.pthread_sigmask(signal.SIG_BLOCK, stops)
            try:
                pid = os.posix_spawn(self.tools.idle, argv, base_env(), setpgroup=self.group)
                if not self.group:
                    self.group = pid
                self.pids.append(pid)
            finally:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, stops)
        deadline = time.monotonic() + 30
        while process_count() < target - 50 and time.monotonic() < deadline:
            time.sleep(0.1)

    def kill(self):
        if self.group:
            try:
                os.killpg(self.group, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for pid in self.pids:
            try:
                os.waitpid(pid, 0)
            except ChildProcessError:
                pass
        self.group, self.pids = 0, []


def run_micro(tools):
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        subprocess.run([tools.micro, f"--benchmark_out={report.name}", "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        data = json.load(open(report.name))
    rows = []
    for b in data["benchmarks"]:
        scale = {"ns": 1, "us": 1e3, "ms": 1e6}[b.get("time_unit", "ns")]
        rows.append((b["name"], b["real_time"] * scale, b.get("procs")))
    return rows


def ms(x):
    return f"{x:.1f} ms" if x >= 10 else f"{x:.2f} ms"


def verdict(ok):
    return "met" if ok else "**missed**"


def build_table(own, full, requests, micro, counts):
    rows = []

    def row(what, procs, median, ratio, cpu, rss, goal="", met="", fastest=""):
        rows.append(f"| {what} | {procs} | {median} | {fastest} | {ratio} | {cpu} | {rss} | {goal} | {met} |")

    for label, peers, n in (("own", own, counts["own"]), ("filled", full, counts["filled"])):
        plugin = peers["metrics"].median()
        limit = WINDOW_MS + peers["walk"].median()
        top = peers["top"].median()
        if label == "own":
            goal = f"≤ 88 ms (80 ms + 8); ≤ 1.10 × limit = {1.10 * limit:.1f} ms"
            met = verdict(plugin <= WINDOW_MS + 8 and plugin <= 1.10 * limit)
        else:
            goal = (f"≤ 1.10 × limit = {1.10 * limit:.1f} ms; ≤ 0.3 × top = {0.3 * top:.1f} ms; "
                    f"CPU ≤ 1.25 × floor walk = {1.25 * peers['walk'].median_cpu():.1f} ms")
            met = verdict(plugin <= 1.10 * limit and plugin <= 0.3 * top
                          and peers["metrics"].median_cpu() <= 1.25 * peers["walk"].median_cpu())
        m = peers["metrics"]
        row("metrics request (plugin_ravlen)", n, ms(plugin), "1.00 × plugin", ms(m.median_cpu()),
            m.peak_rss(), goal, met, ms(m.fastest()))
        others = (("before", "metrics request, the build before (baseline)"), ("top", "`top -b -n 2 -d 0.08`"),
                  ("psutil", "psutil script"), ("walk", "floor: one /proc/<pid>/stat walk"))
        for key, what in ((k, w) for k, w in others if k in peers):
            k = peers[key]
            row(what, n, ms(k.median()), f"{k.median() / plugin:.2f} × plugin", ms(k.median_cpu()),
                k.peak_rss(), fastest=ms(k.fastest()))
        row("limit: 80 ms + one floor walk", n, ms(limit), f"{limit / plugin:.2f} × plugin", "", "",
            "", f"plugin = {plugin / limit:.3f} × limit")

    floor = requests["exec"].median()
    for peers, n in ((own, counts["own"]), (full, counts["filled"])):
        exposition_rows(row, peers, n, floor)
    row("exec floor (static, writes one byte)", counts["own"], ms(floor), "1.00 × exec floor",
        ms(requests["exec"].median_cpu()), requests["exec"].peak_rss(), fastest=ms(requests["exec"].fastest()))
    for key, what in (("page", "page request"), ("info", "info request"), ("401", "401 request")):
        k = requests[key]
        ratio = k.median() / floor
        rss = k.peak_rss()
        row(what, counts["own"], ms(k.median()), f"{ratio:.2f} × exec floor", ms(k.median_cpu()), rss,
            "≤ 1.5 × exec floor; RSS ≤ 3072 KiB", verdict(ratio <= 1.5 and rss <= RSS_LIMIT_KB),
            ms(k.fastest()))
    peak = max(own["metrics"].peak_rss(), full["metrics"].peak_rss())
    peak_exposition = max(p[k].peak_rss() for p in (own, full) for k in ("prom", "prom_top"))
    row("metrics request, peak RSS of both counts", "", "", "", "", peak, "RSS ≤ 3072 KiB",
        verdict(peak <= RSS_LIMIT_KB))
    row("exposition requests, peak RSS of both counts", "", "", "", "", peak_exposition, "RSS ≤ 3072 KiB",
        verdict(peak_exposition <= RSS_LIMIT_KB))
    for name, ns, procs in micro:
        if procs:
            row(f"micro: `{name}`", int(procs), f"{ns / procs:.0f} ns/process", "", "", "",
                fastest=f"({ns / 1e6:.2f} ms/sample)")
        else:
            row(f"micro: `{name}`", "", f"{ns:.1f} ns/call", "", "", "")

    head = ("| What | Processes | Median wall | Fastest | Ratio | Median CPU | Peak RSS KiB | Goal | Goal met |\n"
            "|---|---|---|---|---|---|---|---|---|")
    return head + "\n" + "\n".join(rows)


def deviation(own, readings):
    return max(abs(r - own) for r in readings)


def build_figures_table(accuracy, probe, own, full, counts):
    """Process CPU accuracy, the probe's effect on the machine figure, CPU time and latency."""
    rows = []

    def row(what, program, procs, figure, goal="", met=""):
        rows.append(f"| {what} | {program} | {procs} | {figure} | {goal} | {met} |")

    for child, by_program in accuracy:
        for program, (use, readings, during) in by_program.items():
            worst = deviation(use, readings)
            # The child's use while each request ran, spawn to reap, shows how much of the spread is
            # the child's own (a busy machine makes it uneven) rather than the figure's.
            worst_during = max(abs(r - d) for r, d in zip(readings, during))
            figure = (f"own use {use:.1f} %; readings {min(readings):.1f} to {max(readings):.1f} "
                      f"(median {statistics.median(readings):.1f}); worst {worst:.1f} points off "
                      f"(against its use during each request: {worst_during:.1f})")
            ok = worst <= 3
            row(f"accuracy: child {child.label}, {len(readings)} requests", program, counts["own"], figure,
                "every reading within 3 points of the child's own use" if program == "plugin_ravlen" else "",
                verdict(ok) if program == "plugin_ravlen" else "")
    readings_by_program, (busy_before, busy_after) = probe
    for program, readings in readings_by_program.items():
        median = statistics.median(readings)
        figure = (f"median {median:.1f} % (range {min(readings):.1f} to {max(readings):.1f}); the machine "
                  f"alone, 2 s before and after: {busy_before:.1f} % and {busy_after:.1f} %")
        row(f"probe effect: machine CPU of {len(readings)} requests, idle machine", program, counts["filled"],
            figure, "median ≤ 3 %" if program == "plugin_ravlen" else "",
            verdict(median <= 3) if program == "plugin_ravlen" else "")
    for program, key in (("plugin_ravlen", "metrics"), ("baseline", "before")):
        if key not in full:
            continue
        ratio = full[key].median_cpu() / full["walk"].median_cpu()
        row("CPU time of a metrics request against one floor walk", program, counts["filled"],
            f"{ms(full[key].median_cpu())} / {ms(full['walk'].median_cpu())} = {ratio:.2f} × walk",
            "≤ 1.25 × walk" if key == "metrics" else "", verdict(ratio <= 1.25) if key == "metrics" else "")
    for label, peers in (("own", own), ("filled", full)):
        limit = WINDOW_MS + peers["walk"].median()
        for program, key in (("plugin_ravlen", "metrics"), ("baseline", "before")):
            if key not in peers:
                continue
            ratio = peers[key].median() / limit
            row("latency against 80 ms + one floor walk", program, counts[label],
                f"{ms(peers[key].median())} / {ms(limit)} = {ratio:.3f} × limit",
                "≤ 1.10 × limit" if key == "metrics" else "", verdict(ratio <= 1.10) if key == "metrics" else "")
    head = ("| What | Program | Processes | Figure | Goal | Goal met |\n"
            "|---|---|---|---|---|---|")
    return head + "\n" + "\n".join(rows)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", required=True, help="the release build directory")
    ap.add_argument("--out", required=True, help="markdown file to write")
    ap.add_argument("--rounds", type=int, default=11, help="runs of each metrics-sized tool")
    ap.add_argument("--request-runs", type=int, default=200, help="runs of each small request")
    ap.add_argument("--fill", type=int, default=4000, help="process count of the filled rows")
    ap.add_argument("--baseline", help="an older build of plugin_ravlen to measure alongside")
    ap.add_argument("--baseline-name", default="", help="what the baseline is built from, for the text")
    args = ap.parse_args()
    baseline = os.path.abspath(args.baseline) if args.baseline else None

    tools = Tools(os.path.abspath(args.build), os.path.dirname(os.path.abspath(__file__)))
    notes = check_responses(tools)
    check_exposition(tools)

    # Ctrl-C, a hang-up or a termination request end the run through the finally below.
    def stop(signum, _frame):
        raise SystemExit(128 + signum)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, stop)

    print("microbenchmarks ...", file=sys.stderr)
    micro = run_micro(tools)

    print("small requests against the exec floor ...", file=sys.stderr)
    requests = dict(exec=Kind("exec", [tools.exec_floor]), **small_requests(tools))
    warm_up(requests, tools, 5)
    per_round = 25
    measure_rounds(requests, tools, max(1, args.request_runs // per_round), per_round)

    programs = {"plugin_ravlen": tools.plugin, **({"baseline": baseline} if baseline else {})}
    print("accuracy of the process CPU figure ...", file=sys.stderr)
    accuracy = [(child, child.measure(tools, programs)) for child in ACCURACY_CHILDREN]

    counts = {}
    print(f"metrics and peers at the machine's own process count ({args.rounds} rounds) ...",
          file=sys.stderr)
    own = dict(metrics_peers(tools, baseline), **exposition_requests(tools))
    warm_up(own, tools, 1)
    before = process_count()
    measure_rounds(own, tools, args.rounds, 1)
    counts["own"] = round((before + process_count()) / 2)

    filler = Filler(tools)
    try:
        print(f"starting idle processes up to {args.fill} ...", file=sys.stderr)
        filler.fill_to(args.fill)
        full = dict(metrics_peers(tools, baseline), **exposition_requests(tools))
        before = process_count()
        print(f"the machine CPU figure at {before} idle processes ...", file=sys.stderr)
        probe = probe_effect(programs)
        print(f"metrics and peers at {before} processes ({args.rounds} rounds) ...", file=sys.stderr)
        measure_rounds(full, tools, args.rounds, 1)
        after = process_count()
        if after < before - 100:
            raise RuntimeError(f"the idle processes ended early ({before} -> {after} processes)")
        counts["filled"] = round((before + after) / 2)
    finally:
        filler.kill()

    table = build_table(own, full, requests, micro, counts)
    figures = build_figures_table(accuracy, probe, own, full, counts)
    cpu_model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu_model = line.split(":", 1)[1].strip()
                break
    lines = [
        "# Benchmark results",
        "",
        f"Run of `bench/run.sh` on {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}: "
        f"{os.cpu_count()} cores ({cpu_model}), Linux {platform.release()}, "
        f"{counts['own']} processes of the machine's own, {counts['filled']} with the idle filler.",
        "",
        "Wall and CPU figures are medians of whole runs, spawn to reap, standard output to "
        f"/dev/null: {args.rounds} runs of each metrics-sized tool, about {args.request_runs} of each "
        "small request, interleaved. Peak RSS is the largest VmHWM of three "
        "further traced runs, read as the program exits (a child's `ru_maxrss` would also count "
        "the process it was spawned from). "
        "The ratio column divides each figure by plugin_ravlen's metrics request at the same "
        "process count, or by the exec floor for the small requests.",
        "",
        table,
        "",
        "## Process CPU and the probe's own work",
        "",
        f"Accuracy: a child of known use (`bench/duty_child.cpp`) and {ACCURACY_REQUESTS} metrics requests "
        "of each program, one after the other and the programs taking turns, at the machine's own "
        "process count; the child's own use is its CPU-time clock over wall time across those "
        "requests. Probe effect: the machine CPU figure of "
        f"{PROBE_REQUESTS} requests of each program, taking turns, with the idle filler running and "
        "nothing else of the benchmark's. "
        "CPU time and latency: medians of the rounds of the table above. "
        + (f"The baseline is the program built from {args.baseline_name or args.baseline}, measured "
           "alongside. " if baseline else ""),
        "",
        figures,
        "",
    ]
    for note in notes:
        lines.append(f"Note: {note}.")
        lines.append("")
    # Earlier runs kept by hand at the end of the file stay there.
    if os.path.exists(args.out):
        previous = open(args.out).read()
        at = previous.find("\n## Earlier runs")
        if at >= 0:
            lines.append(previous[at + 1:].rstrip("\n") + "\n")
    text = "\n".join(lines)
    print(table)
    print(figures)
    with open(args.out, "w") as f:
        f.write(text)
    print(f"written to {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
