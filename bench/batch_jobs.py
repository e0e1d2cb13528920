#!/usr/bin/env python3
"""Times `quorvex export` of a folder of 40 models one at a time (-j 1) and
two at a time (-j 2), and prints both wall times and their ratio. The target
is a ratio of at most 0.6 on a machine with two free cores; --check makes a
larger ratio exit 1. Each figure is the best of N runs (default 3).

The folder holds copies of the bundled examples (the windmill scene, the glTF
robot, the OBJ crate) under 40 names, with the pictures they use.

Usage: batch_jobs.py QUORVEX [--models N] [--runs N] [--check]
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = [
    ("windmill", "windmill.scene.json"),
    ("robot", "robot.gltf"),
    ("crate", "crate.obj"),
]


def make_folder(work, count):
    src = os.path.join(work, "models")
    os.makedirs(src)
    for folder, _ in EXAMPLES:
        for picture in glob.glob(os.path.join(ROOT, "examples", folder, "*.png")) + glob.glob(
            os.path.join(ROOT, "examples", folder, "*.mtl")
        ):
            shutil.copy(picture, src)
    inputs = []
    for i in range(count):
        folder, name = EXAMPLES[i % len(EXAMPLES)]
        stem, ext = name.split(".", 1)
        target = os.path.join(src, "%s_%02d.%s" % (stem, i, ext))
        shutil.copy(os.path.join(ROOT, "examples", folder, name), target)
        inputs.append(target)
    return inputs


def best_time(quorvex, inputs, out, jobs, runs):
    best = None
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        start = time.monotonic()
        done = subprocess.run([quorvex, "export", *inputs, "--out-dir", out, "-j", str(jobs), "-q"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        seconds = time.monotonic() - start
        if done.returncode != 0:
            sys.exit("batch_jobs: -j %d failed (%d): %s" % (jobs, done.returncode, done.stderr))
        best = seconds if best is None else min(best, seconds)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quorvex")
    parser.add_argument("--models", type=int, default=40)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        inputs = make_folder(work, args.models)
        out = os.path.join(work, "out")
        serial = best_time(args.quorvex, inputs, out, 1, args.runs)
        written = sorted(os.listdir(out))
        parallel = best_time(args.quorvex, inputs, out, 2, args.runs)
        if sorted(os.listdir(out)) != written or len(written) != args.models:
            sys.exit("batch_jobs: -j 1 and -j 2 wrote different files")
    ratio = parallel / serial
    print("%d models: -j 1 %.2fs, -j 2 %.2fs, ratio %.2f (target at most 0.60)" % (args.models, serial, parallel, ratio))
    if args.check and ratio > 0.6:
        sys.exit(1)


if __name__ == "__main__":
    main()
