"""The command line of the real program: options, usage line, exit codes, bytes."""
import pytest

# Option rules are the host tests'; here only what Windows and Wine add: how
# a command line is split and quoted, the exit code, and the console's bytes.
USAGE = b"Usage : Typeloader [/uninstall] </title:title_string>\r\r\n"


@pytest.mark.parametrize("args, output, code", [
    ([], USAGE, 1),
    (["/title:Acme Sans"], b"Install Font : Acme Sans\r\r\n", 0),
    (["/title:caf\u00e9 \u00ff"], b"Install Font : caf\xe9 \xff\r\r\n", 0),
    (["/title:\u4e2d\u6587 Sans"], b"Install Font : ?? Sans\r\r\n", 0),
    (["/title:a\U0001F600b"], b"Install Font : a??b\r\r\n", 0),
])
def test_arguments_as_wine_passes_them(wine, args, output, code):
    assert wine.run(*args) == (code, output)


@pytest.mark.parametrize("command_line, output, code", [
    ('Typeloader.exe "/title:Acme Sans"', b"Install Font : Acme Sans\r\r\n", 0),
    ('Typeloader.exe /title:"Acme Sans"', b"Install Font : Acme Sans\r\r\n", 0),
    ('Typeloader.exe /title:Acme Sans', b"Install Font : Acme\r\r\n", 0),
    ('Typeloader.exe /title:\\"Q\\"', b'Install Font : "Q"\r\r\n', 0),
    ('Typeloader.exe "/title:tab\there"', b"Install Font : tab\there\r\r\n", 0),
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
    assert output == b"Install Font : " + bytes(c for c in range(0x20, 0x100) if c != 0x22) + b"\r\r\n"
