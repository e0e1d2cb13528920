#!/usr/bin/env python3
"""Prints the time of a whole export of the big benchmark scene beside the time
to write the same bytes to the same folder, and the ratio; also the export's
peak memory beside the size of its model record (vertices x frames x 24 bytes).

Usage: export_vs_write.py QUORVEX [--scene SCENE] [--before OLD_QUORVEX] [--runs N]

QUORVEX is the quorvex program to measure. Without --scene the scene is made
by make_big_scene.py in a temporary folder. With --before, OLD_QUORVEX exports
the same scene too: the two files must be identical byte for byte, and the
CPU times are compared. Each figure is the best of N runs (default 3).
"""
import argparse
import os
import resource
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run_export(quorvex, scene, out):
    """CPU seconds (user + system), wall seconds and peak resident bytes of one export."""
    start = time.perf_counter()
    child = subprocess.Popen([quorvex, "export", scene, "-o", out, "--frames", "0:99", "--quiet"])
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"export_vs_write: {quorvex} export {scene} failed")
    return usage.ru_utime + usage.ru_stime, wall, usage.ru_maxrss * 1024


def time_write(data, path):
    """CPU and wall seconds of creating `path` and writing `data` to it."""
    cpu, start = time.process_time(), time.perf_counter()
    with open(path, "wb") as f:
        f.write(data)
    return time.process_time() - cpu, time.perf_counter() - start


def best_export(quorvex, scene, out, runs):
    results = [run_export(quorvex, scene, out) for _ in range(runs)]
    return min(r[0] for r in results), min(r[1] for r in results), max(r[2] for r in results)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("quorvex")
    parser.add_argument("--scene")
    parser.add_argument("--before")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="quorvex-ratio-") as work:
        scene = args.scene
        if not scene:
            scene = os.path.join(work, "big.scene.json")
            subprocess.run([sys.executable, os.path.join(HERE, "make_big_scene.py"), scene], check=True)
        out = os.path.join(work, "big.mdl")
        cpu, wall, peak = best_export(args.quorvex, scene, out, args.runs)
        with open(out, "rb") as f:
            data = f.read()
        vertices, frames = struct.unpack_from("<i", data, 60)[0], struct.unpack_from("<i", data, 68)[0]
        record = vertices * frames * 24
        writes = [time_write(data, os.path.join(work, "bytes.bin")) for _ in range(max(args.runs, 5))]
        write_cpu, write_wall = min(w[0] for w in writes), min(w[1] for w in writes)

        print(f"scene: {vertices} vertices x {frames} frames; file {len(data)} bytes")
        print(f"export:           {cpu:8.3f} s CPU {wall:8.3f} s wall")
        print(f"write same bytes: {write_cpu:8.3f} s CPU {write_wall:8.3f} s wall")
        print(f"ratio:            {cpu / max(write_cpu, 1e-6):8.1f} x CPU {wall / max(write_wall, 1e-6):8.1f} x wall")
        print(f"peak memory:      {peak / 1e6:8.1f} MB = {peak / record:.2f} x the model record ({record / 1e6:.1f} MB)")

        if args.before:
            old_out = os.path.join(work, "before.mdl")
            old_cpu, old_wall, old_peak = best_export(args.before, scene, old_out, args.runs)
            with open(old_out, "rb") as f:
                same = f.read() == data
            print(f"before:           {old_cpu:8.3f} s CPU {old_wall:8.3f} s wall, "
                  f"peak {old_peak / record:.2f} x the model record")
            print(f"now / before:     {cpu / old_cpu:8.2f} x CPU {wall / old_wall:8.2f} x wall")
            print(f"bytes:            {'identical' if same else 'DIFFERENT'}")
            if not same:
                sys.exit(1)


if __name__ == "__main__":
    main()
