"""Delta archives: a selected version rebuilt from one version before it.

A delta holds, for each file changed or added since its base, either one zstd frame made
with the base's file as its dictionary (--patch-from) or the file itself. The bridge
memory-maps the installed base file and decodes with the frame's window, so the window of a
file covers the larger of it and its base (window_log below) and stays within what the
bridge decodes. The archive's index, orvex_delta.txt, names every entry with the digests
the bridge checks before and after rebuilding:

  orvex-delta 1
  from <base version>
  to <version>
  <method> <window_log> <base_sha256> <result_sha256> <result_size> <path>

one line per file, sorted by path (byte order); a "whole" line has "-" for the window and
the base digest. A frame is kept only when it is smaller than the file compressed alone at
the same level: else the file goes whole, as do added, empty and over-limit files. Frames
are made single-threaded with fixed options, so the same zstd gives the same bytes, and
each is decoded again and compared with the release before it is packed.
"""

import os
import shutil
from dataclasses import dataclass

from . import programs
from .config import PublishError
from .tree import sha256_of

INDEX = "orvex_delta.txt"
LEVEL = "-19"
MIN_WINDOW_LOG = 10
_MAGIC = b"\x28\xb5\x2f\xfd"


def window_log(*sizes):
    """The smallest log with 2^log >= every size, at least the format's 10."""
    return max(MIN_WINDOW_LOG, (max(sizes) - 1).bit_length())


def frame_window(path):
    """The window size in bytes a decoder needs for the zstd frame in path."""
    with open(path, "rb") as f:
        head = f.read(18)
    if len(head) < 6 or not head.startswith(_MAGIC):
        raise PublishError(f"{path}: zstd wrote no zstd frame")
    descriptor = head[4]
    single_segment = descriptor >> 5 & 1
    if not single_segment:
        exponent, mantissa = head[5] >> 3, head[5] & 7
        base = 1 << (10 + exponent)
        return base + (base >> 3) * mantissa
    # A single-segment frame's window is its content size.
    at = 5 + (0, 1, 2, 4)[descriptor & 3]
    size_bytes = (1, 2, 4, 8)[descriptor >> 6]
    return int.from_bytes(head[at:at + size_bytes], "little") + (256 if size_bytes == 2 else 0)


class Zstd:
    """The zstd program, with the options that make its frames reproducible."""

    def __init__(self, program):
        self.program = program

    def _run(self, args):
        return programs.run(self.program, args, "install zstd (Debian package zstd), name it "
                            "with --zstd, or give --delta-bases 0")

    def version(self):
        """"zstd <version>": frames are byte-identical only for the same zstd version."""
        return f"zstd {self._run(['-q', '-V']).strip()}"

    def compress(self, source, out, log, base=None):
        patch = [f"--patch-from={base}"] if base else []
        self._run(["-q", LEVEL, "-T1", f"--long={log}", *patch, "-f", source, "-o", out])
        return os.path.getsize(out)

    def check(self, base, frame, log, file, scratch):
        """Refuses a frame that needs a larger window than log or does not rebuild file."""
        window = frame_window(frame)
        if window > 1 << log:
            raise PublishError(f"{frame}: zstd made a frame with a {window}-byte window, over "
                               f"the 2^{log} its index gives")
        self._run(["-d", "-q", f"--long={log}", f"--patch-from={base}", "-f", frame, "-o",
                   scratch])
        rebuilt = (os.path.getsize(scratch), sha256_of(scratch))
        os.remove(scratch)
        if rebuilt != (file.size, file.sha256):
            raise PublishError(f"{frame}: does not rebuild {file.name} from its base")


@dataclass
class Entry:
    """A file of the delta archive, as sevenzip.pack takes it."""
    name: str
    size: int


@dataclass
class Line:
    method: str  # "zstd" or "whole"
    window_log: object  # int, or "-" for a whole file
    base_sha256: str
    result_sha256: str
    result_size: int
    path: str  # "/" separators, as the patch holds it

    def text(self):
        return (f"{self.method} {self.window_log} {self.base_sha256} {self.result_sha256} "
                f"{self.result_size} {self.path}\n")


def stage(zstd, version, base, files, base_files, work, size_limit):
    """Stages the delta of version from base under the new folder work: its index and data.
    Returns the archive's entries and the index lines."""
    os.makedirs(work)
    before = {f.key: f for f in base_files}
    lines, entries = [], []
    for file in files:
        old = before.get(file.key)
        if old is not None and old.sha256 == file.sha256:
            continue
        path = file.name.replace("\\", "/")
        target = os.path.join(work, "data", *path.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        line = None
        # zstd cannot make a frame of an empty file, nor use an empty dictionary.
        if old is not None and old.size and file.size and max(old.size,
                                                                file.size) <= size_limit:
            log = window_log(old.size, file.size)
            delta = zstd.compress(file.staged, target + ".zst", log, base=old.staged)
            alone = zstd.compress(file.staged, target + ".alone", log)
            os.remove(target + ".alone")
            if delta < alone:
                zstd.check(old.staged, target + ".zst", log, file, target + ".rebuilt")
                line = Line("zstd", log, old.sha256, file.sha256, file.size, path)
                entries.append(Entry(f"data/{path}.zst", delta))
            else:
                os.remove(target + ".zst")
        if line is None:
            shutil.copyfile(file.staged, target)
            line = Line("whole", "-", "-", file.sha256, file.size, path)
            entries.append(Entry(f"data/{path}", file.size))
        lines.append(line)
    lines.sort(key=lambda line: line.path.encode("utf-8"))
    index = f"orvex-delta 1\nfrom {base}\nto {version}\n" + "".join(l.text() for l in lines)
    with open(os.path.join(work, INDEX), "wb") as f:
        f.write(index.encode("utf-8"))
    entries.append(Entry(INDEX, len(index.encode("utf-8"))))
    return entries, lines
