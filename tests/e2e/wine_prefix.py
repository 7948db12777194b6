"""Private Wine prefixes for running the real Typeloader.exe.

A template prefix is made once per build folder (wineboot takes seconds);
each test module works in its own copy, with its own wineserver.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

FONTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11


def work_dir():
    return pathlib.Path(os.environ.get("E2E_WORK_DIR", "build/windows/e2e")).resolve()


def base_environment(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
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
    subprocess.run(["wineboot", "-i"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
    subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=120)
    (template / ".ready").touch()
    return template


def hex16(text):
    return text.encode("utf-16-le", "surrogatepass").hex()


def unhex16(text):
    return bytes.fromhex(text).decode("utf-16-le", "surrogatepass")


def console_line(text):
    """The bytes one console line gives: each UTF-16 unit up to U+00FF as that
    byte, every other unit as '?', LF as CR LF, then CR CR LF."""
    units = text.encode("utf-16-le", "surrogatepass")
    out = bytearray()
    for i in range(0, len(units), 2):
        unit = units[i] | units[i + 1] << 8
        out += b"\r\n" if unit == 10 else bytes([unit]) if unit <= 0xFF else b"?"
    return bytes(out) + b"\r\r\n"


def table_hash(key):
    """The install job's table hash: FNV-style, sampling every (n // 10 + 1)th unit."""
    units = [u for u in memoryview(key.encode("utf-16-le", "surrogatepass")).cast("H")]
    stride = len(units) // 10 + 1
    h = 0x811C9DC5
    for i in range(0, len(units), stride):
        h = (h * 0x01000193) & 0xFFFFFFFF
        h ^= units[i]
    return h


def table_walk(items):
    """Keys in the order the table walks them after setting `items` (key, value)
    in order: by ascending bucket, newest key first, a replaced value in place."""
    buckets = [[] for _ in range(17)]
    for key, value in items:
        chain = buckets[table_hash(key) % 17]
        for entry in chain:
            if entry[0] == key:
                entry[1] = value
                break
        else:
            chain.insert(0, [key, value])
    return [(key, value) for chain in buckets for key, value in chain]


class Wine:
    """One private prefix with Typeloader.exe in C:\\Typeloader."""

    def __init__(self, name, exe=None, tltest=None):
        self.prefix = work_dir() / "prefixes" / name
        if self.prefix.exists():  # a server left from an interrupted run
            subprocess.run(["wineserver", "-k"], env=base_environment(self.prefix),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        shutil.copytree(make_template(), self.prefix, symlinks=True)
        self.env = base_environment(self.prefix)
        self.drive_c = self.prefix / "drive_c"
        self.program_dir = self.drive_c / "Typeloader"
        self.program_dir.mkdir(exist_ok=True)
        self.font_dir = self.program_dir / "Font"
        self.fonts_folder = self.drive_c / "windows" / "Fonts"
        exe = exe or os.environ["TYPELOADER_EXE"]
        shutil.copy2(exe, self.program_dir / "Typeloader.exe")
        self.tltest = self.drive_c / "tltest.exe"
        shutil.copy2(tltest or os.environ["TLTEST_EXE"], self.tltest)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        # Start Wine's services now, with no pipes for them to inherit.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        subprocess.run(["wineserver", "-w"], env=self.env)

    def wine(self, *args, timeout=600):
        # Output goes through files, not pipes: Wine's background services
        # inherit the pipes and would hold them open long after the program ends.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())

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
                         lock=None):
        """Runs the program with exactly this command line (lone surrogates too);
        with `lock`, a Windows path held open without sharing meanwhile."""
        args = ["run", self.hex_argument(program), self.hex_argument(command_line)]
        if folder:
            args.append(self.hex_argument(folder))
        if lock:
            args = ["lock", hex16(lock), *args]
        done = self.wine(self.tltest, *args)
        if done.returncode in (100, 101, 102):
            raise RuntimeError(done.stderr.decode(errors="replace"))
        return done.returncode, done.stdout

    def values(self):
        """The font registration key as [(name, type, data bytes)] in enumeration order."""
        done = self.wine(self.tltest, "dump")
        assert done.returncode == 0, done.stderr
        values = []
        for line in done.stdout.decode("ascii").splitlines():
            kind, name, data = (line.split(" ") + [""])[:3]
            values.append((unhex16(name), int(kind), bytes.fromhex(data)))
        return values

    def strings(self):
        """The REG_SZ values of the key as {name: text}."""
        return {name: data.decode("utf-16-le", "surrogatepass").rstrip("\0")
                for name, kind, data in self.values() if kind == REG_SZ}

    def set_value(self, name, kind, data):
        if isinstance(data, str):
            data = (data + "\0").encode("utf-16-le", "surrogatepass")
        done = self.wine(self.tltest, "set", kind, self.hex_argument(name), data.hex())
        assert done.returncode == 0, (name, done.returncode)

    def delete_value(self, name):
        return self.wine(self.tltest, "delete", self.hex_argument(name)).returncode == 0

    def find(self, pattern):
        """What the platform's file finder lists for a pattern, in its order."""
        done = self.wine(self.tltest, "find", hex16(pattern))
        return [unhex16(line) for line in done.stdout.decode("ascii").split()]

    def families(self):
        done = self.wine(self.tltest, "families")
        return {unhex16(line) for line in done.stdout.decode("ascii").split()}


if __name__ == "__main__":
    if sys.argv[1:] == ["template"]:
        print(make_template())
    else:
        sys.exit("usage: wine_prefix.py template")
