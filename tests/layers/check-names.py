#!/usr/bin/env python3
"""The names table of ARCHITECTURE.md against the code: every file a row
names exists, and every name of its first column occurs, as a word, in one
of the row's files. Prints each row that is wrong; fails when there is one."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
text = (root / "ARCHITECTURE.md").read_text(encoding="utf-8")
table = text.split("## The program's own names", 1)[1].split("\n## ", 1)[0]
bad = 0
for line in table.splitlines():
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    if len(cells) != 3 or cells[0] in ("name", "---"):
        continue
    names = re.findall(r"`([^`]+)`", cells[0])
    files = []
    for token in re.findall(r"`([^`]+)`", cells[2]):
        path = root / token
        if not path.exists():
            print(f"{cells[0]}: no file {token}")
            bad = 1
        elif path.is_dir():
            files += [p for p in path.rglob("*") if p.suffix in (".h", ".cpp")]
        else:
            files.append(path)
    sources = "\n".join(p.read_text(encoding="utf-8") for p in files)
    for name in names:
        if not re.search(r"(?<![\w])" + re.escape(name) + r"(?![\w])", sources):
            print(f"{cells[0]}: {name} is in none of {cells[2]}")
            bad = 1
sys.exit(bad)
