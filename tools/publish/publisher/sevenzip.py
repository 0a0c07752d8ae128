"""Packing with 7zz, so that the same files always give the same archive bytes.

The bridge's extractor decodes a whole solid block into memory before it writes the block's
first file, so blocks are bounded to what a 32-bit game can hold beside itself: 16 MiB (a
file larger than that is a block of its own). Times and attributes are not stored, so
neither the staging copies' metadata nor the machine's clock reaches the archive; the
thread count is fixed because LZMA2's output may depend on it.
"""

import os

from . import programs
from .config import PublishError

SOLID_BLOCK_BYTES = 16 << 20
SWITCHES = ["-t7z", "-m0=LZMA2:d=16m", "-mx=9", "-ms=16m", "-mmt=2", "-mtm=off", "-mtc=off",
            "-mta=off", "-mtr=off", "-scsUTF-8", "-bso0", "-bsp0", "-y"]


def _run(sevenzip, args, cwd=None):
    return programs.run(sevenzip, args, "install 7zz (Debian package 7zip) or name it with --7zz",
                        args[:2], cwd)


def version(sevenzip):
    """The 7zz banner line: archives are byte-identical only for the same 7zz version."""
    for line in _run(sevenzip, ["i"]).splitlines():
        if line.strip():
            return line.split(" : ", 1)[0].strip()
    return sevenzip


def _blocks(sevenzip, archive):
    """{path: size} and the bytes of the largest solid block, from 7zz's own listing."""
    sizes, blocks, entry = {}, {}, {}
    for line in _run(sevenzip, ["l", "-slt", "-ba", archive]).splitlines() + [""]:
        if " = " in line:
            key, value = line.split(" = ", 1)
            entry[key] = value
        elif entry:
            size = int(entry.get("Size") or 0)
            sizes[entry["Path"]] = size
            block = entry.get("Block", "")
            blocks[block] = blocks.get(block, 0) + size
            entry = {}
    return sizes, max(blocks.values(), default=0)


def pack(sevenzip, root, files, archive):
    """Packs files (ReleaseFile, staged under root) into the new file archive; returns the
    largest solid block's bytes. Checks that 7zz packed exactly those files."""
    listfile = archive + ".list"
    with open(listfile, "w", encoding="utf-8", newline="\n") as f:
        for file in files:
            f.write(file.name.replace("\\", "/") + "\n")
    _run(sevenzip, ["a", *SWITCHES, os.path.abspath(archive), "@" + os.path.abspath(listfile)],
         cwd=root)
    os.remove(listfile)
    sizes, largest = _blocks(sevenzip, archive)
    expected = {file.name.replace("\\", "/"): file.size for file in files}
    if {path.replace("\\", "/"): size for path, size in sizes.items()} != expected:
        raise PublishError(f"{archive}: 7zz did not pack exactly the release's files")
    return largest
