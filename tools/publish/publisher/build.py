"""One publish run: from the config and the release folders to the server tree.

The tree holds, for every version the manifest selects:
  packages/<sha256>.7z   the whole release (what a machine without the core installs)
  patches/<sha256>.7z    the files changed or added since the version before it
  deltas/<sha256>.7z     the version rebuilt from each of the delta_bases versions before
                         it, which the manifest offers as <delta> children (see delta.py)
  files/<sha256>         each file of the release, for the check list's repairs
  lists/<version>/g_file_check_list.xml
and the two mutable documents, g_file_check_list.xml (the root version's list) and
version.xml, written last so that they never name a file that is not there yet. The
documents name each archive's and each file's SHA-256, and the manifest the check list's
and its serial, which never goes below the served manifest's; with a signing key, every
document also gets its detached signature "<document>.sig", written right after it.
"""

import hashlib
import os
import tempfile
from dataclasses import dataclass

from . import delta, documents, serial, sevenzip
from .config import PublishError
from .releases import stage_release
from .tree import TreeWriter, sha256_of


@dataclass
class Options:
    releases: str
    out: str
    sevenzip: str
    name_limit: int
    signer: object = None  # a signing.Signer, or None for an unsigned tree
    serial: int = None  # the manifest's serial; None: kept, one more than served, or the time
    zstd: str = "zstd"  # the zstd program deltas are made with
    delta_bases: int = None  # None: the config's
    delta_size_limit: int = None  # None: the config's


def _bases(config, options, version):
    """The versions a delta of version starts from, the nearest first."""
    count = config.delta_bases if options.delta_bases is None else options.delta_bases
    index = config.versions.index(version)
    return config.versions[max(0, index - count):index][::-1]


def _previous(config, version):
    index = config.versions.index(version)
    return config.versions[index - 1] if index > 0 else None


def _stage_all(config, options, staging):
    needed = set(config.selected_versions())
    needed |= {p for v in needed if (p := _previous(config, v))}
    needed |= {b for v in config.selected_versions() for b in _bases(config, options, v)}
    return {v: stage_release(options.releases, v, staging, options.name_limit)
            for v in config.versions if v in needed}


class _Run:
    def __init__(self, config, options):
        self.config = config
        self.options = options
        self.writer = TreeWriter(options.out)
        self.warnings = []
        self.urls = {}  # version -> {"package": (url, sha256), "patch": (url, sha256)}
        self.sizes = {}  # version -> {"package": bytes, "patch": bytes}
        self.deltas = {}  # version -> [(base, url, sha256)], the nearest base first
        self.zstd = delta.Zstd(options.zstd)
        self.size_limit = (config.delta_size_limit if options.delta_size_limit is None
                           else options.delta_size_limit)
        self.lists = {}  # version -> check list bytes
        self.copied = set()
        self.served = self.writer.existing(serial.MANIFEST)  # read once: the serial never goes back
        self.where = f"the served {os.path.join(options.out, serial.MANIFEST)}"
        serial.refuse_lower(options.serial, serial.served(self.served), self.where)

    def url(self, relative):
        return f"{self.config.base_url}/{relative}"

    def archive(self, root, files, folder, description, sizes=None, kind=None):
        """Packs files into folder/<sha256>.7z; sizes[kind] gets its size. description is
        the report's text, or a function of the archive's size that makes it."""
        scratch = self.writer.scratch(folder, ".7z")
        largest = sevenzip.pack(self.options.sevenzip, root, files, scratch)
        sha256 = sha256_of(scratch)
        size = os.path.getsize(scratch)
        relative = f"{folder}/{sha256}.7z"
        if callable(description):
            description = description(size)
        else:
            description += f": {len(files)} files, largest solid block {largest} bytes"
        self.writer.place(scratch, relative, description)
        if sizes is not None:
            sizes[kind] = size
        return self.url(relative), sha256

    def delta(self, releases, staging, version, base):
        """Writes the delta of version from base; the report sets it beside the archives
        the version's elements name, which a machine on base gets without it."""
        work = os.path.join(staging, ".deltas", version, base)
        entries, lines = delta.stage(self.zstd, version, base, releases[version],
                                     releases[base], work, self.size_limit)
        zstd = sum(line.method == "zstd" for line in lines)
        if base == _previous(self.config, version):
            beside = f"the patch from {base} of {self.sizes[version]['patch']} bytes"
        else:
            kinds = sorted({s.archive for _, s in self._elements() if s.version == version})
            named = {"package": "package",
                     "patch": f"patch from {_previous(self.config, version)}"}
            beside = "the url's " + " and ".join(
                f"{named[k]} of {self.sizes[version][k]} bytes" for k in kinds)
        url, sha256 = self.archive(
            work, entries, "deltas", lambda size: (
                f"{version} delta from {base}: {zstd} zstd and {len(lines) - zstd} whole "
                f"files; {size} bytes beside {beside}"))
        self.deltas.setdefault(version, []).append((base, url, sha256))

    def version(self, releases, staging, version):
        files = releases[version]
        root = os.path.join(staging, version)
        sizes = self.sizes[version] = {}
        self.urls[version] = {"package": self.archive(root, files, "packages",
                                                      f"{version} full package", sizes,
                                                      "package")}
        previous = _previous(self.config, version)
        if previous:
            before = {f.key: f for f in releases[previous]}
            changed = [f for f in files if f.key not in before or before[f.key].sha256 != f.sha256]
            self.urls[version]["patch"] = self.archive(root, changed, "patches",
                                                       f"{version} patch from {previous}",
                                                       sizes, "patch")
            gone = sorted(set(before) - {f.key for f in files})
            if gone:
                self.warnings.append(
                    f"{version}: {', '.join(before[k].name for k in gone)} of {previous} is gone; "
                    "neither patch nor package deletes files, so players keep the old copy")
        checked = []
        for f in files:
            if f.size > sevenzip.SOLID_BLOCK_BYTES:
                self.warnings.append(f"{version}: {f.name} is {f.size} bytes, a solid block of "
                                     "its own that the game holds in memory whole to unpack it")
            if f.size == 0:
                # The bridge counts an empty file as damaged and would fetch it every start.
                self.warnings.append(f"{version}: {f.name} is empty; it is installed but left "
                                     "out of the check list")
                continue
            checked.append(f)
            if f.sha256 not in self.copied:
                self.copied.add(f.sha256)
                self.writer.copy_in(f.staged, f"files/{f.sha256}", f"{version} {f.name}")
        self.lists[version] = documents.check_list(
            version, checked, lambda f: self.url(f"files/{f.sha256}"))
        for base in _bases(self.config, self.options, version):
            self.delta(releases, staging, version, base)

    def documents(self):
        config = self.config
        check_list = self.lists[config.root.version]
        digest = hashlib.sha256(check_list).hexdigest()
        number, manifest, why = serial.choose(
            self.served, lambda n: documents.manifest(
                config, lambda s: self.urls[s.version][s.archive], n, digest,
                lambda s: self.deltas.get(s.version, [])),
            self.options.serial, self.where)
        root_list = self.lists[config.root.version]
        for name, data in [(serial.MANIFEST, manifest), (serial.CHECK_LIST, root_list)]:
            if len(data) > documents.MAX_DOCUMENT_BYTES:
                raise PublishError(f"{name} would be {len(data)} bytes; the bridge reads at most "
                                   f"{documents.MAX_DOCUMENT_BYTES}: shorten base_url, list "
                                   "fewer entries or files, or lower delta_bases")
        for version, data in self.lists.items():
            self.document(f"lists/{version}/{serial.CHECK_LIST}", data, f"{version} check list")
        self.document(serial.CHECK_LIST, check_list,
                      f"check list of {config.root.version}, the root's version")
        self.document(serial.MANIFEST, manifest, "version manifest", f", serial {number}: {why}")

    def document(self, relative, data, description, note=""):
        self.writer.write(relative, data, description + note)
        if self.options.signer is not None:
            self.writer.write_signature(f"{relative}.sig", data, self.options.signer,
                                        f"signature of the {description}")

    def notes(self):
        """Warnings about what the manifest selects."""
        root = self.config.root
        elsewhere, patched = [], []
        for where, s in self._elements():
            if s.version != root.version:
                elsewhere.append(f"{where} ({s.version})")
            if s.archive == "patch":
                patched.append(where)
        if elsewhere:
            self.warnings.append(
                f"not checked, since the bridge reads only /{serial.CHECK_LIST}, which describes "
                f"the root's {root.version}: {'; '.join(elsewhere)}")
        if patched:
            self.warnings.append(
                "served the patch, so a machine without the core, or on an older version, "
                f"installs only the patch's files: {'; '.join(patched)}")

    def _elements(self):
        yield "the root", self.config.root
        for game in self.config.games:
            yield f"game {game.id}", game.selection
            for area in game.areas:
                yield f"game {game.id} area {area.area} group {area.group}", area.selection


def publish(config, options):
    """Writes the tree; returns its report rows and the warnings."""
    run = _Run(config, options)
    if any(_bases(config, options, v) for v in config.selected_versions()):
        run.zstd.version()  # a missing zstd fails the run before anything is written
    try:
        with tempfile.TemporaryDirectory(prefix="orvex-publish-") as staging:
            releases = _stage_all(config, options, staging)
            for version in config.selected_versions():
                run.version(releases, staging, version)
            run.documents()
    finally:
        run.writer.clean_up()
    run.notes()
    return run.writer.rows, run.warnings
