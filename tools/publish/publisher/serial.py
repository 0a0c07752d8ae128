"""The manifest's serial and the root start tag that carries it.

A bridge refuses a manifest whose serial is lower than the highest it accepted before, so an
old signed manifest cannot be replayed. A serial is decimal digits without a sign or leading
zeros, from 1 to 2^63 - 1. The same root also carries checklist_sha256, the SHA-256 of the
served check list, which binds the check list to the manifest.

Hand-written manifests are changed only in their root start tag, as text: every other byte
stays as its author wrote it.
"""

import os
import re
import time

from .config import SERIAL_MAX as MAX
from .config import PublishError, serial_in_range
from .tree import sha256_of

MANIFEST = "version.xml"
CHECK_LIST = "g_file_check_list.xml"
_DIGITS = re.compile(r"[1-9][0-9]{0,18}")
RULE = f"digits only, no leading zeros, from 1 to {MAX}"

# Comments, processing instructions, CDATA and declarations are skipped whole, so a "<root"
# inside one is not taken for the element.
_TOKENS = re.compile(rb"<!--.*?-->|<\?.*?\?>|<!\[CDATA\[.*?\]\]>|<![^>]*>|(<root)(?=[\s/>])",
                     re.S)
_START_TAG = re.compile(rb"<root(?P<attrs>(?:\s+[^\s=/>]+\s*=\s*(?:\"[^\"]*\"|'[^']*'))*)\s*/?>")
_ATTRIBUTE = re.compile(rb"\s+(?P<name>[^\s=/>]+)\s*=\s*(?P<value>\"[^\"]*\"|'[^']*')")
# Root attributes only a manifest has; a check list's root carries only "version".
_MANIFEST_ONLY = {"serial", "checklist_sha256", "start", "url", "sha256"}
_GAME = re.compile(rb"<game[\s/>]")


def parse(text):
    """The serial text names, or None when it is no valid serial."""
    if isinstance(text, str) and _DIGITS.fullmatch(text) and serial_in_range(int(text)):
        return int(text)
    return None


def now():
    return int(time.time())


def _root(data):
    """The match of the document's root start tag, or None when it has none."""
    for token in _TOKENS.finditer(data):
        if token.group(1):
            tag = _START_TAG.match(data, token.start())
            if tag is None:
                raise PublishError("its <root> start tag cannot be read (attributes must be "
                                   "name=\"value\" or name='value')")
            return tag
    return None


def root_attributes(data):
    """{name: value} of the root start tag's attributes, as written; {} without one."""
    tag = _root(data)
    if tag is None:
        return {}
    return {m["name"].decode("latin-1"): m["value"][1:-1].decode("latin-1")
            for m in _ATTRIBUTE.finditer(tag["attrs"])}


def served(data):
    """The valid serial of a manifest's bytes (None for no manifest or no valid serial)."""
    if data is None:
        return None
    try:
        return parse(root_attributes(data).get("serial"))
    except PublishError:
        return None


def with_root_attributes(data, values):
    """data with each {name: value} set on the root start tag: a value there is replaced, a
    new one is added after the others. No other byte changes."""
    tag = _root(data)
    if tag is None:
        raise PublishError("has no <root> start tag")
    attrs = tag["attrs"]
    missing = dict(values)

    def replace(m):
        name = m["name"].decode("latin-1")
        if name not in values:
            return m.group(0)
        missing.pop(name, None)
        value = m.group(0)[:m.start("value") - m.start()]
        return value + b'"' + values[name].encode("ascii") + b'"'

    attrs = _ATTRIBUTE.sub(replace, attrs)
    attrs += b"".join(f' {name}="{value}"'.encode("ascii") for name, value in missing.items())
    start, end = tag.span("attrs")
    return data[:start] + attrs + data[end:]


def is_manifest(path, data):
    """Whether sign treats the file as a manifest: named version.xml, or (unless named as a
    check list) its root carries an attribute only a manifest has or it holds a <game>."""
    name = os.path.basename(path).lower()
    if name in (MANIFEST, CHECK_LIST):
        return name == MANIFEST
    return bool(_MANIFEST_ONLY & set(root_attributes(data))) or bool(_GAME.search(data))


def refuse_lower(explicit, previous, where):
    if explicit is not None and previous is not None and explicit < previous:
        raise PublishError(f"--serial {explicit} is lower than {previous}, the serial of "
                           f"{where}; a bridge that accepted that one refuses a lower serial. "
                           f"Give --serial {previous} or more, or leave it out")


def choose(served_data, build, explicit, where):
    """(serial, manifest bytes, why) for a publish: build(serial) makes the manifest. An
    unchanged manifest keeps the served serial and bytes; otherwise the serial is explicit,
    or one more than the served one, or the time. The caller has refused an explicit serial
    below the served one (refuse_lower) before writing anything."""
    previous = served(served_data)
    if previous is not None:
        same = build(previous)
        if same == served_data and explicit in (None, previous):
            return previous, same, "the served one, as the manifest is unchanged"
        if explicit == previous:
            raise PublishError(f"--serial {explicit} is the serial of {where}, which differs "
                               f"from the new manifest; bridges take equal serials for the "
                               f"same manifest. Give --serial {previous + 1} or more")
    if explicit is not None:
        return explicit, build(explicit), "given by --serial"
    if previous is not None:
        if previous >= MAX:
            raise PublishError(f"{where} has the largest serial, {MAX}; no later one exists")
        return previous + 1, build(previous + 1), f"one more than the served {previous}"
    serial = now()
    return serial, build(serial), "the time, since no served manifest has a serial"


def for_signing(path, data, explicit):
    """The bytes sign signs for a hand-written manifest: its serial kept (or raised to
    explicit, or added), and checklist_sha256 set to the check list beside it, if any."""
    previous = parse(root_attributes(data).get("serial"))
    refuse_lower(explicit, previous, "the manifest")
    values = {"serial": str(explicit or previous or now())}
    beside = os.path.join(os.path.dirname(path), CHECK_LIST)
    try:
        values["checklist_sha256"] = sha256_of(beside)
    except FileNotFoundError:
        pass
    except OSError as e:
        raise PublishError(f"{beside}: cannot be read ({e.strerror})") from None
    return with_root_attributes(data, values)
