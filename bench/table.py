#!/usr/bin/env python3
"""Prints the benchmark table: each path next to its baseline of the same run.

Usage: table.py TABLE RESULTS_DIR
RESULTS_DIR holds BUILD-PROGRAM.json files written by Google Benchmark
(--benchmark_out_format=json). Exits 0 whatever the ratios are: the table
reports, it does not judge the machine.
"""
import json
import os
import sys


def load(results):
    times = {}
    for name in os.listdir(results):
        if not name.endswith(".json"):
            continue
        build, _, program = name[:-5].partition("-")
        with open(os.path.join(results, name), encoding="utf-8") as f:
            data = json.load(f)
        for b in data.get("benchmarks", []):
            # With repetitions, the median stands for the benchmark.
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            key = (build, program, b.get("run_name", b["name"]))
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            times[key] = b["real_time"] * scale
    return times


def measured(times, build, names):
    """A benchmark's time, or the sum of several joined by " + "."""
    parts = [times.get((build, *part.split(":", 1))) for part in names.split(" + ")]
    return sum(parts) if all(parts) else None


def fmt(ns):
    if ns is None:
        return "-"
    return f"{ns / 1e3:.2f} us" if ns >= 1e4 else f"{ns:.1f} ns"


def main():
    table, results = sys.argv[1], sys.argv[2]
    times = load(results)
    rows = []
    for line in open(table, encoding="utf-8"):
        if not line.strip() or line.startswith("#"):
            continue
        build, what, ours, base, target = line.rstrip("\n").split("\t")
        t_ours = measured(times, build, ours)
        t_base = measured(times, build, base)
        ratio = t_ours / t_base if t_ours and t_base else None
        if target == "-" or ratio is None:
            verdict = "-" if ratio is not None else "not measured"
        else:
            verdict = "met" if ratio <= float(target) else "missed"
        rows.append((build, what, fmt(t_ours), fmt(t_base), f"{ratio:.2f}x" if ratio else "-",
                     f"<= {target}x" if target != "-" else "-", verdict))
    head = ("build", "path", "ours", "baseline", "ratio", "target", "")
    widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
    for r in [head] + rows:
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())


if __name__ == "__main__":
    main()
