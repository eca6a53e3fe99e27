#!/usr/bin/env python3
"""End-to-end cases through the real program: each case spawns it with a controlled
environment and compares what it writes, byte for byte where the text is fixed.

Every case also requires exit status 0 and nothing at all on standard error.
With --launcher (for instance "wine") the same table runs against another build."""
import argparse
import json
import os
import re
import subprocess
import sys

JSON_HEADER = (b"Content-Type: application/json; charset=utf-8\r\n"
               b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n")
HTML_HEADER = (b"Content-Type: text/html; charset=utf-8\r\n"
               b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n")
DESCRIPTOR = b'{"name":"ravlen","desc":"CPU & memory"}\n'
VERSION = b"plugin_ravlen 1.0.1\n"
USAGE = (b"usage: plugin_ravlen [--meta] [--version] [--help]\n"
         b"  CGI mode reads QUERY_STRING:\n"
         b"    ?format=json | ?action=metrics   JSON system snapshot\n"
         b"    ?action=info                     plugin info\n"
         b"    (no action)                      HTML dashboard\n")
UNAUTHORIZED = (b"Status: 401 Unauthorized\r\n" + JSON_HEADER +
                b'{"ok":false,"error":"invalid node password"}\n')
BACK_LINK = b"<div class='top'><a href='/'"


def unknown(requested_json):
    return JSON_HEADER + (b'{"ok":false,"error":"unknown_action","supported":["metrics","info"],"requested":'
                          + requested_json + b"}\n")


class Run:
    def __init__(self, out, err, status):
        self.out, self.err, self.status = out, err, status


class Runner:
    def __init__(self, binary, launcher, platform):
        self.binary, self.launcher, self.platform = binary, launcher, platform
        # Only what the launcher itself needs is passed through; the rest is the case's own.
        self.base_env = {}
        for name in ("PATH", "WINEPREFIX", "WINEDEBUG", "WINESERVER", "WINEARCH", "HOME", "WINEDLLOVERRIDES"):
            if name in os.environ:
                self.base_env[name.encode()] = os.environ[name].encode()

    def run(self, args=(), env=None):
        full_env = dict(self.base_env)
        for k, v in (env or {}).items():
            full_env[k.encode() if isinstance(k, str) else k] = v.encode() if isinstance(v, str) else v
        cmd = list(self.launcher) + [self.binary] + [a.encode() if isinstance(a, str) else a for a in args]
        p = subprocess.run(cmd, env=full_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        return Run(p.stdout, p.stderr, p.returncode)

    def into_closed_pipe(self, args=(), env=None, read_first=0):
        """Exit status of a run whose standard output is a pipe the reader closes after reading
        `read_first` bytes (0: closed before the program starts). The child gets the default
        SIGPIPE disposition, as under a shell or a web server."""
        full_env = dict(self.base_env)
        full_env.update({k.encode(): v.encode() for k, v in (env or {}).items()})
        r, w = os.pipe()
        if not read_first:
            os.close(r)
        p = subprocess.Popen(list(self.launcher) + [self.binary] + list(args), env=full_env, stdout=w,
                             stderr=subprocess.PIPE)
        os.close(w)
        if read_first:
            os.read(r, read_first)
            os.close(r)
        err = p.communicate(timeout=60)[1]
        return p.returncode, err

    def answer(self, args=(), env=None):
        """Standard output of a run that must exit with 0 and write nothing on standard error."""
        r = self.run(args, env)
        assert r.status == 0, f"exit status {r.status}"
        assert r.err == b"", f"standard error: {r.err[:200]!r}"
        return r.out


def body_of(out, header=JSON_HEADER):
    assert out.startswith(header), f"response does not start with the expected header block: {out[:120]!r}"
    return out[len(header):]


def one_json_document(out):
    body = body_of(out)
    assert body.endswith(b"\n") and body.count(b"\n") == 1, f"not one line: {body[:200]!r}"
    return json.loads(body.decode("utf-8"))


def is_page(out, embedded):
    assert out.startswith(HTML_HEADER), f"not a page: {out[:120]!r}"
    assert (BACK_LINK in out) == (not embedded), "back link present" if embedded else "back link missing"


def cases(platform):
    """(name, args, env, check) where check is the exact bytes or a function of the output."""
    pw = {"KIV_PASSWORD": "s3cret"}
    info_re = re.compile(
        rb'\{"ok":true,"action":"info","plugin":"plugin_ravlen","version":"1\.0\.1","platform":"' +
        platform.encode() + rb'","pid":[1-9][0-9]*,"utc":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ",'
        rb'"node_auth":(true|false),"supported":\["metrics","info"\],"zero_network":true,'
        rb'"samples_cpu_delta_ms":80\}\n')

    def info(node_auth):
        def check(out):
            m = info_re.fullmatch(body_of(out))
            assert m, f"info document differs: {out!r}"
            assert m.group(1) == node_auth, f"node_auth is {m.group(1)!r}"
        return check

    def json_side(out):
        one_json_document(out)

    def page(embedded):
        return lambda out: is_page(out, embedded)

    def metrics_doc(out):
        doc = one_json_document(out)
        assert doc.get("action") == "metrics" or doc.get("error") == "sample_failed", doc

    return [
        # Flags and the descriptor request come before the gate.
        ("version", ["--version"], {}, VERSION),
        ("help", ["--help"], {}, USAGE),
        ("meta", ["--meta"], {}, DESCRIPTOR),
        ("help before meta", ["--help", "--meta"], {}, USAGE),
        ("unknown flag then version", ["--foo", "--version"], {}, VERSION),
        ("flags not guarded", ["--version"], pw, VERSION),
        ("descriptor variable empty", [], dict(pw, QZ_PLUGIN_META=""), DESCRIPTOR),
        ("descriptor variable with query", [], {"QZ_PLUGIN_META": "x", "QUERY_STRING": "action=info"}, DESCRIPTOR),
        ("one argument with a space", ["--help --meta"], {}, page(False)),
        ("flag in capitals ignored", ["--META"], {}, page(False)),
        ("flag with value ignored", ["--meta=1"], {}, page(False)),
        ("single dash ignored", ["-meta"], {}, page(False)),
        # Routing and embed.
        ("no query: standalone page", [], {}, page(False)),
        ("empty query: standalone page", [], {"QUERY_STRING": ""}, page(False)),
        ("action before embed", [], {"QUERY_STRING": "action=info&embed=1"}, info(b"false")),
        ("substring route", [], {"QUERY_STRING": "transaction=5"}, metrics_doc),
        ("format=jsonp routes to JSON", [], {"QUERY_STRING": "format=jsonp"}, metrics_doc),
        ("format=JSON is the page", [], {"QUERY_STRING": "format=JSON"}, page(False)),
        ("encoded action is the page", [], {"QUERY_STRING": "action%3Dinfo"}, page(False)),
        *[(f"embedded: {q}", [], {"QUERY_STRING": q}, page(True))
          for q in ("embed=1", "embed=true", "x=2&embed=true", "embed=%31", "embed=tru%65", "embed=1&embed=0")],
        *[(f"standalone: {q}", [], {"QUERY_STRING": q}, page(False))
          for q in ("embed=TRUE", "embed=", "embed", "embed=1x", "xembed=1", "embed=0&embed=1", "embed=yes")],
        # Actions.
        ("info", [], {"QUERY_STRING": "action=info"}, info(b"false")),
        ("info ignores top and sort", [], {"QUERY_STRING": "action=info&top=abc&sort=zzz"}, info(b"false")),
        ("info with empty password", [], {"QUERY_STRING": "action=info", "KIV_PASSWORD": ""}, info(b"false")),
        ("info with password", [], dict(pw, QUERY_STRING="action=info&pwd=s3cret"), info(b"true")),
        ("format=json is metrics", [], {"QUERY_STRING": "format=json"}, metrics_doc),
        ("empty action is metrics", [], {"QUERY_STRING": "action="}, metrics_doc),
        ("METRICS is unknown", [], {"QUERY_STRING": "action=METRICS"}, unknown(b'"METRICS"')),
        ("info2 is unknown", [], {"QUERY_STRING": "action=info2"}, unknown(b'"info2"')),
        ("quote echoed escaped", [], {"QUERY_STRING": "action=x%22y"}, unknown(b'"x\\"y"')),
        ("action cut to 63 bytes", [], {"QUERY_STRING": "action=" + "a" * 70}, unknown(b'"' + b"a" * 63 + b'"')),
        ("invalid UTF-8 echoed as U+FFFD", [], {"QUERY_STRING": "action=%FF%C3%A9%C3"},
         unknown('"\ufffdé\ufffd"'.encode())),
        ("control bytes escaped", [], {"QUERY_STRING": "action=%01%0A%1b"}, unknown(b'"\\u0001\\n\\u001b"')),
        ("NUL ends the value", [], {"QUERY_STRING": "action=ab%00cd"}, unknown(b'"ab"')),
        # The gate.
        ("gate: no carrier", [], pw, UNAUTHORIZED),
        ("gate: no carrier, JSON side", [], dict(pw, QUERY_STRING="action=info"), UNAUTHORIZED),
        ("gate: header", [], dict(pw, HTTP_X_KIV_PASSWORD="s3cret"), page(False)),
        ("gate: empty header, right pwd", [], dict(pw, HTTP_X_KIV_PASSWORD="", QUERY_STRING="pwd=s3cret"), page(False)),
        ("gate: wrong header, right pwd", [], dict(pw, HTTP_X_KIV_PASSWORD="x", QUERY_STRING="pwd=s3cret"), page(False)),
        ("gate: right header, wrong pwd", [], dict(pw, HTTP_X_KIV_PASSWORD="s3cret", QUERY_STRING="pwd=x"), page(False)),
        ("gate: header with trailing space", [], dict(pw, HTTP_X_KIV_PASSWORD="s3cret "), UNAUTHORIZED),
        ("gate: header in other case", [], dict(pw, HTTP_X_KIV_PASSWORD="S3CRET"), UNAUTHORIZED),
        ("gate: header prefix only", [], dict(pw, HTTP_X_KIV_PASSWORD="s3cre"), UNAUTHORIZED),
        *[(f"gate: bearer {v!r}", [], dict(pw, HTTP_AUTHORIZATION=v), page(False))
          for v in ("Bearer s3cret", "  Bearer   s3cret", "Bearer      s3cret")],
        *[(f"gate: bearer refused {v!r}", [], dict(pw, HTTP_AUTHORIZATION=v), UNAUTHORIZED)
          for v in ("bearer s3cret", "BEARER s3cret", "Bearer\ts3cret", "\tBearer s3cret", "Bearer s3cret ",
                    "Basic czNjcmV0", "s3cret", "Bearer")],
        ("gate: pwd decoded", [], {"KIV_PASSWORD": "a b&c", "QUERY_STRING": "pwd=a+b%26c"}, page(False)),
        ("gate: first pwd counts", [], dict(pw, QUERY_STRING="pwd=x&pwd=s3cret"), UNAUTHORIZED),
        ("gate: pwd after leading ?", [], dict(pw, QUERY_STRING="?pwd=s3cret"), UNAUTHORIZED),
        ("gate: pwd cut to 255 raw bytes", [], {"KIV_PASSWORD": "p" * 255, "QUERY_STRING": "pwd=" + "p" * 300},
         page(False)),
        ("gate: long password only by header", [], {"KIV_PASSWORD": "p" * 256, "QUERY_STRING": "pwd=" + "p" * 256},
         UNAUTHORIZED),
        ("gate: pwd admits the JSON side", [], dict(pw, QUERY_STRING="action=info&pwd=s3cret"), info(b"true")),
        ("gate: empty password admits all", [], {"KIV_PASSWORD": "", "QUERY_STRING": "action=nope"},
         unknown(b'"nope"')),
    ]


def hostile_cases():
    """Linux-only: bytes that a Windows environment block cannot carry unchanged."""
    big = "action=info&x=" + "y" * (100 * 1024)
    return [
        ("100 KiB query", [], {"QUERY_STRING": big}, None),
        ("invalid UTF-8 everywhere", [b"\xff\xfe", b"--\x80"],
         {"QUERY_STRING": b"embed=\xff\x01\x7f", "HTTP_X_KIV_PASSWORD": b"\xc3", "HTTP_AUTHORIZATION": b"Bearer \xff",
          "KIV_PASSWORD": b"\xe9t\xe9"}, UNAUTHORIZED),
        ("raw invalid bytes in action", [], {"QUERY_STRING": b"action=\xc3\x28\xa0\xa1\xe2\x82"},
         unknown(b'"\xef\xbf\xbd(\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"')),
        ("broken escapes", [], {"QUERY_STRING": "action=%%%G%4"}, unknown(b'"%%%G%4"')),
    ]


def closed_pipe_cases():
    """Linux-only: a reader that goes away must not change the exit status."""
    return [
        ("closed pipe: version", ["--version"], {}, 0),
        ("closed pipe: help", ["--help"], {}, 0),
        ("closed pipe: page", [], {}, 0),
        ("closed pipe: page after one byte", [], {}, 1),
        ("closed pipe: info", [], {"QUERY_STRING": "action=info"}, 0),
        ("closed pipe: 401", [], {"KIV_PASSWORD": "s3cret"}, 0),
        ("closed pipe: metrics after one byte", [], {"QUERY_STRING": "action=metrics&top=4096"}, 1),
    ]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--platform", default="linux")
    ap.add_argument("--launcher", default="", help="command that runs the binary, e.g. wine")
    a = ap.parse_args()
    runner = Runner(a.binary, a.launcher.split(), a.platform)
    table = cases(a.platform) + (hostile_cases() if not a.launcher else [])
    failures = 0
    for name, args, env, check in table:
        try:
            out = runner.answer(args, env)
            if isinstance(check, bytes):
                assert out == check, f"expected {check[:300]!r}\n     got {out[:300]!r}"
            elif check is None:
                one_json_document(out)
            else:
                check(out)
            print(f"ok   {name}")
        except AssertionError as e:
            failures += 1
            print(f"FAIL {name}: {e}")
    pipe_table = closed_pipe_cases() if not a.launcher else []
    for name, args, env, read_first in pipe_table:
        status, err = runner.into_closed_pipe(args, env, read_first)
        if status == 0 and err == b"":
            print(f"ok   {name}")
        else:
            failures += 1
            print(f"FAIL {name}: exit status {status}, standard error {err[:200]!r}")
    total = len(table) + len(pipe_table)
    print(f"{total - failures} of {total} cases passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
