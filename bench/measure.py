"""Times commands interleaved: run i of every command comes before run i+1
of any, each after its own preparation, so that a slow spell of a shared
machine falls on all of them alike.

    measure.py OUT.json RUNS NAME PREPARE COMMAND [NAME PREPARE COMMAND ...]

PREPARE and COMMAND are shell commands; PREPARE is not timed (use "true"
for none). One warm-up round runs first and is not recorded. Writes
{"NAME": [seconds, ...], ...} to OUT.json and prints the medians.
"""
import json
import statistics
import subprocess
import sys
import time

out, runs, rest = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
cases = [rest[i:i + 3] for i in range(0, len(rest), 3)]
times = {name: [] for name, _, _ in cases}


def run(command):
    subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


for round_number in range(runs + 1):
    # The order turns each round, so no command always follows the same one.
    shift = round_number % len(cases)
    for name, prepare, command in cases[shift:] + cases[:shift]:
        run(prepare)
        start = time.perf_counter()
        run(command)
        elapsed = time.perf_counter() - start
        if round_number > 0:
            times[name].append(elapsed)

with open(out, "w") as f:
    json.dump(times, f)
print("  " + "  ".join(f"{name} {statistics.median(t):.3f} s" for name, t in times.items()), flush=True)
