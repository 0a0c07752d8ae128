"""The two documents the bridge reads: the version manifest and the check list.

Both are plain ASCII (names, versions and URLs are checked to be), one element per line,
and carry every attribute the bridge reads on every element, so no value depends on how a
reader fills in one that is missing.
"""

from xml.sax.saxutils import quoteattr

# The bridge refuses larger documents before parsing them.
MAX_DOCUMENT_BYTES = 1024 * 1024
_DECLARATION = '<?xml version="1.0" encoding="ISO-8859-1"?>\n'


def _attributes(pairs):
    return "".join(f" {key}={quoteattr(str(value))}" for key, value in pairs)


def _values(selection, archive_of):
    url, sha256 = archive_of(selection)
    return [("start", "1" if selection.start else "0"), ("url", url), ("sha256", sha256),
            ("version", selection.version)]


def _deltas(selection, deltas_of, indent):
    """The <delta> children of an element: its first children, since older bridges take
    game and area candidates from the first <game> or <area> child on."""
    return [f"{indent}<delta{_attributes([('from', base), ('url', url), ('sha256', sha256)])}"
            "/>\n" for base, url, sha256 in deltas_of(selection)]


def manifest(config, archive_of, serial, checklist_sha256, deltas_of=lambda s: []):
    """version.xml. archive_of(selection) is the URL and the SHA-256 of the archive an
    element selects, deltas_of(selection) the (base version, URL, SHA-256) of each delta
    that rebuilds its version; the root also carries the serial and the SHA-256 of the
    served check list. The bridge takes the first game of an id and, within it, the last
    area of an (area, group) pair; the config holds each once."""
    pairs = _values(config.root, archive_of) + [("serial", serial),
                                                ("checklist_sha256", checklist_sha256)]
    lines = [_DECLARATION, f"<root{_attributes(pairs)}>\n"]
    lines += _deltas(config.root, deltas_of, "  ")
    for game in config.games:
        pairs = [("name", game.id)] + _values(game.selection, archive_of)
        lines.append(f"  <game{_attributes(pairs)}>\n")
        lines += _deltas(game.selection, deltas_of, "    ")
        for area in game.areas:
            pairs = [("name", area.area), ("group", area.group)] + _values(area.selection,
                                                                          archive_of)
            children = _deltas(area.selection, deltas_of, "      ")
            if children:
                lines += [f"    <area{_attributes(pairs)}>\n", *children, "    </area>\n"]
            else:
                lines.append(f"    <area{_attributes(pairs)}/>\n")
        lines.append("  </game>\n")
    lines.append("</root>\n")
    return "".join(lines).encode("ascii")


def check_list(version, files, url_of_file):
    """g_file_check_list.xml for one version: each file's installed name, its MD5 and
    SHA-256 in lowercase hex and the URL of a good copy, which the bridge requests
    unchanged."""
    lines = [_DECLARATION, f"<root{_attributes([('version', version)])}>\n"]
    for file in files:
        pairs = [("name", file.name), ("md5", file.md5), ("sha256", file.sha256),
                 ("remote_file_url", url_of_file(file))]
        lines.append(f"  <file{_attributes(pairs)}/>\n")
    lines.append("</root>\n")
    return "".join(lines).encode("ascii")
