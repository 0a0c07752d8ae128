"""The publisher's config: the versions in order, the server's base URL for the payloads,
and what the manifest selects for the root, each game and each area and group."""

import json
import re
from dataclasses import dataclass, field

_VERSION = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]{0,63}")
_URL = re.compile(r"https?://[!-~]+")
ARCHIVES = ("package", "patch")
_INT32 = (-(2**31), 2**31 - 1)
SERIAL_MAX = 2**63 - 1  # the manifest serial's range is 1 to this
DELTA_BASES = 3  # deltas from this many versions before each selected one
DELTA_SIZE_LIMIT = 64 << 20  # larger files go whole into a delta
# The bridge decodes a delta with its window capped at 2^27 bytes, and a file's window covers
# it and its base, so no limit above that makes a delta the bridge can use.
DELTA_SIZE_MAX = 1 << 27


def serial_in_range(value):
    """Whether value is a whole number a manifest serial may be."""
    return isinstance(value, int) and not isinstance(value, bool) and 1 <= value <= SERIAL_MAX


class PublishError(Exception):
    """A problem the studio has to fix; the text says what and where."""


@dataclass
class Selection:
    """What one manifest element selects: all three are written on every element."""
    version: str
    start: bool
    archive: str  # "package" or "patch": which archive the element's "url" names


@dataclass
class Area:
    area: int
    group: int
    selection: Selection


@dataclass
class Game:
    id: int
    selection: Selection
    areas: list = field(default_factory=list)


@dataclass
class Config:
    base_url: str
    versions: list
    root: Selection
    games: list = field(default_factory=list)
    serial: int = None  # the manifest's serial, when the config sets it (--serial wins)
    delta_bases: int = DELTA_BASES  # --delta-bases wins
    delta_size_limit: int = DELTA_SIZE_LIMIT  # --delta-size-limit wins

    def selected_versions(self):
        """The versions some element selects, in release order."""
        used = {self.root.version}
        for game in self.games:
            used.add(game.selection.version)
            used.update(area.selection.version for area in game.areas)
        return [v for v in self.versions if v in used]


def delta_bases_problem(value):
    """Why value cannot be the number of delta bases, or None."""
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= 1000:
        return "must be a whole number from 0 (no deltas) to 1000"
    return None


def delta_size_limit_problem(value):
    """Why value cannot be the delta size limit in bytes, or None."""
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= DELTA_SIZE_MAX:
        return (f"must be a whole number of bytes from 0 to {DELTA_SIZE_MAX} (the largest "
                "window the bridge decodes)")
    return None


def _fail(where, problem):
    raise PublishError(f"config {where}: {problem}")


def _object(value, where, allowed):
    if not isinstance(value, dict):
        _fail(where, "must be a JSON object")
    unknown = sorted(set(value) - set(allowed))
    if unknown:
        _fail(where, f"unknown key {unknown[0]!r}; the keys are {', '.join(allowed)}")
    return value


def _id(value, where):
    if isinstance(value, bool) or not isinstance(value, int) or not (
            _INT32[0] <= value <= _INT32[1]):
        _fail(where, "must be a whole number that fits 32 bits (the host's id)")
    return value


def _selection(obj, where, versions, above):
    at = f"{where}." if where else ""
    version = obj.get("version", above.version)
    if not isinstance(version, str) or version not in versions:
        _fail(f"{at}version", f"{version!r} is not in \"versions\"")
    start = obj.get("start", above.start)
    if not isinstance(start, bool):
        _fail(f"{at}start", "must be true (the core may start) or false")
    archive = obj.get("archive", above.archive)
    if archive not in ARCHIVES:
        _fail(f"{at}archive", 'must be "package" or "patch"')
    if archive == "patch" and versions.index(version) == 0:
        _fail(f"{at}archive", f'"patch" needs a version before {version!r} in "versions"')
    return Selection(version, start, archive)


def _versions(value):
    if not isinstance(value, list) or not value:
        _fail("versions", "must list the release folders' versions, oldest first")
    for i, version in enumerate(value):
        if not isinstance(version, str) or not _VERSION.fullmatch(version):
            _fail(f"versions[{i}]", "must be 1 to 64 of A-Z a-z 0-9 . _ - starting with a "
                  "letter or digit")
    if len(set(value)) != len(value):
        _fail("versions", "lists a version twice")
    return value


def _base_url(value):
    if (not isinstance(value, str) or not _URL.fullmatch(value)
            or any(c in value for c in '?#"<>&')):
        _fail("base_url", "must be an http:// or https:// URL in plain ASCII without a query "
              "(the bridge appends its own), e.g. \"http://cdn.example.com/orvex\"")
    return value.rstrip("/")


def _list(obj, key, where):
    value = obj.get(key, [])
    if not isinstance(value, list):
        _fail(f"{where}{key}", "must be a list")
    return value


def _game(obj, where, config):
    obj = _object(obj, where, ("id", "version", "start", "archive", "areas"))
    game = Game(_id(obj.get("id"), f"{where}.id"),
                _selection(obj, where, config.versions, config.root))
    # The bridge takes the first game of an id and, in it, the last area of an id pair.
    if any(other.id == game.id for other in config.games):
        _fail(f"{where}.id", f"game {game.id} is listed twice")
    for a, area_obj in enumerate(_list(obj, "areas", f"{where}.")):
        at = f"{where}.areas[{a}]"
        area_obj = _object(area_obj, at, ("area", "group", "version", "start", "archive"))
        area = Area(_id(area_obj.get("area"), f"{at}.area"),
                    _id(area_obj.get("group"), f"{at}.group"),
                    _selection(area_obj, at, config.versions, game.selection))
        if any((o.area, o.group) == (area.area, area.group) for o in game.areas):
            _fail(at, f"area {area.area} group {area.group} is listed twice in game {game.id}")
        game.areas.append(area)
    return game


def parse(data):
    """The Config in the JSON object data; PublishError names the first problem."""
    top = _object(data, "top level", ("base_url", "versions", "version", "start", "archive",
                                      "games", "serial", "delta_bases", "delta_size_limit"))
    for key in ("base_url", "versions"):
        if key not in top:
            _fail(key, "is missing")
    versions = _versions(top["versions"])
    defaults = Selection(versions[-1], True, "package")
    config = Config(_base_url(top["base_url"]), versions,
                    _selection(top, "", versions, defaults))
    for g, game in enumerate(_list(top, "games", "")):
        config.games.append(_game(game, f"games[{g}]", config))
    config.serial = top.get("serial")
    if config.serial is not None and not serial_in_range(config.serial):
        _fail("serial", f"must be a whole number from 1 to {SERIAL_MAX}")
    for key, problem in [("delta_bases", delta_bases_problem),
                         ("delta_size_limit", delta_size_limit_problem)]:
        if key in top:
            if (why := problem(top[key])) is not None:
                _fail(key, why)
            setattr(config, key, top[key])
    return config


def load(path):
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except OSError as e:
        raise PublishError(f"config {path}: cannot be read ({e.strerror})") from None
    except ValueError as e:
        raise PublishError(f"config {path}: is not JSON ({e})") from None
    return parse(data)
