#!/usr/bin/env python3
"""Checks of the release files, each a subcommand:

  package  the Debian package: control fields, file list and modes, copyright and changelog,
           lintian overrides with reasons, and the package version against the program's;
  program  the flags, the descriptor and the info document through a program from a release file
           (with --launcher, for instance under Wine);
  served   Debian's lighttpd with its stock CGI configuration serving /usr/lib/cgi-bin/plugin_ravlen
           on a free loopback port, with and without a node password set for the server."""
import argparse
import gzip
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "http"))
import cgi_cases  # noqa: E402
from stand_in import free_port  # noqa: E402

MAINTAINER = "ravlen developers <ravlen@ravlen.invalid>"
PROGRAM = "usr/lib/cgi-bin/plugin_ravlen"
DOC = "usr/share/doc/ravlen"
# Every path in the package with its mode: nothing more, nothing less.
CONTENTS = {
    "usr/": "drwxr-xr-x", "usr/lib/": "drwxr-xr-x", "usr/lib/cgi-bin/": "drwxr-xr-x",
    PROGRAM: "-rwxr-xr-x",
    "usr/share/": "drwxr-xr-x", "usr/share/doc/": "drwxr-xr-x", DOC + "/": "drwxr-xr-x",
    DOC + "/README.md": "-rw-r--r--", DOC + "/changelog.Debian.gz": "-rw-r--r--",
    DOC + "/copyright": "-rw-r--r--",
    "usr/share/lintian/": "drwxr-xr-x", "usr/share/lintian/overrides/": "drwxr-xr-x",
    "usr/share/lintian/overrides/ravlen": "-rw-r--r--",
}


def text(cmd):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout.decode()


class Checks:
    def __init__(self):
        self.failures = 0

    def check(self, name, fn, *args):
        try:
            fn(*args)
            print(f"ok   {name}")
        except (AssertionError, RuntimeError, subprocess.CalledProcessError, OSError, urllib.error.URLError) as e:
            self.failures += 1
            print(f"FAIL {name}: {e}")

    def done(self):
        sys.exit(1 if self.failures else 0)


# ---- package ----

def control_fields(deb):
    fields = {}
    for line in text(["dpkg-deb", "-f", deb]).splitlines():
        if not line.startswith(" "):
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def program_version(root):
    out = subprocess.run([os.path.join(root, PROGRAM), "--version"], check=True, stdout=subprocess.PIPE).stdout
    m = re.fullmatch(rb"plugin_ravlen (\S+)\n", out)
    assert m, f"--version printed {out!r}"
    return m.group(1).decode()


def check_control(deb, root):
    f = control_fields(deb)
    expected = {"Package": "ravlen", "Version": program_version(root) + "-1", "Architecture": "amd64",
                "Section": "web", "Priority": "optional", "Maintainer": MAINTAINER}
    for key, value in expected.items():
        assert f.get(key) == value, f"{key} is {f.get(key)!r}, expected {value!r}"
    # A static program needs no other package.
    for key in ("Depends", "Pre-Depends", "Recommends"):
        assert key not in f, f"unexpected {key}: {f[key]}"
    assert f.get("Description"), "no description"


def check_contents(deb):
    found = {}
    for line in text(["dpkg-deb", "-c", deb]).splitlines():
        parts = line.split()
        mode, owner, path = parts[0], parts[1], parts[-1]
        assert owner == "root/root", f"{path} is owned by {owner}"
        found[path.removeprefix("./")] = mode
    assert found == CONTENTS, f"contents differ:\n  got      {sorted(found.items())}\n  expected {sorted(CONTENTS.items())}"


def check_copyright(root, licence):
    copyright_text = open(os.path.join(root, DOC, "copyright")).read()
    assert copyright_text.startswith(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"), "not machine-readable"
    assert "\nCopyright: 2026 The ravlen developers\n" in copyright_text, "no copyright line"
    assert "\nLicense: Expat\n" in copyright_text and "MIT" in copyright_text, "the MIT (Expat) licence is not named"
    # Every line of the licence's terms, indented as the format asks.
    for line in open(licence).read().splitlines()[4:]:
        want = f"\n {line}\n" if line else "\n .\n"
        assert want in copyright_text, f"licence line missing: {line!r}"


def check_changelog(root, deb):
    with gzip.open(os.path.join(root, DOC, "changelog.Debian.gz")) as f:
        changelog = f.read()
    with tempfile.NamedTemporaryFile() as tmp:
        tmp.write(changelog)
        tmp.flush()
        version = text(["dpkg-parsechangelog", "-l", tmp.name, "-S", "Version"]).strip()
        maintainer = text(["dpkg-parsechangelog", "-l", tmp.name, "-S", "Maintainer"]).strip()
    assert version == control_fields(deb)["Version"], f"changelog's latest version is {version}"
    assert maintainer == MAINTAINER, f"changelog's latest entry is signed by {maintainer}"


def check_overrides(root):
    lines = open(os.path.join(root, "usr/share/lintian/overrides/ravlen")).read().splitlines()
    for i, line in enumerate(lines):
        if line and not line.startswith("#"):
            assert i > 0 and lines[i - 1].startswith("# ") and len(lines[i - 1]) > 10, \
                f"override without a reason on the line above: {line}"


def package(a):
    c = Checks()
    c.check("control fields", check_control, a.deb, a.root)
    c.check("contents and modes", check_contents, a.deb)
    c.check("copyright", check_copyright, a.root, a.licence)
    c.check("changelog", check_changelog, a.root, a.deb)
    c.check("lintian overrides give reasons", check_overrides, a.root)
    c.done()


# ---- program ----

def program(a):
    runner = cgi_cases.Runner(a.binary, a.launcher.split(), a.platform)
    table = {name: (args, env, check) for name, args, env, check in cgi_cases.cases(a.platform)}
    c = Checks()
    for name in ("version", "meta", "info", "info with password", "gate: no carrier, JSON side"):
        args, env, expected = table[name]

        def run_case(args=args, env=env, expected=expected):
            out = runner.answer(args, env)
            if isinstance(expected, bytes):
                assert out == expected, f"expected {expected!r}, got {out[:300]!r}"
            else:
                expected(out)
        c.check(name, run_case)
    c.done()


# ---- served ----

STOCK_CGI = "/etc/lighttpd/conf-available/10-cgi.conf"


def quoted(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Lighttpd:
    """Debian's lighttpd on a free loopback port: a few lines of its own, the stock CGI
    configuration unchanged, and the node password for CGI programs through mod_setenv."""

    def __init__(self, state, password=None):
        self.state, self.password = state, password

    def __enter__(self):
        os.makedirs(os.path.join(self.state, "htdocs"), exist_ok=True)
        self.port = free_port()
        lines = [
            'server.modules = ("mod_alias")',
            'server.bind = "127.0.0.1"',
            f"server.port = {self.port}",
            f"server.document-root = {quoted(os.path.join(self.state, 'htdocs'))}",
            f"include {quoted(STOCK_CGI)}",
        ]
        if os.geteuid() == 0:
            lines.append('server.username = "www-data"')
            lines.append('server.groupname = "www-data"')
        if self.password is not None:
            # The two lines the README gives operators, after the stock configuration.
            lines.append('server.modules += ("mod_setenv")')
            lines.append(f'setenv.add-environment = ("KIV_PASSWORD" => {quoted(self.password)})')
        conf = os.path.join(self.state, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        os.chmod(conf, 0o600)  # it holds the node password
        # Without server.errorlog the server logs to its standard error: a file opened here, since
        # the server would open its log only after giving up root for www-data.
        self.log_path = os.path.join(self.state, "error.log")
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(["lighttpd", "-D", "-f", conf], stdout=subprocess.DEVNULL, stderr=log)
        self.url = f"http://127.0.0.1:{self.port}"
        deadline = time.monotonic() + 15
        while True:
            try:
                urllib.request.urlopen(self.url + "/", timeout=2)
            except urllib.error.HTTPError:
                return self  # the server answers (404 for the empty document root)
            except (urllib.error.URLError, ConnectionError):
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    self.__exit__()
                    with open(self.log_path, errors="replace") as log:
                        raise RuntimeError("lighttpd did not start: " + log.read())
                time.sleep(0.05)
            else:
                return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def get(self, path, headers=None):
        req = urllib.request.Request(self.url + path, headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=30) as r:
                return r.status, r.headers.get("Content-Type"), r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Content-Type"), e.read()


def as_cgi_output(content_type, body):
    """The program's own output for a served JSON body, so that the end-to-end checks apply."""
    assert content_type == "application/json; charset=utf-8", f"Content-Type {content_type!r}"
    return cgi_cases.JSON_HEADER + body


def served(a):
    table = {name: check for name, _, _, check in cgi_cases.cases("linux")}
    url = "/cgi-bin/plugin_ravlen"
    c = Checks()
    with tempfile.TemporaryDirectory(dir=a.state) as state:
        os.chmod(state, 0o755)

        def open_server():
            with Lighttpd(os.path.join(state, "open")) as server:
                status, ctype, body = server.get(url + "?action=info")
                assert status == 200, f"status {status}: {body[:200]!r}"
                table["info"](as_cgi_output(ctype, body))
                status, ctype, body = server.get(url)
                assert status == 200 and ctype == "text/html; charset=utf-8", f"page: {status} {ctype}"
        c.check("info and page through lighttpd's stock CGI configuration", open_server)

        def guarded_server():
            unauthorized = b'{"ok":false,"error":"invalid node password"}\n'
            with Lighttpd(os.path.join(state, "guarded"), password="s3cret") as server:
                for headers in ({}, {"X-Kiv-Password": "wrong"}):
                    status, _, body = server.get(url + "?action=info", headers)
                    assert status == 401 and body == unauthorized, f"{headers}: {status} {body[:200]!r}"
                status, ctype, body = server.get(url + "?action=info", {"X-Kiv-Password": "s3cret"})
                assert status == 200, f"status {status}: {body[:200]!r}"
                table["info with password"](as_cgi_output(ctype, body))
        c.check("KIV_PASSWORD set for the server guards the program", guarded_server)
    c.done()


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="command", required=True)
    p = sub.add_parser("package")
    p.add_argument("--deb", required=True)
    p.add_argument("--root", required=True, help="where the package is installed")
    p.add_argument("--licence", required=True)
    p = sub.add_parser("program")
    p.add_argument("--binary", required=True)
    p.add_argument("--platform", default="linux")
    p.add_argument("--launcher", default="")
    p = sub.add_parser("served")
    p.add_argument("--state", required=True, help="a folder for the servers' configuration and logs")
    a = ap.parse_args()
    {"package": package, "program": program, "served": served}[a.command](a)


if __name__ == "__main__":
    main()
