#!/usr/bin/python3
"""Where a deploy run's time goes, from its own log: runs one job of
bench/deploy.py's rounds in the bench's prefix and prints the run's records
grouped by kind (font names and numbers taken out), with when each group
starts and ends counted from the process start seen from Linux.

Run from the repository root after bench/deploy.py has built the programs:
    /usr/bin/python3 bench/deploy_phases.py [--count 500] [--jobs update unchanged whatif install]
"""
import argparse
import datetime
import os
import re
import subprocess
import time

import deploy as bench  # bench/deploy.py: this script's folder comes first on the path

LOG = os.path.join(bench.PREFIX, "drive_c", "windows", "logs", "Typeloader", "Typeloader-Deploy.log")
RECORD = re.compile(r'<!\[LOG\[(.*?)\]LOG\]!><time="(\d+):(\d+):(\d+)\.(\d+)[+-]\d+" date="(\d+)-(\d+)-(\d+)"', re.S)


def records_since(offset):
    with open(LOG, "rb") as f:
        f.seek(offset)
        text = f.read().decode("utf-8", "replace")
    for m in RECORD.finditer(text):
        hh, mm, ss, ms, mo, dd, yy = (int(x) for x in m.groups()[1:])
        yield datetime.datetime(yy, mo, dd, hh, mm, ss, ms * 1000), m.group(1)


def kind(text):
    text = re.sub(r"BenchDeploySans\d+(\.ttf)?", "F", text)
    text = re.sub(r"\d+", "9", text)
    return text[:90]


def profile(name, argv):
    offset = os.path.getsize(LOG) if os.path.exists(LOG) else 0
    started = datetime.datetime.now()
    start = time.perf_counter()
    subprocess.run(argv, cwd=bench.BENCH_DIR, env=bench.ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    if os.path.getsize(LOG) < offset:  # rotated
        offset = 0
    groups = []
    for at, text in records_since(offset):
        k = kind(text)
        ms = (at - started).total_seconds() * 1000
        if groups and groups[-1][0] == k:
            groups[-1][2] = ms
            groups[-1][3] += 1
        else:
            groups.append([k, ms, ms, 1])
    print("\n%s: %.0f ms wall" % (name, wall * 1000))
    previous = 0.0
    for k, first, last, count in groups:
        print("  %7.0f %7.0f  (+%5.0f) %5d x %s" % (first, last, first - previous, count, k))
        previous = last
    print("  %7.0f          (+%5.0f) process end" % (wall * 1000, wall * 1000 - previous))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--count", type=int, default=500)
    parser.add_argument("--jobs", nargs="+", default=["install", "unchanged", "whatif", "update"])
    args = parser.parse_args()
    deploy = [*bench.WINE, bench.DEPLOY, "install", bench.TITLE]
    subprocess.run(["wineserver", "-p"], env=bench.ENV)
    try:
        bench.lay_out_versions(args.count)
        for job in args.jobs:
            bench.clean()
            if job == "bare":
                profile(job, [*bench.WINE, "C:\\bench\\Typeloader.exe", "/title:" + bench.TITLE])
                continue
            if job == "install":
                profile(job, deploy + ["/version:1"])
                continue
            subprocess.run(deploy + ["/version:1"], cwd=bench.BENCH_DIR, env=bench.ENV, stdout=subprocess.DEVNULL)
            if job == "unchanged":
                profile(job, deploy + ["/version:1"])
            elif job == "whatif":
                profile(job, deploy + ["/version:1", "/whatif"])
            elif job == "update":
                bench.use_version(2)
                try:
                    profile(job, deploy + ["/version:2"])
                finally:
                    bench.use_version(1)
        bench.clean()
    finally:
        subprocess.run(["wineserver", "-k"], env=bench.ENV)


if __name__ == "__main__":
    main()
