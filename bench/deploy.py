#!/usr/bin/python3
"""Typeloader-Deploy.exe against the bare Typeloader.exe under one Wine prefix,
for fonts of 4 KiB, side by side in rounds that take turns at which job goes
first:

- bare: Typeloader.exe's install on a clean machine;
- deploy: `install <title> /version:1` on a clean machine, the same again
  with nothing to change, then `install <title> /version:1 /whatif` (the
  version installed, so the plan is empty);
- update: from version 1 of the title installed (all N fonts), `install
  <title> /version:2` of a bundle that keeps N - 2*(N//6) fonts as they are,
  gives N//6 new bytes under the same names, drops N//6 and adds N//6, so
  that both versions hold N fonts;

and the time and peak memory of the bare and deploy installs for a few large
fonts.

The state each job starts from: every job starts with clean(), which leaves
the machine with nothing of the title: Typeloader.exe's own uninstall (the
registrations), then from the Linux side the bench's copies in the Fonts
folder and the kept copies under Program Files\Typeloader, and Wine's
reg.exe deletes the Apps & features entry. The deploy program's uninstall is
not used for this: after a bare install there is no entry or kept copy for it
to act on, and one way of cleaning for every job keeps the rounds
comparable. The update then installs version 1 (untimed; it must answer
`changed`), moves version 2's bundle into C:\bench\Font by renaming folders
(no file is written between the two runs), times the update and moves
version 1's bundle back. Every deploy run's last output line is checked:
`changed` for an install and the update, `unchanged` for the run again and
the /whatif.

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
KEPT_ROOT = os.path.join(PREFIX, "drive_c", "Program Files", "Typeloader")
# The bundles of both versions while they are not C:\bench\Font.
VERSIONS_DIR = os.path.join(PREFIX, "drive_c", "bench-versions")
TITLE = "BenchDeploy"
ENTRY_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Typeloader " + TITLE
DEPLOY = "C:\\bench\\Typeloader-Deploy.exe"
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


def lay_out(count, size, font_dir=None, names=None, seed=None):
    """`count` fonts of `size` bytes in C:\\bench\\Font (or `font_dir`), named by
    number (or by `names`); the same count and seed give the same bytes."""
    font_dir = font_dir or os.path.join(BENCH_DIR, "Font")
    shutil.rmtree(font_dir, ignore_errors=True)
    os.makedirs(font_dir)
    rng = random.Random(count if seed is None else seed)
    block = rng.randbytes(1 << 20)
    for i, number in enumerate(names if names is not None else range(count)):
        start = rng.randrange(1024)
        data = (block * (size // len(block) + 2))[start:start + size - 28]
        with open(os.path.join(font_dir, "%s%06d.ttf" % (FONT_PREFIX, number)), "wb") as f:
            f.write(font_bytes(data))


def update_split(count):
    """Version 2 against version 1 (fonts 0..count-1): how many stay as they
    are, get new bytes, are dropped (and as many added)."""
    changed = count // 6
    return count - 2 * changed, changed, changed


def lay_out_versions(count):
    """C:\\bench\\Font as version 1 (the fonts every other job installs) and
    version 2's bundle in VERSIONS_DIR\\v2: the first fonts as they are, the
    next ones under the same names with other bytes, the rest dropped, and as
    many new names added."""
    lay_out(count, 4096)
    same, replaced, dropped = update_split(count)
    v2 = os.path.join(VERSIONS_DIR, "v2")
    lay_out(replaced + dropped, 4096, v2, list(range(same, same + replaced)) + list(range(count, count + dropped)),
            seed=count + 1)
    for number in range(same):
        name = "%s%06d.ttf" % (FONT_PREFIX, number)
        shutil.copyfile(os.path.join(BENCH_DIR, "Font", name), os.path.join(v2, name))
    assert len(os.listdir(v2)) == count


def use_version(version):
    """Moves a version's bundle into C:\\bench\\Font (and the other one out)."""
    font_dir = os.path.join(BENCH_DIR, "Font")
    other = os.path.join(VERSIONS_DIR, "v1" if version == 2 else "v2")
    os.rename(font_dir, other)
    os.rename(os.path.join(VERSIONS_DIR, "v%d" % version), font_dir)


def clean():
    """Nothing of the title left: its registrations, copies, Apps & features
    entry and kept copy gone; Wine's own fonts stay."""
    subprocess.run([*WINE, "C:\\bench\\Typeloader.exe", "/uninstall", "/title:" + TITLE], cwd=BENCH_DIR, env=ENV,
                   stdout=subprocess.DEVNULL)
    for name in os.listdir(FONTS_DIR):
        if name.startswith(FONT_PREFIX):
            os.remove(os.path.join(FONTS_DIR, name))
    if os.path.isdir(KEPT_ROOT) and os.listdir(KEPT_ROOT):
        for name in os.listdir(KEPT_ROOT):
            shutil.rmtree(os.path.join(KEPT_ROOT, name))
        subprocess.run([*WINE, "reg", "delete", ENTRY_KEY, "/f"], cwd=BENCH_DIR, env=ENV,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


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
    turns at which job goes first."""
    times = {"bare install": [], "deploy install": [], "deploy unchanged": [], "deploy whatif": [], "deploy update": []}

    def deploy_run(job, arguments, word, timed_round):
        took, out = timed([*WINE, DEPLOY, "install", TITLE, *arguments])
        if last_word(out) != word:
            sys.exit("%s at N=%d: %s" % (job, count, out[-400:]))
        if timed_round and job in times:
            times[job].append(took)

    def bare(timed_round):
        clean()
        took, _ = timed([*WINE, "C:\\bench\\Typeloader.exe", "/title:" + TITLE])
        if timed_round:
            times["bare install"].append(took)

    def deploy(timed_round):
        clean()
        deploy_run("deploy install", ["/version:1"], "changed", timed_round)
        deploy_run("deploy unchanged", ["/version:1"], "unchanged", timed_round)
        deploy_run("deploy whatif", ["/version:1", "/whatif"], "unchanged", timed_round)

    def update(timed_round):
        clean()
        deploy_run("version 1 before the update", ["/version:1"], "changed", False)
        use_version(2)
        try:
            deploy_run("deploy update", ["/version:2"], "changed", timed_round)
        finally:
            use_version(1)

    jobs = (bare, deploy, update)
    for repeat in range(-1, repeats):  # one untimed round first: the files come into the cache
        turn = repeat % len(jobs)
        for job in jobs[turn:] + jobs[:turn]:
            job(repeat >= 0)
        print("  N=%d repeat %d/%d" % (count, repeat + 1, repeats), flush=True)
    clean()
    medians = {job: statistics.median(values) for job, values in times.items()}
    for job in ("deploy install", "deploy unchanged", "deploy whatif", "deploy update"):
        medians[job + "/"] = statistics.median(a / b for a, b in zip(times[job], times["bare install"]))
    medians["whatif/unchanged"] = statistics.median(a / b for a, b in zip(times["deploy whatif"], times["deploy unchanged"]))
    medians["runs"] = times
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
            lay_out_versions(count)
            rows.append((count, measure(count, args.repeats)))
        shutil.rmtree(VERSIONS_DIR, ignore_errors=True)
        large_times, peaks = large_fonts(args.large_count, args.large_mib << 20, 3)
    finally:
        subprocess.run(["wineserver", "-k"], env=ENV)

    report = ["Medians of %d rounds (the jobs take turns at going first), whole-process wall time from the Linux side, fonts of 4 KiB;" % args.repeats,
              "the ratios are the medians of each round's own ratios.",
              "%-8s %14s %16s %18s %10s %12s" % ("fonts", "bare install", "deploy install", "deploy unchanged",
                                                  "install/", "unchanged/")]
    for count, medians in rows:
        bare = medians["bare install"]
        report.append("%-8d %11.2f s %13.2f s %15.2f s %9.2fx %11.2fx" % (
            count, bare, medians["deploy install"], medians["deploy unchanged"],
            medians["deploy install/"], medians["deploy unchanged/"]))
    report += ["",
               "The update (version 1 installed; version 2 keeps N-2*(N//6) fonts, gives N//6 new bytes, drops N//6, adds N//6)",
               "and /whatif of the version installed; targets: update/ <= 2.5x, unchanged/ <= 1x, whatif <= unchanged.",
               "%-8s %14s %10s %14s %10s %18s" % ("fonts", "deploy update", "update/", "deploy whatif", "whatif/",
                                                   "whatif/unchanged")]
    for count, medians in rows:
        report.append("%-8d %11.2f s %9.2fx %11.2f s %9.2fx %17.2fx" % (
            count, medians["deploy update"], medians["deploy update/"], medians["deploy whatif"],
            medians["deploy whatif/"], medians["whatif/unchanged"]))
    report.append("")
    for count, medians in rows:
        report.append("Each round at N=%d (s): %s" % (count, "; ".join(
            "%s %s" % (job, " ".join("%.2f" % t for t in values)) for job, values in medians["runs"].items())))
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
