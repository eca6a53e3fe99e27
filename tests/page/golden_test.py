#!/usr/bin/env python3
"""The page response through the real program, compared byte for byte with the hand-made golden
pages in golden/. The golden pages hold the whole response; only the texts of the three scripts,
which are ours to word, stand there as @THEME_BOOT@, @THEME_BRIDGE@ and @CLIENT_SCRIPT@ and are
filled in from the files under page/ (joined the way the build joins them)."""
import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from cgi_cases import HTML_HEADER, Runner  # noqa: E402

BODY_START = b"<body><div class='wrap'>"
BACK_LINK = (b"<div class='top'><a href='/' style='color:var(--accent);text-decoration:none;"
             b"font-weight:600'>&larr; Back to Kiv</a></div>")
IDS = ["pHost", "pPlatform", "pState", "segRate", "kCpu", "kCores", "kMem", "kSwap", "kLoad", "kUp",
       "kProc", "cpuModel", "spark", "sparkLine", "cores", "coreNote", "memLbl", "memFill", "swapLbl",
       "swapFill", "memDetail", "q", "segSort", "rows", "empty"]

# Query string (None: the variable is unset) and whether the server leaves out the back link.
EMBED_CASES = [
    (None, False),
    ("", False),
    ("embed=1", True),
    ("embed=true", True),
    ("embed=%31", True),          # decoded before the comparison
    ("embed=0&embed=1", False),   # the first parameter counts
    ("embed=yes", False),
    ("embed=10", False),
    ("embed=TRUE", False),
    ("xembed=1", False),
    ("theme=light&embed=1", True),
    ("embed=1&theme=dark", True),
]


def joined_lines(path):
    with open(path, "rb") as f:
        return re.sub(rb"\n[ \t]*", b"", f.read())


def less_final_lf(path):
    with open(path, "rb") as f:
        data = f.read()
    return data[:-1] if data.endswith(b"\n") else data


def expected(page_dir, name):
    with open(os.path.join(HERE, "golden", name), "rb") as f:
        text = f.read()
    for marker, script in ((b"@THEME_BOOT@", joined_lines(os.path.join(page_dir, "theme_boot.js"))),
                           (b"@THEME_BRIDGE@", joined_lines(os.path.join(page_dir, "theme_bridge.js"))),
                           (b"@CLIENT_SCRIPT@", less_final_lf(os.path.join(page_dir, "client.js")))):
        assert text.count(marker) == 1, f"{name}: {marker!r} must stand once"
        assert b"</script" not in script.lower(), f"{marker!r}: a script must not close its element"
        text = text.replace(marker, script)
    return text


def run(binary, launcher, query):
    return Runner(binary, launcher, None).answer(env={} if query is None else {"QUERY_STRING": query})


def first_difference(a, b):
    n = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
    return f"first difference at byte {n}: got {a[max(0, n - 60):n + 60]!r}, want {b[max(0, n - 60):n + 60]!r}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--page-dir", required=True)
    ap.add_argument("--launcher", default="")
    args = ap.parse_args()
    launcher = args.launcher.split() if args.launcher else []

    standalone = expected(args.page_dir, "standalone.html")
    embedded = expected(args.page_dir, "embedded.html")

    # The golden pages themselves: the same but for the back link, right after the body start.
    assert standalone == embedded.replace(BODY_START, BODY_START + BACK_LINK, 1)
    assert embedded.count(BODY_START) == 1 and BACK_LINK not in embedded

    failures = 0
    for query, is_embedded in EMBED_CASES:
        want = embedded if is_embedded else standalone
        try:
            got = run(args.binary, launcher, query)
            assert got[:100] == HTML_HEADER and len(HTML_HEADER) == 100, f"header block: {got[:100]!r}"
            assert got == want, first_difference(got, want)
            ids = re.findall(rb" id='([^']*)'", got)
            assert [i.decode() for i in ids] == IDS, f"ids: {ids}"
            # Line feeds only where the page's fragments hold them (plus the client script's own).
            outside = got[100:].replace(less_final_lf(os.path.join(args.page_dir, "client.js")), b"")
            line_feeds = outside.count(b"\n")
            assert line_feeds == 6, f"{line_feeds} line feeds outside the client script"
            assert not re.search(rb">\s+<", outside.replace(b"</script>\n<", b"</script><")
                                 .replace(b"<script>\n", b"<script>").replace(b"\n</script>", b"</script>")
                                 .replace(b"<!DOCTYPE html>\n", b"<!DOCTYPE html>")), "whitespace between tags"
            print(f"ok   {query!r}")
        except AssertionError as e:
            failures += 1
            print(f"FAIL {query!r}: {e}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
