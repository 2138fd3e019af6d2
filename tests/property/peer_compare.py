#!/usr/bin/env python3
"""Checks that the peer tools read a hive as the property test's model says.

    peer_compare.py HIVE MODEL.json

MODEL.json maps every key path (stored spelling, "" for the root) to its
values {name: [type, hex data]}. hivexregedit's export must show exactly that
tree; regfexport and reglookup must read it without errors and find the same
numbers of keys and values. Exit status 0 when all agree; 77 when a peer is
missing.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "cli"))
from hivex_crosscheck import decode_line, parse_reg  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")


def main():
    hive, model_path = sys.argv[1], sys.argv[2]
    for tool in ("hivexregedit", "regfexport", "reglookup"):
        if not shutil.which(tool):
            print("skipped: %s is not installed" % tool)
            return 77
    with open(model_path) as f:
        model = json.load(f)
    want = {path: {name: (v[0], bytes.fromhex(v[1])) for name, v in values.items()}
            for path, values in model.items()}
    problems = []

    out = subprocess.run(["hivexregedit", "--export", hive, "\\"], capture_output=True, env=ENV)
    if out.returncode != 0:
        problems.append("hivexregedit failed: %s" % out.stderr.decode(errors="replace")[:500])
    else:
        got = parse_reg("\n".join(decode_line(l) for l in out.stdout.split(b"\n")))
        if got != want:
            for path in sorted(set(got) | set(want)):
                if got.get(path) != want.get(path):
                    problems.append("hivex: key %r: %r != %r" % (path, got.get(path), want.get(path)))
                    if len(problems) > 10:
                        break

    keys = len(want)
    values = sum(len(v) for v in want.values())

    # regfexport writes a few bytes per system call: a file takes that far
    # faster than a pipe.
    with tempfile.TemporaryFile() as sink:
        out = subprocess.run(["regfexport", hive], stdout=sink, stderr=subprocess.PIPE, env=ENV)
        sink.seek(0)
        text = sink.read().decode("utf-8", errors="replace")
    err = out.stderr.decode("utf-8", errors="replace")
    n_keys = sum(1 for l in text.splitlines() if l.startswith("Key path: "))
    n_values = sum(1 for l in text.splitlines() if l.startswith("Value: "))
    if out.returncode != 0 or "Unable" in err or "Error" in err or (n_keys, n_values) != (keys, values):
        problems.append("regfexport: status %d, %d keys and %d values (want %d and %d): %s"
                        % (out.returncode, n_keys, n_values, keys, values, err[:300]))

    out = subprocess.run(["reglookup", hive], capture_output=True, env=ENV)
    rows = out.stdout.decode("utf-8", errors="replace").splitlines()[1:]
    err = out.stderr.decode("utf-8", errors="replace")
    n_keys = sum(1 for r in rows if r.split(",")[1:2] == ["KEY"])
    n_values = len(rows) - n_keys
    if out.returncode != 0 or "ERROR" in err or (n_keys, n_values) != (keys, values):
        problems.append("reglookup: status %d, %d keys and %d values (want %d and %d): %s"
                        % (out.returncode, n_keys, n_values, keys, values, err[:300]))

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
