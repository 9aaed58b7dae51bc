"""Prints bench/run's table: medians, ratios to the references, peak memory."""
import json
import statistics
import sys
from pathlib import Path

results = Path(sys.argv[1])


def medians(name):
    data = json.loads((results / f"{name}.json").read_text())["results"]
    return {r["command"]: statistics.median(r["times"]) for r in data}


def row(case, tool, reference, times):
    ratio = times[tool] / times[reference]
    print(f"| {case} | {tool} {times[tool]:.3f} s | {reference} {times[reference]:.3f} s | {ratio:.2f}x |")


print()
print("| case | tool (median) | reference (median) | ratio |")
print("|---|---|---|---|")
pack = medians("pack")
row("1. pack 1 GiB, 2,042 members", "veskal", "cat", pack)
unpack = medians("unpack")
row("2. unpack 1 GiB, 2,042 members", "unveskal", "cp -r", unpack)
row("2. unpack 1 GiB, 2,042 members", "unveskal", "tar -xf", unpack)
row("3. pack 100,000 x 100 B", "veskal", "tar -cf", medians("pack-small"))
row("3. unpack 100,000 x 100 B", "unveskal", "tar -xf", medians("unpack-small"))

print()
print("| member size | veskal peak RSS | unveskal peak RSS |")
print("|---|---|---|")
for line in (results / "memory.txt").read_text().split("\n"):
    if line.strip():
        size, pack_kib, unpack_kib = (int(v) for v in line.split())
        print(f"| {size >> 20} MiB | {pack_kib} KiB | {unpack_kib} KiB |")
