"""What every Python benchmark prints: one JSON line per comparison, read by bench/report.py.

A row compares one figure of the module ("ours") with a baseline measured in the same run on the
same data. unit is "s" (a time: lower is better), "/s" (a rate: higher is better) or "B" (a
size in bytes: lower is better).
"""
import json
import sys
import time


def emit(item, what, case, ours, baseline_name, baseline, unit):
    print(json.dumps({"item": item, "what": what, "case": case, "ours": ours,
                      "baseline_name": baseline_name, "baseline": baseline, "unit": unit}),
          flush=True)


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


def time_calls(call, count):
    """Seconds per call of call(), over count calls in a row."""
    start = time.perf_counter_ns()
    for _ in range(count):
        call()
    return (time.perf_counter_ns() - start) / count / 1e9


def note(text):
    """A progress line for the person running the benchmarks; stderr, so the rows stay clean."""
    print(text, file=sys.stderr, flush=True)
