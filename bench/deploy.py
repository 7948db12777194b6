#!/usr/bin/python3
"""Typeloader-Deploy.exe against the bare Typeloader.exe under one Wine prefix:
install, and install again with nothing to change, side by side (A B A B),
for fonts of 4 KiB; and the time and peak memory of both for a few large fonts.

Run from the repository root:  /usr/bin/python3 bench/deploy.py [--counts 500 5000] [--repeats 4]
Everything it makes lives under build/bench-deploy (its own Wine prefix included).
"""
import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "bench-deploy")
PREFIX = os.path.join(WORK, "prefix")
BENCH_DIR = os.path.join(PREFIX, "drive_c", "bench")  # C:\bench
FONTS_DIR = os.path.join(PREFIX, "drive_c", "windows", "Fonts")
TITLE = "BenchDeploy"
FONT_PREFIX = "BenchDeploySans"
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all")
# Debian's wine64 lacks its preloader: without a fixed layout a start now and
# then fails (see tests/e2e/wine_prefix.py).
WINE = ["setarch", "-R", "wine"]


def run(command, **kwargs):
    return subprocess.run(command, check=True, env=ENV, **kwargs)


def build():
    build_dir = os.path.join(WORK, "build")
    run(["cmake", "--preset", "windows", "-B", build_dir], cwd=ROOT, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build_dir, "--target", "Typeloader", "Typeloader-Deploy-wine"], cwd=ROOT, stdout=subprocess.DEVNULL)
    # The test bed's link: the shipped exe refuses Wine's files (tests/e2e/wine_account.cpp).
    return (os.path.join(build_dir, "Typeloader.exe"),
            os.path.join(build_dir, "tests", "e2e", "wine-account", "Typeloader-Deploy.exe"))


def font_bytes(data):
    """A whole font of one 'glyf' table holding `data`, its checksum right."""
    padded = data + bytes(-len(data) % 4)
    checksum = sum(struct.unpack(">%dI" % (len(padded) // 4), padded)) & 0xFFFFFFFF
    return struct.pack(">IHHHH4sIII", 0x00010000, 1, 16, 0, 0, b"glyf", checksum, 28, len(data)) + data


def lay_out(count, size):
    font_dir = os.path.join(BENCH_DIR, "Font")
    shutil.rmtree(font_dir, ignore_errors=True)
    os.makedirs(font_dir)
    block = os.urandom(1 << 20)
    rng = random.Random(count)
    for i in range(count):
        start = rng.randrange(1024)
        data = (block * (size // len(block) + 2))[start:start + size - 28]
        with open(os.path.join(font_dir, "%s%06d.ttf" % (FONT_PREFIX, i)), "wb") as f:
            f.write(font_bytes(data))


def clean():
    """The bench's registrations and copies gone; Wine's own stay."""
    subprocess.run([*WINE, "C:\\bench\\Typeloader.exe", "/uninstall", "/title:" + TITLE], cwd=BENCH_DIR, env=ENV,
                   stdout=subprocess.DEVNULL)
    for name in os.listdir(FONTS_DIR):
        if name.startswith(FONT_PREFIX):
            os.remove(os.path.join(FONTS_DIR, name))


def timed(argv):
    start = time.perf_counter()
    done = subprocess.run(argv, cwd=BENCH_DIR, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, done.stdout


def last_word(output):
    return output.decode("utf-8", "replace").rstrip("\r\n").split("\r\n")[-1]


def measure(count, repeats):
    """Medians of each job's time, and of each round's ratios to that round's
    bare install: a round's runs meet the same state of the disk, which drifts
    over a session (file creation slows as deletions pile up). Within a round
    each run meets the deletions of the runs before it, so the rounds take
    turns at which program goes first."""
    times = {"bare install": [], "deploy install": [], "deploy unchanged": []}

    def bare(timed_round):
        clean()
        took, _ = timed([*WINE, "C:\\bench\\Typeloader.exe", "/title:" + TITLE])
        if timed_round:
            times["bare install"].append(took)

    def deploy(timed_round):
        clean()
        took, out = timed([*WINE, "C:\\bench\\Typeloader-Deploy.exe", "install", TITLE])
        if last_word(out) != "changed":
            sys.exit("deploy install at N=%d: %s" % (count, out[-400:]))
        if timed_round:
            times["deploy install"].append(took)
        took, out = timed([*WINE, "C:\\bench\\Typeloader-Deploy.exe", "install", TITLE])
        if last_word(out) != "unchanged":
            sys.exit("deploy rerun at N=%d: %s" % (count, out[-400:]))
        if timed_round:
            times["deploy unchanged"].append(took)

    for repeat in range(-1, repeats):  # one untimed round first: the files come into the cache
        for job in (bare, deploy) if repeat % 2 == 0 else (deploy, bare):
            job(repeat >= 0)
        print("  N=%d repeat %d/%d" % (count, repeat + 1, repeats), flush=True)
    clean()
    medians = {job: statistics.median(values) for job, values in times.items()}
    for job in ("deploy install", "deploy unchanged"):
        medians[job + "/"] = statistics.median(a / b for a, b in zip(times[job], times["bare install"]))
    return medians


def large_fonts(count, size, repeats):
    """For a few large fonts: the median time of each job over `repeats` rounds,
    and the peak resident memory in KiB of each program's Wine process (GNU
    time's %M, the largest of its rounds)."""
    lay_out(count, size)
    times = {"bare install": [], "deploy install": [], "deploy unchanged": []}
    peaks = {"bare install": 0, "deploy install": 0}

    def measured(job, argv, word=None):
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", *WINE, *argv], cwd=BENCH_DIR, env=ENV,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        times[job].append(time.perf_counter() - start)
        if word and last_word(done.stdout) != word:
            sys.exit("%s of %d large fonts: %s" % (job, count, done.stdout[-400:]))
        if job in peaks:
            peaks[job] = max(peaks[job], int(done.stderr.decode().strip().splitlines()[-1]))

    for _ in range(repeats):
        clean()
        measured("bare install", ["C:\\bench\\Typeloader.exe", "/title:" + TITLE])
        clean()
        measured("deploy install", ["C:\\bench\\Typeloader-Deploy.exe", "install", TITLE], "changed")
        measured("deploy unchanged", ["C:\\bench\\Typeloader-Deploy.exe", "install", TITLE], "unchanged")
    clean()
    return {job: statistics.median(values) for job, values in times.items()}, peaks


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--counts", type=int, nargs="+", default=[500, 5000])
    parser.add_argument("--repeats", type=int, default=4)
    parser.add_argument("--large-count", type=int, default=24)
    parser.add_argument("--large-mib", type=int, default=16)
    args = parser.parse_args()
    if not shutil.which("time", path="/usr/bin"):
        sys.exit("needs GNU time: apt-get install time")

    typeloader, deploy = build()
    os.makedirs(WORK, exist_ok=True)
    if not os.path.isdir(os.path.join(PREFIX, "drive_c")):
        run(["setarch", "-R", "wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=ENV)
    try:
        os.makedirs(BENCH_DIR, exist_ok=True)
        shutil.copy(typeloader, os.path.join(BENCH_DIR, "Typeloader.exe"))
        shutil.copy(deploy, os.path.join(BENCH_DIR, "Typeloader-Deploy.exe"))
        rows = []
        for count in args.counts:
            lay_out(count, 4096)
            rows.append((count, measure(count, args.repeats)))
        large_times, peaks = large_fonts(args.large_count, args.large_mib << 20, 3)
    finally:
        subprocess.run(["wineserver", "-k"], env=ENV)

    report = ["Medians of %d alternating runs, whole-process wall time from the Linux side, fonts of 4 KiB;" % args.repeats,
              "the ratios are the medians of each round's own ratios.",
              "%-8s %14s %16s %18s %10s %12s" % ("fonts", "bare install", "deploy install", "deploy unchanged",
                                                  "install/", "unchanged/")]
    for count, medians in rows:
        bare = medians["bare install"]
        report.append("%-8d %11.2f s %13.2f s %15.2f s %9.2fx %11.2fx" % (
            count, bare, medians["deploy install"], medians["deploy unchanged"],
            medians["deploy install/"], medians["deploy unchanged/"]))
    report.append("%d fonts of %d MiB, medians of 3: bare install %.2f s, deploy install %.2f s, deploy unchanged %.2f s" % (
        args.large_count, args.large_mib, large_times["bare install"], large_times["deploy install"],
        large_times["deploy unchanged"]))
    report.append("Peak memory, %d fonts of %d MiB: bare install %.1f MiB, deploy install %.1f MiB" % (
        args.large_count, args.large_mib, peaks["bare install"] / 1024, peaks["deploy install"] / 1024))
    text = "\n".join(report)
    print("\n" + text)
    with open(os.path.join(WORK, "results.txt"), "w") as f:
        f.write(text + "\n")


if __name__ == "__main__":
    main()
