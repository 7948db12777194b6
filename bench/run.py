#!/usr/bin/python3
"""Typeloader benchmark under Wine: Typeloader against the floor (the bare
Win32 calls its jobs need) and against a batch script of copy and reg add.

Run from the repository root:  /usr/bin/python3 bench/run.py [--quick]
Everything it makes lives under build/bench (its own Wine prefix included).
"""
import argparse
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "bench")
PREFIX = os.path.join(WORK, "prefix")
BENCH_DIR = os.path.join(PREFIX, "drive_c", "bench")        # C:\bench
FONTS_DIR = os.path.join(PREFIX, "drive_c", "windows", "Fonts")
TITLE = "Bench"
FONT_PREFIX = "BenchSans"  # every generated font name starts with it
KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts"
MINGW_CC = "x86_64-w64-mingw32-gcc-win32"  # the one compiler the build takes
# The link flags of Typeloader.exe (top-level CMakeLists.txt).
LINK_FLAGS = ["-municode", "-static", "-s", "-Wl,--gc-sections", "-Wl,--no-insert-timestamp"]

ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all")


def run(command, **kwargs):
    return subprocess.run(command, check=True, env=ENV, **kwargs)


def build():
    os.makedirs(WORK, exist_ok=True)
    tl_build = os.path.join(WORK, "typeloader")
    run(["cmake", "--preset", "windows", "-B", tl_build], cwd=ROOT, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", tl_build, "--target", "Typeloader"], cwd=ROOT, stdout=subprocess.DEVNULL)
    for name in ("floor", "empty"):
        run([MINGW_CC, "-std=c11", "-O3", "-DNDEBUG", "-Wall", "-Wextra", *LINK_FLAGS,
             os.path.join(ROOT, "bench", name + ".c"), "-ladvapi32", "-lshell32", "-luuid",
             "-o", os.path.join(WORK, name + ".exe")])
    table = os.path.join(WORK, "font_table_timing")
    run(["g++", "-std=c++20", "-O2", "-DNDEBUG", "-I", ROOT,
         os.path.join(ROOT, "bench", "font_table_timing.cpp"),
         os.path.join(ROOT, "fonts", "font_table.cpp"), "-o", table])
    return os.path.join(tl_build, "Typeloader.exe")


def start_wine():
    if not os.path.isdir(os.path.join(PREFIX, "drive_c")):
        print("making the Wine prefix", PREFIX, flush=True)
        run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A persistent server: no server start-up in the timed runs.
    subprocess.run(["wineserver", "-p"], env=ENV)  # already running is fine
    run(["wine", "cmd", "/c", "exit"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_wine():
    subprocess.run(["wineserver", "-k"], env=ENV)


def lay_out(count, sizes):
    """N font files in C:\\bench\\Font; sizes is 'small' (4 KiB) or 'real'."""
    font_dir = os.path.join(BENCH_DIR, "Font")
    shutil.rmtree(font_dir, ignore_errors=True)
    os.makedirs(font_dir)
    rng = random.Random(count)
    block = os.urandom(1 << 20)
    total = 0
    for i in range(count):
        # Realistic: a few hundred KiB, 60 to 700 KiB.
        size = 4096 if sizes == "small" else rng.randint(60, 700) * 1024
        header = b"\x00\x01\x00\x00" + bytes(8)  # a TrueType sfnt version
        body = (block * (size // len(block) + 1))[rng.randrange(1024):][: size - len(header)]
        with open(os.path.join(font_dir, "%s%06d.ttf" % (FONT_PREFIX, i)), "wb") as f:
            f.write(header + body)
        total += size
    return total


def clean_copies():
    """Removes the bench's copies from the Fonts folder; Wine's own stay."""
    if not os.path.isdir(FONTS_DIR):
        return
    for name in os.listdir(FONTS_DIR):
        if name.startswith(FONT_PREFIX):
            os.remove(os.path.join(FONTS_DIR, name))


def timed(argv, out_path):
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        subprocess.run(argv, cwd=BENCH_DIR, env=ENV, stdout=out, stderr=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start


def lines_of(path):
    with open(path, "rb") as f:
        return f.read().split(b"\r\r\n")[:-1]


def check(out_path, job, count):
    lines = lines_of(out_path)
    word = b"Install" if job == "install" else b"Uninstall"
    ok = sum(1 for line in lines if line.startswith(word + b" OK : "))
    if len(lines) != count + 1 or ok != count:
        sys.exit("%s: expected %d OK lines, got %d of %d lines" % (out_path, count, ok, len(lines)))
    return sorted(lines[1:])


def measure_pair(count, repeats, programs, label, overwrite=False):
    """Alternates the programs A B A B, install then uninstall each time.
    With overwrite, the copies of the previous install stay in the Fonts
    folder, so every timed install replaces existing files."""
    times = {(p, job): [] for p in programs for job in ("install", "uninstall")}
    outputs = {}
    # One untimed round first: the new files and programs come into the cache.
    for repeat in range(-1, repeats):
        for program in programs:
            exe = "C:\\bench\\%s.exe" % program
            if not overwrite:
                clean_copies()
            for job, args in (("install", ["/title:" + TITLE]),
                              ("uninstall", ["/uninstall", "/title:" + TITLE])):
                out = os.path.join(WORK, "out-%s-%s.txt" % (program, job))
                took = timed(["wine", exe, *args], out)
                outputs[(program, job)] = check(out, job, count)
                if repeat >= 0:
                    times[(program, job)].append(took)
        print("  %s repeat %d/%d done" % (label, repeat + 1, repeats), flush=True)
    clean_copies()
    # Same lines (the order differs: Typeloader's follows its table).
    for job in ("install", "uninstall"):
        if outputs[(programs[0], job)] != outputs[(programs[1], job)]:
            sys.exit("floor and Typeloader %s lines differ at N=%d" % (job, count))
    return {key: statistics.median(value) for key, value in times.items()}


def run_peer(count):
    """copy and reg add per font (reg delete per font to uninstall), one cmd each."""
    fonts = r"C:\windows\Fonts"
    names = ["%s%06d" % (FONT_PREFIX, i) for i in range(count)]
    install = ["@echo off"]
    uninstall = ["@echo off"]
    for name in names:
        install.append(r'copy /y "C:\bench\Font\%s.ttf" "%s\%s.ttf" >nul' % (name, fonts, name))
        install.append(r'reg add "%s" /v "%s %s" /t REG_SZ /d "%s\%s.ttf" /f >nul'
                       % (KEY, TITLE, name, fonts, name))
        uninstall.append(r'reg delete "%s" /v "%s %s" /f >nul' % (KEY, TITLE, name))
    for job, body in (("install", install), ("uninstall", uninstall)):
        with open(os.path.join(BENCH_DIR, "peer_%s.bat" % job), "w", newline="\r\n") as f:
            f.write("\n".join(body) + "\n")
    clean_copies()
    result = {}
    for job in ("install", "uninstall"):
        out = os.path.join(WORK, "out-peer-%s.txt" % job)
        result[job] = timed(["wine", "cmd", "/c", "C:\\bench\\peer_%s.bat" % job], out)
        print("  peer %s N=%d: %.2f s" % (job, count, result[job]), flush=True)
    clean_copies()
    return result


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True, env=ENV).stdout.strip()
    gcc = subprocess.run([MINGW_CC, "-dumpversion"], capture_output=True, text=True).stdout.strip()
    return "%s, %d cores, %s; %s; mingw-w64 gcc %s" % (
        cpu, os.cpu_count(), platform.platform(), wine, gcc)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true",
                        help="N = 100 and 1,000, 3 repeats, realistic sizes at N = 100, peer at N = 20")
    parser.add_argument("--counts", type=int, nargs="+")
    parser.add_argument("--repeats", type=int)
    parser.add_argument("--real-count", type=int, help="N for the realistic-size run (0: none)")
    parser.add_argument("--peer-count", type=int)
    parser.add_argument("--table-counts", type=int, nargs="+", default=[1000, 10000, 100000])
    parser.add_argument("--parts", nargs="+", default=["fresh", "real", "overwrite", "peer", "table"],
                        help="fresh: installs into a Fonts folder without the copies; real: the same "
                        "with realistic sizes; overwrite: with the copies already there; peer; table")
    args = parser.parse_args()
    counts = args.counts or ([100, 1000] if args.quick else [1000, 10000])
    repeats = args.repeats or (3 if args.quick else 5)
    real_count = args.real_count if args.real_count is not None else (100 if args.quick else 1000)
    peer_count = args.peer_count or (20 if args.quick else 100)

    typeloader = build()
    start_wine()
    try:
        os.makedirs(BENCH_DIR, exist_ok=True)
        for program, path in (("Typeloader", typeloader), ("floor", os.path.join(WORK, "floor.exe")),
                              ("empty", os.path.join(WORK, "empty.exe"))):
            shutil.copy(path, os.path.join(BENCH_DIR, program + ".exe"))
        # Leftovers of an interrupted run would change the results.
        subprocess.run(["wine", "C:\\bench\\Typeloader.exe", "/uninstall", "/title:" + TITLE],
                       cwd=BENCH_DIR, env=ENV, stdout=subprocess.DEVNULL)
        clean_copies()

        empty = statistics.median(timed(["wine", "C:\\bench\\empty.exe"], os.devnull)
                                  for _ in range(max(repeats, 5)))
        cases = []
        if "fresh" in args.parts:
            cases += [(n, "small", False) for n in counts]
        if "real" in args.parts and real_count:
            cases.append((real_count, "real", False))
        if "overwrite" in args.parts:
            cases += [(n, "small", True) for n in counts]
        results = []
        for count, sizes, overwrite in cases:
            total = lay_out(count, sizes)
            label = "N=%d %s%s" % (count, "4 KiB" if sizes == "small" else "%.0f KiB avg" % (total / count / 1024),
                                   " over" if overwrite else "")
            print(label, flush=True)
            results.append((count, label, measure_pair(count, repeats, ["Typeloader", "floor"], label, overwrite)))

        # The peer, and Typeloader at the same N for the speed-up.
        if "peer" in args.parts:
            lay_out(peer_count, "small")
            peer = run_peer(peer_count)
            at_peer = measure_pair(peer_count, repeats, ["Typeloader", "floor"], "N=%d" % peer_count)
    finally:
        stop_wine()

    table = ""
    if "table" in args.parts:
        table = subprocess.run([os.path.join(WORK, "font_table_timing"), *map(str, args.table_counts)],
                               capture_output=True, text=True, check=True).stdout

    report = []
    say = report.append
    say("Machine: " + machine())
    say("Typeloader.exe: %d bytes (%.1f KiB)" % (os.path.getsize(typeloader), os.path.getsize(typeloader) / 1024))
    say("Medians of %d alternating runs (A B A B), whole-process wall time from the Linux side." % repeats)
    say("Empty program (Wine's process start and exit): %.1f ms" % (empty * 1e3))
    say("")
    say("%-22s %-9s %10s %10s %7s %12s %12s" % ("case", "job", "Typeloader", "floor", "ratio",
                                                "TL ms/font", "net ms/font"))
    per_font = {}
    for count, label, medians in results:
        for job in ("install", "uninstall"):
            tl, fl = medians[("Typeloader", job)], medians[("floor", job)]
            net = (tl - empty) / count
            per_font[(label, job)] = (count, net)
            say("%-22s %-9s %8.0f ms %7.0f ms %7.3f %12.4f %12.4f" % (
                label, job, tl * 1e3, fl * 1e3, tl / fl, tl / count * 1e3, net * 1e3))
    for kind in ("4 KiB", "4 KiB over"):
        small = sorted((c, l) for c, l, _ in results if l.endswith(kind))
        if len(small) < 2:
            continue
        (c1, l1), (c2, l2) = small[0], small[-1]
        first = [m for c, l, m in results if l == l1][0]
        last = [m for c, l, m in results if l == l2][0]
        say("")
        for job in ("install", "uninstall"):
            say("Per-font growth %s%s, N=%d over N=%d: whole %.3f, net of process start %.3f" % (
                job, " over" if "over" in kind else "", c2, c1,
                (last[("Typeloader", job)] / c2) / (first[("Typeloader", job)] / c1),
                per_font[(l2, job)][1] / per_font[(l1, job)][1]))
    say("")
    for job in ("install", "uninstall") if "peer" in args.parts else ():
        tl = at_peer[("Typeloader", job)]
        say("Peer (cmd /c batch of copy + reg %s per font) at N=%d: %s %.0f ms, Typeloader %.0f ms, "
            "floor %.0f ms: speed-up %.0fx" % ("add" if job == "install" else "delete", peer_count, job,
                                               peer[job] * 1e3, tl * 1e3, at_peer[("floor", job)] * 1e3,
                                               peer[job] / tl))
    say("")
    if table:
        say("Font table alone (host, best of 3; Set of N distinct keys and one Walk):")
        say(table.rstrip())
    text = "\n".join(report)
    print("\n" + text)
    with open(os.path.join(WORK, "results.txt"), "w") as f:
        f.write(text + "\n")


if __name__ == "__main__":
    main()
