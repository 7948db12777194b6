"""The test bed itself: every Wine process starts the way the harness says, and
a failed run is told apart from a program that failed."""
import pathlib

import pytest

from wine_prefix import WineStartFailure

ADDR_NO_RANDOMIZE = 0x0040000


def prefix_processes(wine):
    """(pid, personality) of every process running with this prefix."""
    found = []
    for proc in pathlib.Path("/proc").iterdir():
        try:
            environ = (proc / "environ").read_bytes().split(b"\0")
            personality = int((proc / "personality").read_text(), 16)
        except (OSError, ValueError):
            continue
        if f"WINEPREFIX={wine.prefix}".encode() in environ:
            found.append((int(proc.name), personality))
    return found


def test_every_wine_process_starts_without_address_randomization(wine):
    # Wine's services started with the prefix, and any process they start,
    # inherit the launch's personality.
    assert wine.run_command_line('Typeloader.exe "/title:E2eHarness"')[0] == 0
    processes = prefix_processes(wine)
    assert len(processes) >= 3, processes  # services.exe, explorer.exe, winedevice.exe at least
    assert all(personality & ADDR_NO_RANDOMIZE for _, personality in processes), processes


def test_a_program_ending_with_1_and_no_output_is_the_programs_failure(wine):
    # What a start failure of Wine looks like from outside, done by a program:
    # the harness hands it to the test as the program's result, never repeats it.
    assert wine.run_command_line("cmd.exe /c exit 1", program=r"C:\windows\system32\cmd.exe") == (1, b"")


def test_the_whole_exit_code_arrives(wine):
    # Linux sees only the low 8 bits of it (194); tltest reads it Windows-side.
    assert wine.run_command_line("cmd.exe /c exit 3010", program=r"C:\windows\system32\cmd.exe") == (3010, b"")


def test_a_process_wine_never_started_names_itself(wine):
    with pytest.raises(WineStartFailure) as failure:
        wine.run_command_line("Missing.exe", program=r"C:\Typeloader\Missing.exe")
    report = str(failure.value)
    assert "exit status as wine returned it: 101 (0x65)" in report
    assert "CreateProcessW failed: 2" in report
    assert "none: tltest never saw the program end" in report
    assert "Missing.exe" in report
