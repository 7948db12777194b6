"""The command line of the real program: options, usage line, exit codes, bytes."""
import pytest

from wine_prefix import console_line

USAGE = console_line("Usage : Typeloader [/uninstall] </title:title_string>")
PROGRAM = r"C:\Typeloader\Typeloader.exe"


@pytest.mark.parametrize("args, output, code", [
    ([], USAGE, 1),
    (["/uninstall"], USAGE, 1),
    (["/title:"], USAGE, 1),
    (["/title:A", "/title:"], USAGE, 1),
    (["/titles:Acme"], USAGE, 1),
    (["/T\u0130TLE:Acme"], USAGE, 1),
    (["/TITLE:Acme"], console_line("Install Font : Acme"), 0),
    (["-Title:Acme"], console_line("Install Font : Acme"), 0),
    (["/title:A", "/title:B"], console_line("Install Font : B"), 0),
    (["/uninstall", "/title:E2eNone"], console_line("Uninstall Font : E2eNone"), 0),
    (["/title:E2eNone", "-UNINSTALL"], console_line("Uninstall Font : E2eNone"), 0),
    (["/uninstallx", "uninstall", "--uninstall", "/title:Acme"], console_line("Install Font : Acme"), 0),
    (["/title:Acme Sans"], console_line("Install Font : Acme Sans"), 0),
    (["/title:Acme", "Sans"], console_line("Install Font : Acme"), 0),
    (["/title:caf\u00e9 \u00ff"], b"Install Font : caf\xe9 \xff\r\r\n", 0),
    (["/title:\u4e2d\u6587 Sans"], b"Install Font : ?? Sans\r\r\n", 0),
    (["/title:a\U0001F600b"], b"Install Font : a??b\r\r\n", 0),
])
def test_arguments_as_wine_passes_them(wine, args, output, code):
    assert wine.run(*args) == (code, output)


@pytest.mark.parametrize("command_line, output, code", [
    ('Typeloader.exe "/title:Acme Sans"', console_line("Install Font : Acme Sans"), 0),
    ('Typeloader.exe /title:"Acme Sans"', console_line("Install Font : Acme Sans"), 0),
    ('Typeloader.exe /title:Acme Sans', console_line("Install Font : Acme"), 0),
    ('Typeloader.exe /title:\\"Q\\"', console_line('Install Font : "Q"'), 0),
    ('Typeloader.exe "/title:tab\there"', console_line("Install Font : tab\there"), 0),
    ('/title:Self', USAGE, 1),  # the program name is never read as an option
    ('Typeloader.exe /title:\ud800x', b"Install Font : ?x\r\r\n", 0),
    ('Typeloader.exe /title:x\udc00', b"Install Font : x?\r\r\n", 0),
    ('Typeloader.exe', USAGE, 1),
])
def test_exact_command_lines(wine, command_line, output, code):
    assert wine.run_command_line(command_line) == (code, output)


def test_latin1_bytes_of_every_unit_up_to_ff(wine):
    title = "".join(chr(c) for c in range(0x20, 0x100) if c != 0x22)
    code, output = wine.run_command_line(f'Typeloader.exe "/title:{title}"')
    assert code == 0
    assert output == console_line("Install Font : " + title)
    assert output == b"Install Font : " + title.encode("latin-1") + b"\r\r\n"
