"""Prints bench/run's tables: for every case the tools' medians, the ratio of
the tool to its reference (the median of the ratios of runs made in the same
round), and how each grew from the size before; then peak memory."""
import json
import statistics
import sys
from pathlib import Path

results = Path(sys.argv[1])
sizes = sys.argv[2:]

# (title, json suffix, tool, references)
CASES = [
    ("pack", "pack", "veskal", ["cat", "tar -cf"]),
    ("unpack", "unpack", "unveskal", ["cp -r", "tar -xf"]),
]
ATLASES = [(f"mb{mb}", f"{int(mb):,} MB" if int(mb) < 1000 else f"{int(mb) / 1000:g} GB") for mb in sizes]
ATLASES += [("n10000", "10,000 x 100 B"), ("n100000", "100,000 x 100 B")]


def load(name, suffix):
    path = results / f"{name}-{suffix}.json"
    return json.loads(path.read_text()) if path.exists() else None


print()
print("| case | output | atlas | tool (median) | reference (median) | ratio | tool growth | reference growth |")
print("|---|---|---|---|---|---|---|---|")
for title, suffix, tool, references in CASES:
    for output in ("fresh", "existing"):
        for reference in references:
            before = None
            for name, label in ATLASES:
                times = load(name, suffix)
                if times is None or f"{reference} {output}" not in times:
                    continue
                mine, theirs = times[f"{tool} {output}"], times[f"{reference} {output}"]
                ratio = statistics.median(a / b for a, b in zip(mine, theirs))
                now = (statistics.median(mine), statistics.median(theirs))
                growth = ("", "")
                if before is not None and name.startswith("mb"):
                    growth = (f"{now[0] / before[0]:.2f}x", f"{now[1] / before[1]:.2f}x")
                before = now if name.startswith("mb") else None
                print(f"| {title} | {output} | {label} | {tool} {now[0]:.3f} s | {reference} {now[1]:.3f} s "
                      f"| {ratio:.2f}x | {growth[0]} | {growth[1]} |")

memory = results / "memory.txt"
if memory.exists():
    print()
    print("| member size | veskal peak RSS | unveskal peak RSS |")
    print("|---|---|---|")
    for line in memory.read_text().split("\n"):
        if line.strip():
            size, pack_kib, unpack_kib = (int(v) for v in line.split())
            print(f"| {size >> 20} MiB | {pack_kib} KiB | {unpack_kib} KiB |")
