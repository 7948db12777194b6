"""Typeloader.exe's link is given nothing of Typeloader-Deploy.exe: no object
compiled from a deploy source, and no archive holding one, is among its
inputs, whatever --gc-sections would drop afterwards. Read from the link map
(scripts/third_party.py reads it the same way) and the archives it names."""
import collections
import os
import pathlib
import subprocess
import sys

import pytest


def deploy_sources(source_dir):
    """The sources only Typeloader-Deploy.exe is built from, relative to the tree."""
    found = [path for folder in ("deploy", "platform/win32/deploy") for path in (source_dir / folder).iterdir()]
    found += (source_dir / "app").glob("*deploy*")
    return {path.relative_to(source_dir).as_posix() for path in found if path.is_file()}


def archive_members(archive):
    tool = os.environ.get("TYPELOADER_AR") or "x86_64-w64-mingw32-ar"
    return subprocess.run([tool, "t", str(archive)], capture_output=True, text=True, check=True).stdout.split()


@pytest.fixture(scope="module")
def link_inputs(source_dir, link_map, build_dir):
    """(source paths of the objects, {source file name: count} of the archives' members)."""
    sys.path.insert(0, str(source_dir / "scripts"))
    import third_party
    loaded, _ = third_party.read_map(link_map)
    objects, members = set(), collections.Counter()
    for path in dict.fromkeys(loaded):  # an archive may be named twice, to resolve references back
        full = pathlib.Path(build_dir) / path
        if os.path.isabs(path) or not full.is_file():
            continue  # the toolchain's files, and ld's own entries
        if path.endswith(".a"):
            members.update(pathlib.Path(name).stem for name in archive_members(full))
        else:
            objects.add(pathlib.Path(path.split(".dir/", 1)[1]).with_suffix("").as_posix())
    return objects, members


def test_the_map_names_typeloaders_own_inputs(link_inputs):
    # A map read as naming nothing would let the check below pass vacuously.
    objects, members = link_inputs
    assert {"app/main_win32.cpp", "platform/win32/registry_win32.cpp"} <= objects
    assert members["install.cpp"] >= 1 and members["strings.cpp"] >= 1


def test_no_deploy_source_is_an_input_of_typeloaders_link(source_dir, link_inputs):
    objects, members = link_inputs
    deploy = deploy_sources(source_dir)
    assert not objects & deploy
    # An archive keeps only file names: a name that a deploy source has is
    # accounted for only by as many sources of Typeloader.exe's own folders.
    own_names = collections.Counter(path.name for folder in ("app", "common", "fonts")
                                    for path in (source_dir / folder).iterdir()
                                    if path.relative_to(source_dir).as_posix() not in deploy)
    deploy_names = {pathlib.PurePosixPath(path).name for path in deploy}
    assert {name: count for name, count in members.items()
            if name in deploy_names and count > own_names[name]} == {}
