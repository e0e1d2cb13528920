#!/usr/bin/env python3
"""Measures the big benchmark scene for the README's speed table and prints
the table: CPU nanoseconds per vertex-frame of each step of an export with 1
and 2 threads (`quorvex_bench`, BigScene_*), the wall times and their ratio,
and the whole `quorvex export` command: its CPU time with 1 and 2 threads,
beside a build of the first exporter when one is given, and its peak memory
beside the model record (vertices x frames x 24 bytes).

Usage: speed_table.py [--build DIR] [--first OLD_QUORVEX] [--runs N]

DIR is the build folder holding quorvex and quorvex_bench (default: build).
OLD_QUORVEX is the first exporter's `quorvex`: both must write identical
bytes, and the CPU ratio is taken against it. Every figure is the median of
N runs (default 5). Run it on an idle machine: CPU times grow under load,
and wall times say nothing there.
"""
import argparse
import json
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# The phases of BigScene_WholeExport as the README names them.
STEPS = [
    ("export_ns", "whole export (`DoExport`)"),
    ("walks_ns", "of which: scan and gather walks"),
    ("sampling_ns", "of which: sampling every frame (the stand-in host)"),
    ("normals_ns", "of which: normals, normal indices, boxes (left after sampling)"),
    ("writing_ns", "of which: quantization, packing, writing"),
]


def bench(build, scene, pattern, runs):
    """The median of every counter of the benchmarks matching `pattern`, by name."""
    command = [os.path.join(build, "quorvex_bench"), f"--benchmark_filter={pattern}",
               f"--benchmark_repetitions={runs}", "--benchmark_report_aggregates_only=true",
               "--benchmark_format=json"]
    out = subprocess.run(command, check=True, capture_output=True, text=True,
                         env=dict(os.environ, QUORVEX_BIG_SCENE=scene)).stdout
    medians = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            if b.get("error_occurred"):
                sys.exit(f"speed_table: {b['run_name']}: {b.get('error_message')}")
            medians[b["run_name"].split("/iterations")[0]] = b
    return medians


def export(quorvex, scene, out, threads):
    """CPU seconds (user + system), wall seconds and peak resident bytes of one export."""
    command = [quorvex, "export", scene, "-o", out, "--frames", "0:99", "--quiet"]
    if threads:
        command += ["--threads", str(threads)]
    start = time.perf_counter()
    child = subprocess.Popen(command)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"speed_table: {' '.join(command)} failed")
    return usage.ru_utime + usage.ru_stime, wall, usage.ru_maxrss * 1024


def median_export(quorvex, scene, out, threads, runs):
    results = [export(quorvex, scene, out, threads) for _ in range(runs)]
    return tuple(statistics.median(r[i] for r in results) for i in range(3))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--first")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    quorvex = os.path.join(args.build, "quorvex")
    for program in [quorvex, os.path.join(args.build, "quorvex_bench")] + ([args.first] if args.first else []):
        if not os.access(program, os.X_OK):
            sys.exit(f"speed_table: {program}: no such program (build it first)")

    with tempfile.TemporaryDirectory(prefix="quorvex-speed-") as work:
        scene = os.path.join(work, "big.scene.json")
        subprocess.run([sys.executable, os.path.join(HERE, "make_big_scene.py"), scene], check=True)

        steps = bench(args.build, scene, "BigScene_WholeExport/[12]/", args.runs)
        alone = bench(args.build, scene, "BigScene_(VertexNormals/1|NormalIndices/2|WriteSameBytes)", args.runs)
        one, two = steps["BigScene_WholeExport/1"], steps["BigScene_WholeExport/2"]

        print(f"CPU ns per vertex-frame, median of {args.runs} runs (`bench/speed_table.py`):\n")
        print("| step | 1 thread | 2 threads, calling thread |")
        print("|---|---|---|")
        for key, name in STEPS:
            print(f"| {name} | {one[key]:.1f} | {two[key]:.1f} |")
        print(f"| every thread of the process over the export | {one['all_threads_ns']:.1f} | "
              f"{two['all_threads_ns']:.1f} |")
        print(f"| exporter's own work (whole export less the host's sampling) | "
              f"{one['export_ns'] - one['sampling_ns']:.1f} | |")
        print(f"| wall time of the export | {one['wall_ns']:.1f} | {two['wall_ns']:.1f} "
              f"({two['wall_ns'] / one['wall_ns']:.2f} x) |")
        print(f"| vertex normals alone, one thread's storage | {alone['BigScene_VertexNormals/1']['normals_ns']:.1f} | |")
        print(f"| normal-table indices alone, as the export finds them | "
              f"{alone['BigScene_NormalIndices/2']['indices_ns']:.1f} | |")
        print(f"| writing the same bytes in one write | {alone['BigScene_WriteSameBytes']['bytes_ns']:.1f} | |")

        out = os.path.join(work, "now.mdl")
        rows = []
        for threads in (1, 2):
            cpu, wall, peak = median_export(quorvex, scene, out, threads, args.runs)
            rows.append((f"`quorvex export`, {threads} thread{'s' if threads > 1 else ''}", cpu, wall, peak))
        with open(out, "rb") as f:
            data = f.read()
        vertices, frames = struct.unpack_from("<i", data, 60)[0], struct.unpack_from("<i", data, 68)[0]
        record = vertices * frames * 24
        first = None
        if args.first:
            old = os.path.join(work, "first.mdl")
            first = median_export(args.first, scene, old, 0, args.runs)
            rows.append(("the first exporter", *first))
            with open(old, "rb") as f:
                if f.read() != data:
                    sys.exit("speed_table: the first exporter wrote different bytes")

        print(f"\nThe whole command on the scene ({vertices} vertices x {frames} frames, loading and the "
              f"read-back included), median of {args.runs} runs; the model record is {record / 1e6:.1f} MB:\n")
        print("| command | CPU s | wall s | peak memory |" + (" CPU / first exporter |" if first else ""))
        print("|---|---|---|---|" + ("---|" if first else ""))
        for name, cpu, wall, peak in rows:
            ratio = f" {cpu / first[0]:.3f} x |" if first else ""
            print(f"| {name} | {cpu:.3f} | {wall:.3f} | {peak / 1e6:.1f} MB ({peak / record:.2f} x) |{ratio}")
        print(f"\nWall time with 2 threads / 1 thread: {rows[1][2] / rows[0][2]:.2f} x"
              + ("; bytes identical to the first exporter's" if first else "") + ".")


if __name__ == "__main__":
    main()
