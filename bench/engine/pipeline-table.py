#!/usr/bin/env python3
"""Runs bench_engine and prints its medians as one table, to compare figures across commits.

    bench/engine/pipeline-table.py [--binary build/bench/bench_engine] [--repetitions 5]

Rows: the preprocessing stages, the whole preprocessing, one selection run per anti-aliasing
method; then the region, connection and edge-point counts and the peak resident memory of one
whole run (load, preprocess, Soft selection). Columns: the bundled sample and its 12-megapixel
enlargement. Times are medians in milliseconds (wall clock).
"""
import argparse
import json
import os
import subprocess
import sys

STAGES = ["Filter", "Lab", "Gradient", "Sort", "Soille", "Preprocess",
          "SelectionNone", "SelectionSharp", "SelectionMedium", "SelectionSoft", "SelectionVerySoft"]
IMAGES = [("sample", "sample 600 x 400"), ("12mp", "12 MP 4000 x 3000")]


def run_benchmarks(binary, repetitions):
    out = subprocess.run([binary, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
                          "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    medians = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        stage, image = b["run_name"].split("/")[:2]
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        medians[(stage, image)] = {"ms": b["real_time"] * scale,
                                   "regions": b.get("regions"), "connections": b.get("connections"),
                                   "edge_points": b.get("edge_points")}
    return medians


def peak_memory(binary, image):
    out = subprocess.run([binary, f"--peak-memory={image}"], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("peak_rss_mb"):
            return float(line.split()[1])
    return None


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default=os.path.join(root, "build", "bench", "bench_engine"))
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    if not os.access(args.binary, os.X_OK):
        sys.exit(f"{args.binary}: no benchmark program (build with VARNIX_BENCH=ON)")

    medians = run_benchmarks(args.binary, args.repetitions)
    rows = []
    for stage in STAGES:
        rows.append([stage + " (ms)"] + [f"{medians[(stage, i)]['ms']:.1f}" if (stage, i) in medians else "-"
                                         for i, _ in IMAGES])
    for counter, stage in (("regions", "Soille"), ("connections", "Soille"), ("edge_points", "SelectionSoft")):
        rows.append([counter] + [f"{medians[(stage, i)][counter]:.0f}"
                                 if (stage, i) in medians and medians[(stage, i)][counter] is not None else "-"
                                 for i, _ in IMAGES])
    rows.append(["peak memory (MB)"] + [f"{peak_memory(args.binary, i):.0f}" for i, _ in IMAGES])

    header = ["stage"] + [title for _, title in IMAGES]
    widths = [max(len(r[c]) for r in rows + [header]) for c in range(len(header))]
    line = lambda r: "| " + " | ".join(r[c].ljust(widths[c]) if c == 0 else r[c].rjust(widths[c])
                                       for c in range(len(r))) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))


if __name__ == "__main__":
    main()
