#!/usr/bin/env python3
"""Every row of a parameterised GoogleTest table must carry a readable name from its table's name
generator. A table without one gets bare indexes ("0", "1"), which CTest turns into a dump of
the row's bytes, pointers included, different in every build."""
import re
import subprocess
import sys

listing = subprocess.run([sys.argv[1], "--gtest_list_tests"], capture_output=True, text=True, check=True).stdout
suite, bad, names = "", [], set()
for line in listing.splitlines():
    if not line.startswith(" "):
        suite = line.split("#")[0].strip()
        continue
    test = line.split("#")[0].strip()
    full = suite + test
    if full in names:
        bad.append(f"{full}: name used twice")
    names.add(full)
    if "/" in suite + test and "/" in test:
        row = test.rsplit("/", 1)[1]
        if re.fullmatch(r"[0-9]+", row):
            bad.append(f"{full}: bare index, the table has no name generator")
for b in bad:
    print(b)
print(f"{len(names)} test names, {len(bad)} unreadable")
sys.exit(1 if bad else 0)
