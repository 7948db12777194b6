"""Private Wine prefixes for running the real Typeloader.exe.

A template prefix is made once per build folder (wineboot takes seconds);
each test module works in its own copy, with its own wineserver. The
end-to-end tests and the release checks both use this one harness: their
conftest.py files import the fixtures and the failure report below.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pytest

FONTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11


# Every Wine process of the test bed starts without address randomization.
# Debian's wine64 loader is a non-PIE executable at 0x7d000000 shipped without
# Wine's preloader, so nothing reserves Wine's fixed areas before the C runtime
# starts its brk heap, which Linux places at random up to 1 GiB above the
# loader. About one start in a few thousand gets that heap on the page where
# Wine maps the shared user data, 0x7ffe0000: the process ends at once with
# exit status 1 and no output ("failed to map the shared user data: c0000018",
# an error message WINEDEBUG=-all hides), and a CreateProcessW that starts such
# a process fails with ERROR_INTERNAL_ERROR (1359). Rarer, such an early death
# ends in glibc's own "Inconsistency detected by ld.so: dl-fini.c: 87" on
# stderr and exit status 127, also before any Windows code could run (13 ms
# where timed; never seen without randomization). Without randomization the
# heap starts right after the loader, 47 MiB below that page. Windows has no
# such failure; a program that really ended that way would still fail its test,
# since no run is ever repeated.
LAUNCH = ["setarch", "-R"]


def work_dir():
    return pathlib.Path(os.environ.get("E2E_WORK_DIR", "build/windows/e2e")).resolve()


def base_environment(prefix):
    env = dict(os.environ)
    # E2E_WINEDEBUG=+process,+loaddll,+seh traces every run, to chase a failure.
    env.update(WINEPREFIX=str(prefix), WINEDEBUG=os.environ.get("E2E_WINEDEBUG", "-all"), WINEARCH="win64",
               LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    return env


def make_template():
    """The ready-made prefix that every test copies; made once."""
    template = work_dir() / "template"
    if (template / "system.reg").exists() and (template / ".ready").exists():
        return template
    shutil.rmtree(template, ignore_errors=True)
    template.parent.mkdir(parents=True, exist_ok=True)
    env = base_environment(template)
    subprocess.run([*LAUNCH, "wineboot", "-i"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
    subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=120)
    (template / ".ready").touch()
    return template


def stop_server(prefix):
    """Ends every Wine process of a prefix and waits until its server has exited."""
    env = base_environment(prefix)
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)


def hex16(text):
    return text.encode("utf-16-le", "surrogatepass").hex()


def unhex16(text):
    return bytes.fromhex(text).decode("utf-16-le", "surrogatepass")


def quote(argument):
    """One argument written so that CommandLineToArgvW splits it back unchanged."""
    out, slashes = '"', 0
    for unit in argument:
        if unit == "\\":
            slashes += 1
            continue
        out += "\\" * (slashes * 2 + 1 if unit == '"' else slashes) + unit
        slashes = 0
    return out + "\\" * (slashes * 2) + '"'


TLTEST_EXIT = re.compile(rb"tltest: program exit code (-?\d+)\r?\n")


def tltest_exit_code(done):
    """The exit code tltest got from GetExitCodeProcess for the program it ran,
    or None when tltest never got that far."""
    found = TLTEST_EXIT.findall(done.stderr)
    return int(found[-1]) if found else None


class WineStartFailure(AssertionError):
    """Wine did not run the program to its end, or lost its exit status: not
    something the program did."""


def program_result(done):
    """(exit code, stdout) of the program tltest ran, checked against what tltest
    saw: a run in which Wine never started tltest or the program, or handed back
    another status than the program's, fails with the whole report."""
    program = tltest_exit_code(done)
    if program is None or program & 0xFF != done.returncode & 0xFF:
        raise WineStartFailure(describe_run(done))
    return program, done.stdout


def _readable_argument(argument, drive_c):
    """A tltest argument as the text it stands for: hex of UTF-16, or @file of hex."""
    text = argument
    if argument.startswith("@C:\\") and drive_c is not None:
        try:
            text = (drive_c / argument[4:]).read_text(encoding="ascii")
        except OSError:
            return argument
    if len(text) % 4 == 0 and re.fullmatch(r"[0-9a-f]+", text):
        decoded = repr(unhex16(text))
        return decoded if len(decoded) < 400 else f"{decoded[:200]}...{decoded[-100:]} ({len(text) // 4} units)"
    return argument if len(argument) < 400 else argument[:200] + "..."


def describe_run(done):
    """One run of `wine` as a failure report shows it: the command line, the exit
    status exactly as Wine returned it, what tltest saw of the program, the time,
    Wine's stderr and the start of stdout."""
    args = [str(a) for a in done.args]
    drive_c = getattr(done, "drive_c", None)
    program = args.index("wine") + 1 if "wine" in args else 0
    tltest = program < len(args) and args[program].endswith("tltest.exe")
    shown = args[:program + 1] + [_readable_argument(a, drive_c) for a in args[program + 1:]] if tltest else args
    code = done.returncode
    status = (f"killed by signal {-code}" if code < 0 else f"{code} (0x{code:x})")
    lines = ["$ " + " ".join(shown), f"exit status as wine returned it: {status}"]
    if tltest and "run" in args[program + 1:]:
        program = tltest_exit_code(done)
        lines.append("program exit code seen by tltest (GetExitCodeProcess): " +
                     ("none: tltest never saw the program end" if program is None else str(program)))
    if hasattr(done, "seconds"):
        lines.append(f"time: {done.seconds:.3f} s")
    err = done.stderr.decode("utf-8", "replace")
    lines.append(f"stderr ({len(done.stderr)} bytes):" + ("" if err else " none"))
    lines += ["  " + line for line in (err if len(err) < 4000 else err[:1000] + "\n...\n" + err[-3000:]).splitlines()]
    lines.append(f"stdout ({len(done.stdout)} bytes): {done.stdout[:300]!r}" + ("..." if len(done.stdout) > 300 else ""))
    return "\n".join(lines)


def registry_difference(before, after):
    """The fonts key's change as lines: + added, - removed, ~ changed value."""
    def show(value):
        name, kind, data = value
        text = repr(name) if len(name) < 200 else f"{name[:60]!r}... ({len(name)} units)"
        return f"{text} type {kind} data {data[:80].hex()}" + ("..." if len(data) > 80 else "")
    old = {name: (name, kind, data) for name, kind, data in before}
    new = {name: (name, kind, data) for name, kind, data in after}
    lines = [f"- {show(old[name])}" for name in old if name not in new]
    lines += [f"+ {show(new[name])}" for name in new if name not in old]
    lines += [f"~ {show(old[name])} -> type {new[name][1]} data {new[name][2][:80].hex()}"
              for name in old if name in new and old[name] != new[name]]
    if not lines and [v[0] for v in before] != [v[0] for v in after]:
        lines.append("same values, enumerated in another order")
    return "\n".join(lines) or "no change"


class Wine:
    """One private prefix with Typeloader.exe in C:\\Typeloader."""

    def __init__(self, name, exe=None, tltest=None):
        self.prefix = work_dir() / "prefixes" / name
        if self.prefix.exists():
            # A server left from an interrupted run must be gone, not just told
            # to go, before its folder is replaced: the new copy usually gets
            # the same inode, and Wine finds a prefix's server by device and
            # inode, so a server still shutting down would serve the new copy.
            stop_server(self.prefix)
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        template = make_template()
        # Copy only a template no server is writing.
        subprocess.run(["wineserver", "-w"], env=base_environment(template), check=True, timeout=120)
        shutil.copytree(template, self.prefix, symlinks=True)
        self.env = base_environment(self.prefix)
        self.journal = []  # every run of `wine` since the test began
        self.drive_c = self.prefix / "drive_c"
        self.program_dir = self.drive_c / "Typeloader"
        self.program_dir.mkdir(exist_ok=True)
        self.font_dir = self.program_dir / "Font"
        self.fonts_folder = self.drive_c / "windows" / "Fonts"
        exe = exe or os.environ["TYPELOADER_EXE"]
        shutil.copy2(exe, self.program_dir / "Typeloader.exe")
        self.tltest = self.drive_c / "tltest.exe"
        shutil.copy2(tltest or os.environ["TLTEST_EXE"], self.tltest)
        subprocess.run([*LAUNCH, "wineserver", "-p"], env=self.env, check=True)
        # Start Wine's services now, with no pipes for them to inherit.
        subprocess.run([*LAUNCH, "wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def close(self):
        stop_server(self.prefix)

    def wine(self, *args, timeout=600):
        """Runs `wine ARGS` (a Windows path or a Unix one) and keeps the run in
        the journal: a CompletedProcess with stdout and stderr bytes, `seconds`."""
        # Output goes through files, not pipes: Wine's background services
        # inherit the pipes and would hold them open long after the program ends.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            started = time.monotonic()
            done = subprocess.run([*LAUNCH, "wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())
        done.seconds = time.monotonic() - started
        done.drive_c = self.drive_c
        self.journal.append(done)
        return done

    def failure_report(self, key_at_start=None):
        """Every Wine run since the test began, and how the fonts key changed:
        enough to tell a process Wine failed to start from a program that failed."""
        lines = [f"WINEPREFIX={self.prefix}"]
        for done in self.journal[-12:]:
            lines += ["", describe_run(done)]
        if len(self.journal) > 12:
            lines.insert(1, f"({len(self.journal) - 12} earlier runs left out)")
        if key_at_start is not None:
            try:
                key_now = self.values(journal=False)
            except Exception as error:  # the report must not hide the failure
                lines += ["", f"fonts key now: unreadable ({error})"]
            else:
                lines += ["", "fonts key, start of the test -> now:", registry_difference(key_at_start, key_now)]
        return "\n".join(lines)

    def run(self, *args, program=r"C:\Typeloader\Typeloader.exe"):
        """Runs the program with arguments quoted by Wine; (exit code, stdout bytes)."""
        done = self.wine(program, *args)
        return done.returncode, done.stdout

    def hex_argument(self, text):
        """The hex of a text for tltest; a long one goes through a file, since
        its hex would not fit Windows' command line."""
        if len(text) < 2000:
            return hex16(text)
        self.hex_files = getattr(self, "hex_files", 0) + 1
        name = f"tltest-arg-{self.hex_files}.hex"
        (self.drive_c / name).write_text(hex16(text), encoding="ascii")
        return "@C:\\" + name

    def run_command_line(self, command_line, program=r"C:\Typeloader\Typeloader.exe", folder=None,
                         lock=None, shared=False):
        """Runs the program with exactly this command line (lone surrogates too);
        with `lock`, a Windows path held open meanwhile: without sharing, or
        `shared` for reading as a loaded font is."""
        args = ["run", self.hex_argument(program), self.hex_argument(command_line)]
        if folder:
            args.append(self.hex_argument(folder))
        if lock:
            args = ["lockshared" if shared else "lock", hex16(lock), *args]
        return program_result(self.wine(self.tltest, *args))

    def values(self, journal=True):
        """The font registration key as [(name, type, data bytes)] in enumeration order."""
        saved = list(self.journal)
        done = self.wine(self.tltest, "dump")
        if not journal:
            self.journal = saved
        assert done.returncode == 0, describe_run(done)
        values = []
        for line in done.stdout.decode("ascii").splitlines():
            kind, name, data = (line.split(" ") + [""])[:3]
            values.append((unhex16(name), int(kind), bytes.fromhex(data)))
        return values

    def key(self, path):
        """The values of a key under HKLM as {name: (type, data bytes)}, or None
        when there is no such key."""
        done = self.wine(self.tltest, "dump", self.hex_argument(path))
        if done.returncode == 12:
            return None
        assert done.returncode == 0, describe_run(done)
        values = {}
        for line in done.stdout.decode("ascii").splitlines():
            kind, name, data = (line.split(" ") + [""])[:3]
            values[unhex16(name)] = (int(kind), bytes.fromhex(data))
        return values

    def subkeys(self, path):
        """The names of a key's subkeys under HKLM, or None when there is no such key."""
        done = self.wine(self.tltest, "keys", self.hex_argument(path))
        if done.returncode == 12:
            return None
        assert done.returncode == 0, describe_run(done)
        return [unhex16(line) for line in done.stdout.decode("ascii").split()]

    def delete_key(self, path):
        done = self.wine(self.tltest, "deletekey", self.hex_argument(path))
        assert done.returncode == 0, describe_run(done)

    def strings(self):
        """The REG_SZ values of the key as {name: text}."""
        return {name: data.decode("utf-16-le", "surrogatepass").rstrip("\0")
                for name, kind, data in self.values() if kind == REG_SZ}

    def set_value(self, name, kind, data, key=None):
        """A value of the fonts key, or of `key` under HKLM (made when missing)."""
        if isinstance(data, str):
            data = (data + "\0").encode("utf-16-le", "surrogatepass")
        done = self.wine(self.tltest, "set", kind, self.hex_argument(name), data.hex(),
                         *([self.hex_argument(key)] if key else []))
        assert done.returncode == 0, describe_run(done)

    def delete_value(self, name):
        return self.wine(self.tltest, "delete", self.hex_argument(name)).returncode == 0

    def find(self, pattern):
        """What the platform's file finder lists for a pattern, in its order."""
        done = self.wine(self.tltest, "find", hex16(pattern))
        return [unhex16(line) for line in done.stdout.decode("ascii").split()]

    # The names the release checks knew.
    def families(self):
        done = self.wine(self.tltest, "families")
        return {unhex16(line) for line in done.stdout.decode("ascii").split()}


def private_machine(request, name):
    """The body of a fixture that gives its tests one private prefix: each
    prefix is a whole copy of the template (about 700 MB, mostly Wine's own
    DLLs), so it is removed once every test that used it has passed; a failed
    run keeps it for a look (its path is in the failure report)."""
    failed_before = request.session.testsfailed
    machine = Wine(name)
    yield machine
    machine.close()
    if request.session.testsfailed == failed_before:
        shutil.rmtree(machine.prefix)


@pytest.fixture(autouse=True)
def wine_journal(request):
    """Starts each test's record of Wine runs and keeps the fonts key as it was,
    for the failure report."""
    if "wine" not in request.fixturenames:
        yield
        return
    machine = request.getfixturevalue("wine")
    machine.journal = []
    request.node.key_at_start = machine.values(journal=False)
    yield


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test, setup or teardown reports every Wine run it made (command
    line, exit status as Wine returned it, time, Wine's stderr) and the change
    of the fonts key since the test began."""
    outcome = yield
    report = outcome.get_result()
    machine = getattr(item, "funcargs", {}).get("wine")
    if report.failed and isinstance(machine, Wine):
        report.sections.append((f"Wine runs of this test ({report.when})",
                                machine.failure_report(getattr(item, "key_at_start", None))))


if __name__ == "__main__":
    if sys.argv[1:] == ["template"]:
        print(make_template())
    else:
        sys.exit("usage: wine_prefix.py template")
