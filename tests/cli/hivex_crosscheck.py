#!/usr/bin/env python3
"""Reads a hive that hivex wrote and checks tolvane-cli against hivexregedit.

A minimal hive from the test builder is filled by `hivexsh -w` with keys and
values of every type; then every key and value that `hivexregedit --export`
shows must be listed by `tolvane-cli ls`/`values` and every value's bytes
must equal `tolvane-cli get`.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, **kw)


def build_script(rng):
    """hivexsh commands making a small tree; returns (script, expected keys)."""
    lines = []
    names = ["Zürich", "Software", "Classes", "Policies", "Microsoft Corp", "app.v2", "Z-last",
             "alpha", "Beta", "gamma gamma", "CurrentVersion"]

    def values():
        vals = [("@", "string:default text")]
        vals.append(("Str", "string:" + "".join(rng.choice("abcXYZ 019") for _ in range(rng.randint(0, 40)))))
        vals.append(("Expand", "expandstring:%SystemRoot%\\\\system32"))
        # hivexsh parses dword:/qword: as signed numbers: the top bit goes through hex:.
        vals.append(("Dword", "dword:0x%08x" % rng.getrandbits(31)))
        vals.append(("Qword", "qword:0x%016x" % rng.getrandbits(63)))
        vals.append(("DwordMax", "hex:4:ff,ff,ff,ff"))
        vals.append(("BigEndian", "hex:5:00,00,01,00"))
        blob = bytes(rng.getrandbits(8) for _ in range(rng.choice([0, 1, 3, 4, 5, 17, 300])))
        vals.append(("Bin", "hex:3:" + ",".join("%02x" % b for b in blob)))
        multi = "a\0bc\0\0".encode("utf-16-le")
        vals.append(("Multi", "hex:7:" + ",".join("%02x" % b for b in multi)))
        vals.append(("None", "none"))
        vals.append(("Grüße", "string:latin-1 name"))
        vals.append(("Odd type", "hex:4660:01,02,03"))
        return vals

    def emit_values():
        vals = values()
        rng.shuffle(vals)
        lines.append("setval %d" % len(vals))
        for name, val in vals:
            lines.append(name)
            lines.append(val)

    emit_values()  # root
    for top in rng.sample(names, 4):
        lines.append("cd \\")
        lines.append("add " + top)
        lines.append("cd " + top)
        emit_values()
        subs = rng.sample(names, 4)
        for sub in subs:
            lines.append("add " + sub)
        deeper = subs[-1]
        lines.append("cd " + deeper)
        emit_values()
    lines.append("commit")
    lines.append("quit")
    return "\n".join(lines) + "\n"


def parse_reg(text):
    """Parses hivexregedit's export into {path: {name: (type, bytes)}}."""
    keys = {}
    current = None
    logical = []
    buf = ""
    for raw in text.splitlines():
        if buf:
            buf += raw.strip()
        else:
            buf = raw
        if buf.endswith("\\") and not buf.startswith("["):
            buf = buf[:-1]
            continue
        logical.append(buf)
        buf = ""
    for line in logical:
        if not line or line.startswith("Windows Registry Editor"):
            continue
        if line.startswith("[") and line.endswith("]"):
            path = line[1:-1]
            path = path[1:] if path.startswith("\\") else path
            current = keys.setdefault(path, {})
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        else:
            assert line.startswith('"'), line
            i, name = 1, ""
            while line[i] != '"':
                if line[i] == "\\":
                    i += 1
                name += line[i]
                i += 1
            assert line[i + 1] == "=", line
            rest = line[i + 2:]
        current[name] = decode_data(rest)
    return keys


def decode_line(line):
    try:
        return line.decode("utf-8")
    except UnicodeDecodeError:
        return line.decode("latin-1")


def decode_data(rest):
    if rest.startswith('"'):
        s = rest[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return 1, (s + "\0").encode("utf-16-le")
    if rest.startswith("dword:"):
        return 4, int(rest[6:], 16).to_bytes(4, "little")
    if rest.startswith("hex:"):
        typ, hexes = 3, rest[4:]
    else:
        assert rest.startswith("hex("), rest
        close = rest.index(")")
        typ, hexes = int(rest[4:close], 16), rest[close + 2:]
    data = bytes(int(h, 16) for h in hexes.split(",") if h)
    return typ, data


TYPES = {0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD",
         5: "REG_DWORD_BIG_ENDIAN", 6: "REG_LINK", 7: "REG_MULTI_SZ", 8: "REG_RESOURCE_LIST",
         9: "REG_FULL_RESOURCE_DESCRIPTOR", 10: "REG_RESOURCE_REQUIREMENTS_LIST", 11: "REG_QWORD"}


def main():
    cli, writer = sys.argv[1], sys.argv[2]
    for tool in ("hivexsh", "hivexregedit"):
        if not shutil.which(tool):
            print("skipped: %s is not installed" % tool)
            return SKIP
    failures = []
    checked = 0
    for seed in range(int(os.environ.get("TOL_CROSSCHECK_SEEDS", "5"))):
        rng = random.Random(seed)
        with tempfile.TemporaryDirectory() as tmp:
            hive = os.path.join(tmp, "test.hiv")
            run([writer, "minimal", hive])
            script = build_script(rng)
            run(["hivexsh", "-w", hive], input=script.encode())
            raw = run(["hivexregedit", "--export", hive, "\\"]).stdout
            # hivex prints names stored one byte per character as raw Latin-1.
            export = "\n".join(decode_line(l) for l in raw.split(b"\n"))
            expected = parse_reg(export)
            for path, values in expected.items():
                children = sorted(p.rsplit("\\", 1)[-1] for p in expected
                                  if p and (p.rsplit("\\", 1)[0] if "\\" in p else "") == path)
                listed = run([cli, "ls", hive, path]).stdout.decode().splitlines()
                if sorted(listed) != children:
                    failures.append("seed %d: ls %r: %r != %r" % (seed, path, listed, children))
                rows = run([cli, "values", hive, path]).stdout.decode().split("\n")
                seen = {}
                for row in filter(None, rows):
                    name, typ, _ = row.split("\t", 2)
                    seen["" if name == "(Default)" else name] = typ
                for name, (typ, data) in values.items():
                    want = TYPES.get(typ, "REG_UNKNOWN")
                    if seen.get(name) != want:
                        failures.append("seed %d: %r %r type %r != %r" % (seed, path, name, seen.get(name), want))
                    args = [cli, "get", hive, path] + ([name] if name else [])
                    got = run(args).stdout
                    checked += 1
                    if got != data:
                        failures.append("seed %d: get %r %r: %s != %s" % (seed, path, name, got.hex(), data.hex()))
                if set(seen) != set(values):
                    failures.append("seed %d: values of %r: %r != %r" % (seed, path, sorted(seen), sorted(values)))
    for f in failures:
        print(f)
    print("%d values compared, %d mismatches" % (checked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
