"""Release folders: one per version, laid out as the installation directory (bin) is.

Each folder is copied into a staging directory before anything is hashed or packed, so the
digests in the check list and the archives' contents come from the same bytes even when
someone touches the folder meanwhile, and 7zz sees fixed times and modes.
"""

import hashlib
import os
import stat
from dataclasses import dataclass

from .config import PublishError
from .names import refusal

CORE_MODULE = "Orvex.dll"
_FIXED_TIME = 946684800  # 2000-01-01: no archive or digest depends on when a file was made
_CHUNK = 1 << 20


@dataclass
class ReleaseFile:
    name: str  # as installed and as the check list names it: components joined by "\"
    size: int
    md5: str
    sha256: str
    staged: str  # the staged copy's path

    @property
    def key(self):
        return self.name.lower()  # one file on Windows, whatever the case


def _walk(folder):
    """(parts, path) of every file under folder in sorted order; PublishError for anything
    that is not a plain file or folder."""
    found = []
    for top, dirs, files in os.walk(folder, onerror=_unreadable):
        rel = os.path.relpath(top, folder)
        base = [] if rel == "." else rel.split(os.sep)
        for entry in sorted(dirs + files):
            path = os.path.join(top, entry)
            mode = os.lstat(path).st_mode
            if stat.S_ISLNK(mode) or not (stat.S_ISDIR(mode) or stat.S_ISREG(mode)):
                raise PublishError(f"{path}: is a link or special file; put a plain file there")
            if stat.S_ISREG(mode):
                found.append((base + [entry], path))
    return sorted(found)


def _unreadable(error):
    raise PublishError(f"{error.filename}: cannot be read ({error.strerror})")


def _stage(source, target):
    """Copies source to target with fixed time and mode; returns (size, md5, sha256)."""
    os.makedirs(os.path.dirname(target), exist_ok=True)
    md5, sha256, size = hashlib.md5(), hashlib.sha256(), 0
    with open(source, "rb") as src, open(target, "wb") as dst:
        while chunk := src.read(_CHUNK):
            md5.update(chunk)
            sha256.update(chunk)
            size += len(chunk)
            dst.write(chunk)
    os.chmod(target, 0o644)
    os.utime(target, (_FIXED_TIME, _FIXED_TIME))
    return size, md5.hexdigest(), sha256.hexdigest()


def stage_release(releases_dir, version, staging_dir, name_limit):
    """The files of releases_dir/version, staged under staging_dir/version, sorted by name."""
    folder = os.path.join(releases_dir, version)
    if not os.path.isdir(folder):
        raise PublishError(f"{folder}: no such folder; make one per version in \"versions\"")
    walked = _walk(folder)
    problems = [f"{os.path.join(folder, *parts)}: {why}" for parts, _ in walked
                if (why := refusal(parts, name_limit))]
    if problems:
        raise PublishError("\n".join(problems))
    files, seen = [], {}
    for parts, path in walked:
        name = "\\".join(parts)
        if name.lower() in seen:
            raise PublishError(f"{path}: differs only in case from {seen[name.lower()]}, and "
                               "Windows holds one of them; keep one")
        seen[name.lower()] = path
        staged = os.path.join(staging_dir, version, *parts)
        files.append(ReleaseFile(name, *_stage(path, staged), staged))
    if CORE_MODULE.lower() not in seen:
        raise PublishError(f"{folder}: has no {CORE_MODULE} at its top; the bridge loads "
                           f"bin\\{CORE_MODULE} from the installation")
    return files
