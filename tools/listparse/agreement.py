#!/usr/bin/env python3
"""How many reference listing lines a listparse binary reads as the reference
projects expect, per family and source, and every line it reads otherwise.

Usage: agreement.py LISTPARSE [reference-listings.tsv]

Each row of the file (see its header) goes through its own listparse run, so
that no state passes from one row to the next; a row whose line holds \\r\\n
is one listing of several lines, and the last line's result counts. Dates
given in UTC ("...Z") are compared with TZ=UTC.
"""
import collections
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_FILE = os.path.join(HERE, "..", "..", "tests", "ftp", "data", "reference-listings.tsv")


def unescape(text):
    out = bytearray()
    i = 0
    raw = text.encode("utf-8", "surrogateescape")
    while i < len(raw):
        c = raw[i]
        if c == 0x5C and i + 1 < len(raw):
            n = chr(raw[i + 1])
            if n == "t":
                out += b"\t"; i += 2; continue
            if n == "r":
                out += b"\r"; i += 2; continue
            if n == "n":
                out += b"\n"; i += 2; continue
            if n == "\\":
                out += b"\\"; i += 2; continue
            if n == "x" and i + 3 < len(raw) + 1:
                out.append(int(raw[i + 2:i + 4], 16)); i += 4; continue
        out.append(c)
        i += 1
    return bytes(out)


def rows(path):
    with open(path, encoding="utf-8") as f:
        for number, text in enumerate(f, 1):
            text = text.rstrip("\n")
            if not text or text.startswith("#"):
                continue
            cols = text.split("\t")
            if len(cols) < 8:
                raise SystemExit(f"{path}:{number}: {len(cols)} columns")
            yield number, cols


def matches(expected, got_name, got_size, got_kind, got_date):
    name, size, kind, date = expected
    if name == "-" or got_name is None:
        return name == "-" and got_name is None
    if name != b"*" and name != got_name:
        return False
    if kind != "*" and kind != got_kind:
        return False
    if size != "*" and got_kind != "d" and size != got_size:
        return False
    if date != "*":
        pattern = re.escape(date.rstrip("Z")).replace(r"\?", ".")
        if not re.fullmatch(pattern, got_date):
            return False
    return True


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    binary = sys.argv[1]
    path = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_FILE
    env = dict(os.environ, TZ="UTC", LC_ALL="C")
    tally = collections.OrderedDict()
    differ = []
    for number, cols in rows(path):
        source, family, stype, line, name, size, kind, date = cols[:8]
        ours = cols[8] if len(cols) > 8 else ""
        data = b"".join(stype.encode() + b"\t" + part + b"\n" for part in unescape(line).split(b"\r\n"))
        out = subprocess.run([binary], input=data, capture_output=True, env=env).stdout.splitlines()
        last = out[-1] if out else b"-"
        if last == b"-":
            got = (None, "", "", "")
        else:
            f = last.split(b"\t")
            got_kind = "d" if f[2] == b"1" else "l" if f[3] == b"1" else "f"
            got = (unescape(f[0].decode("utf-8", "surrogateescape")) if b"\\" in f[0] else f[0], f[1].decode(), got_kind,
                   f[6].decode())
        reference = ("-" if name == "-" else (b"*" if name == "*" else unescape(name)), size, kind, date)
        agree = matches(reference, *got)
        key = (family, source)
        t = tally.setdefault(key, [0, 0])
        t[1] += 1
        if agree:
            t[0] += 1
        else:
            reason = ours.split(" # ", 1)[1] if " # " in ours else ("(no decision recorded)")
            shown = "no entry" if got[0] is None else f"{got[0].decode(errors='replace')!r} {got[1]} {got[2]} {got[3]}"
            differ.append(f"{source} {family} line {number}: {line[:70]!r}\n    read: {shown}\n    why: {reason}")
    families = sorted({k[0] for k in tally})
    total = [0, 0]
    print("family      FileZilla    commons-net")
    for fam in families:
        cells = []
        for src in ("fz", "cn"):
            a, n = tally.get((fam, src), [0, 0])
            total[0] += a
            total[1] += n
            cells.append(f"{a:3d}/{n:<3d}" if n else "   -   ")
        print(f"{fam:10s}  {cells[0]:11s}  {cells[1]}")
    print(f"all         {total[0]}/{total[1]}")
    if "-v" in os.environ.get("AGREEMENT", "") or os.environ.get("AGREEMENT") == "list":
        print()
        print("\n".join(differ))
    return 0


if __name__ == "__main__":
    sys.exit(main())
