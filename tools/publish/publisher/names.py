"""Which file names a release may carry.

A name travels to the player's machine three ways: inside the 7z archives (UTF-16), in the
check list (read in the machine's ANSI code page) and as a path the bridge joins onto its
installation directory. The bridge drops names that could leave that directory; the
publisher refuses them up front, plus the names that would install under another name or
overflow the bridge's 260-character path buffers.
"""

# Where the bridge works on a release: beside its installation folder <bridge>\bin\ it
# unpacks a package or patch into <bridge>\OrvexBridge.update\staging\<name>, the longest
# path it builds from a name (its backups and repair downloads sit in sibling folders with
# shorter names).
STAGING_TREE = "\\OrvexBridge.update\\staging\\"
STAGING_EXTRA = len(STAGING_TREE) - len("\\bin\\")
# Paths live in buffers of 260 UTF-16 units, the terminator included.
MAX_PATH_CHARS = 259

DEFAULT_MAX_INSTALL_PATH = 160
# Accepted for scripts written for older bridges, which unpacked patches in %TEMP%.
DEFAULT_MAX_TEMP_PATH = 64

_INVALID = set(':*?"<>|')


def _dll_device_name(part):
    # Folded as ASCII only; names outside ASCII are refused before this is asked.
    base = "".join(c.upper() if c.isascii() else c for c in part.split(".", 1)[0].rstrip(" "))
    if base in ("CON", "PRN", "AUX", "NUL"):
        return True
    return len(base) == 4 and base[:3] in ("COM", "LPT") and base[3] in "0123456789"


def dll_accepts(name):
    """The bridge's own test for a name from the network, rule for rule: relative, not
    ending in a separator, no step above the start, no component of dots and blanks only,
    no device name, no character invalid in a file name, and naming a file."""
    if not name or name[0] in "\\/" or name[-1] in "\\/":
        return False
    depth = 0
    ends_in_name = False
    for part in name.replace("/", "\\").split("\\"):
        ends_in_name = False
        if part in ("", "."):
            continue
        if part == "..":
            depth -= 1
            if depth < 0:
                return False
            continue
        if set(part) <= {".", " "} or _dll_device_name(part):
            return False
        if any(ord(c) < 0x20 or c in _INVALID for c in part):
            return False
        depth += 1
        ends_in_name = True
    return ends_in_name


def longest_name(max_install_path):
    """The longest installed name (in characters, separators included) that fits every path
    the bridge builds from it, for installation directories (the bin folder with its
    trailing backslash) of up to max_install_path characters."""
    return MAX_PATH_CHARS - max_install_path - STAGING_EXTRA


def refusal(parts, limit):
    """Why the release file with these path components may not be published, or None.
    The reason says what to change."""
    for part in parts:
        if not part or part in (".", ".."):
            return "is not a plain relative path; name the file where it lies"
        if any(not " " <= c <= "~" for c in part):
            return ("has a character outside printable ASCII: the check list reaches the "
                    "bridge in each player's ANSI code page, so rename it in plain ASCII")
        if "\\" in part:
            return "has a backslash, which Windows reads as a folder separator; use a folder"
        if set(part) & _INVALID:
            return 'has one of : * ? " < > |, which Windows file names cannot hold; rename it'
        if part[-1] in ". ":
            return "ends a name in a dot or a blank, which Windows drops; rename it"
        if _dll_device_name(part):
            return ("is a Windows device name (CON, PRN, AUX, NUL, COM0-9 or LPT0-9, with any "
                    "extension); rename it")
    name = "\\".join(parts)
    if not dll_accepts(name):
        return "is a name the bridge refuses; rename it"
    if len(name) > limit:
        return (f"is {len(name)} characters long once installed; at most {limit} fit the "
                "bridge's 260-character paths for the --max-install-path given: shorten it "
                "or its folders")
    return None
