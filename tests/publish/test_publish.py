"""The release publisher run as a studio runs it: release folders on disk, the real 7zz, the
command line in a process of its own."""

import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "publish")
sys.path.insert(0, TOOL)
sys.dont_write_bytecode = True
from publisher import config, names, serial, signing  # noqa: E402

CONFIG = {"base_url": "http://cdn.example.com/orvex/", "versions": ["1.0.0", "1.0.1"],
          "games": [{"id": 7, "start": False,
                     "areas": [{"area": 30, "group": 2, "version": "1.0.0"},
                               {"area": -1, "group": 0, "archive": "patch", "start": True}]}]}
RELEASES = {
    "1.0.0": {"Orvex.dll": b"core one", "data/level.dat": b"level 1", "data/old.dat": b"old",
              "data/same.ini": b"same"},
    "1.0.1": {"Orvex.dll": b"core two", "data/level.dat": b"level 2", "data/same.ini": b"same",
              "data/maps/new.map": b"new map", "empty.txt": b""},
}


def write_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def unpack(archive_bytes):
    """The files of a 7z archive, unpacked by 7zz."""
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(scratch, "a.7z"), "wb") as f:
            f.write(archive_bytes)
        subprocess.run(["7zz", "x", "-bso0", "-bsp0", "-o" + scratch + "/x",
                        os.path.join(scratch, "a.7z")], check=True)
        return read_tree(os.path.join(scratch, "x"))


def read_tree(root):
    tree = {}
    for top, _, files in os.walk(root):
        for name in files:
            with open(os.path.join(top, name), "rb") as f:
                tree[os.path.relpath(os.path.join(top, name), root).replace(os.sep, "/")] = f.read()
    return tree


class Workspace:
    """Release folders and a config in a scratch directory, and the publisher run on them."""

    def __init__(self, releases=RELEASES, cfg=CONFIG):
        self.dir = tempfile.mkdtemp(prefix="publish-test-")
        for version, files in releases.items():
            write_tree(os.path.join(self.dir, "releases", version), files)
        self.config = os.path.join(self.dir, "config.json")
        self.configure(cfg)

    def configure(self, cfg):
        with open(self.config, "w") as f:
            json.dump(cfg, f)

    def publish(self, out, *options):
        return subprocess.run(
            [sys.executable, os.path.join(TOOL, "orvex_publish.py"), "--config", self.config,
             "--releases", os.path.join(self.dir, "releases"), "--out",
             os.path.join(self.dir, out), *options], capture_output=True, text=True)

    def remove(self):
        shutil.rmtree(self.dir)


def root_of(data):
    return ET.fromstring(data).attrib


class NameRules(unittest.TestCase):
    def test_names_the_bridge_accepts_and_refuses(self):
        # publish_tests holds the bridge's own test to the same table.
        with open(os.path.join(os.path.dirname(__file__), "name_cases.txt")) as f:
            cases = [line.rstrip("\n").split(" ", 1) for line in f if not line.startswith("#")]
        self.assertGreater(len(cases), 30)
        for verdict, quoted in cases + [["refuse", '"a\tb"']]:
            self.assertEqual(names.dll_accepts(quoted[1:-1]), verdict == "accept", quoted)

    def test_unsafe_and_over_long_release_files_are_refused_by_name(self):
        # The limit for these options: 259 - 200 - 23 (the staging tree beside bin) = 36.
        long_ok, too_long = "d/" + "f" * 34, "d/" + "f" * 35
        self.assertIsNone(names.refusal(long_ok.split("/"), 36))
        cases = [("CON.txt", "device name"), ("a:b", "cannot hold"), ("x.", "drops"),
                 ("sub\\file", "backslash"), ("caf\u00e9.txt", "ASCII"),
                 (too_long, "37 characters")]
        for name, reason in cases:
            work = Workspace({"1.0.0": {"Orvex.dll": b"core", name: b"x"}},
                             {"base_url": "http://h", "versions": ["1.0.0"]})
            try:
                run = work.publish("out", "--max-install-path", "200")
                self.assertEqual(run.returncode, 1, name)
                self.assertIn(name.split("/")[-1], run.stderr, name)
                self.assertIn(reason, run.stderr, name)
                self.assertFalse(os.path.exists(os.path.join(work.dir, "out", "version.xml")))
            finally:
                work.remove()

    def test_config_errors_say_where_and_what(self):
        base = {"base_url": "http://h", "versions": ["1.0.0", "1.0.1"]}
        cases = [({"versoins": []}, "unknown key 'versoins'"),
                 ({"base_url": "http://h/x?a=1"}, "base_url: must be"),
                 ({"version": "2.0"}, "version: '2.0' is not in"),
                 ({"games": [{"id": "7"}]}, "games[0].id: must be a whole number"),
                 ({"games": [{"id": 7}, {"id": 7}]}, "games[1].id: game 7 is listed twice"),
                 ({"serial": "7"}, "serial: must be a whole number from 1 to"),
                 ({"delta_bases": -1}, "delta_bases: must be a whole number from 0"),
                 ({"delta_size_limit": 2**27 + 1}, "delta_size_limit: must be a whole number"),
                 ({"games": [{"id": 7, "areas": [{"area": 1, "group": 2, "version": "1.0.0",
                                                   "archive": "patch"}]}]},
                  "games[0].areas[0].archive: \"patch\" needs a version before")]
        for change, message in cases:
            with self.assertRaises(config.PublishError) as raised:
                config.parse({**base, **change})
            self.assertIn(message, str(raised.exception))


class TwoVersions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Workspace()
        cls.started = int(time.time())
        cls.result = cls.work.publish("out")
        cls.finished = int(time.time())
        cls.tree = read_tree(os.path.join(cls.work.dir, "out"))

    @classmethod
    def tearDownClass(cls):
        cls.work.remove()

    def payload(self, url):
        """The tree's file for a URL, checked to be named by its SHA-256."""
        prefix = "http://cdn.example.com/orvex/"
        self.assertTrue(url.startswith(prefix), url)
        data = self.tree[url[len(prefix):]]
        self.assertEqual(os.path.basename(url).split(".")[0], hashlib.sha256(data).hexdigest())
        return data

    def unpacked(self, url):
        return unpack(self.payload(url))

    def test_manifest_selects_per_game_area_and_group(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        root = ET.fromstring(self.tree["version.xml"])
        game = root.find("game")
        elements = [root, game, *game.findall("area")]
        self.assertEqual([(e.tag, e.get("name"), e.get("group"), e.get("start"), e.get("version"))
                          for e in elements],
                         [("root", None, None, "1", "1.0.1"), ("game", "7", None, "0", "1.0.1"),
                          ("area", "30", "2", "0", "1.0.0"), ("area", "-1", "0", "1", "1.0.1")])
        root_url, game_url, old_url, patch_url = [e.get("url") for e in elements]
        for e in elements:
            self.assertEqual(e.get("sha256"), hashlib.sha256(self.payload(e.get("url"))).hexdigest())
        self.assertEqual(root_url, game_url)
        self.assertEqual(self.unpacked(root_url), RELEASES["1.0.1"])
        self.assertEqual(self.unpacked(old_url), RELEASES["1.0.0"])
        # Only what changed or came new; a file that went away is not mentioned.
        self.assertEqual(self.unpacked(patch_url), {k: RELEASES["1.0.1"][k] for k in (
            "Orvex.dll", "data/level.dat", "data/maps/new.map", "empty.txt")})
        self.assertIn("data\\old.dat of 1.0.0 is gone", self.result.stdout)

    def test_a_first_manifest_has_the_time_as_serial_and_names_the_check_list(self):
        root = root_of(self.tree["version.xml"])
        self.assertIsNotNone(serial.parse(root["serial"]), root["serial"])
        self.assertTrue(self.started <= int(root["serial"]) <= self.finished, root["serial"])
        self.assertIn(f"serial {root['serial']}: the time", self.result.stdout)
        self.assertEqual(root["checklist_sha256"],
                         hashlib.sha256(self.tree["g_file_check_list.xml"]).hexdigest())

    def test_check_lists_name_every_nonempty_file_with_its_md5_and_a_good_copy(self):
        self.assertEqual(self.tree["g_file_check_list.xml"],
                         self.tree["lists/1.0.1/g_file_check_list.xml"])
        for version, files in RELEASES.items():
            root = ET.fromstring(self.tree[f"lists/{version}/g_file_check_list.xml"])
            self.assertEqual(root.get("version"), version)
            listed = {}
            for entry in root:
                data = self.payload(entry.get("remote_file_url"))
                self.assertEqual(entry.get("md5"), hashlib.md5(data).hexdigest())
                self.assertEqual(entry.get("sha256"), hashlib.sha256(data).hexdigest())
                listed[entry.get("name")] = data
            self.assertEqual(listed, {k.replace("/", "\\"): v for k, v in files.items() if v})

    def test_a_rerun_writes_the_same_tree(self):
        self.assertFalse([name for name in self.tree if name.endswith(".sig")])
        again = self.work.publish("out")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertNotIn("wrote", again.stdout)
        # The releases copied in another order, with other times, give the same bytes.
        moved = os.path.join(self.work.dir, "releases")
        shutil.move(moved, moved + ".old")
        for version, files in RELEASES.items():
            write_tree(os.path.join(moved, version), dict(reversed(files.items())))
            os.utime(os.path.join(moved, version, "Orvex.dll"), (1, 1))
        fresh = self.work.publish("fresh", "--serial", root_of(self.tree["version.xml"])["serial"])
        self.assertEqual(fresh.returncode, 0, fresh.stderr)
        self.assertEqual(read_tree(os.path.join(self.work.dir, "fresh")), self.tree)
        self.assertEqual(read_tree(os.path.join(self.work.dir, "out")), self.tree)


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def delta_release(n):
    """Release 1.0.<n>: the core and a text (2^11 bytes, a window's edge) change by a few
    bytes; big.bin too, but it is over the tests' size limit and shrinks; noise.bin is new
    random bytes each time."""
    core, text = noise(1, 1500), noise(2, 1021).hex().encode()
    files = {"Orvex.dll": core[:1000] + b"v%d" % n + core[1000:],
             "data/a/b.txt": text[:1000] + b"line %d" % n + text[1000:],
             "data/big.bin": noise(3, 6000 - n) + bytes([n]),
             "data/noise.bin": noise(10 + n, 3000), "data/same.ini": b"same"}
    files.update({0: {"data/gone.txt": b"only in 1.0.0"}, 2: {"data/with space.dat": b"2"},
                  3: {"data/with space.dat": b"2", "data/a-b.txt": b"new in 1.0.3"}}.get(n, {}))
    return files


DELTA_RELEASES = {f"1.0.{n}": delta_release(n) for n in range(4)}
DELTA_CONFIG = {"base_url": "http://cdn.example.com/orvex", "versions": list(DELTA_RELEASES),
                "delta_size_limit": 4096,
                "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "version": "1.0.0"},
                                              {"area": 31, "group": 0, "version": "1.0.2"}]}]}
# (version, base) -> {path: method}: the changed files, then the added ones, whole.
DELTA_METHODS = {(v, b): {"Orvex.dll": "zstd", "data/a/b.txt": "zstd", "data/big.bin": "whole",
                          "data/noise.bin": "whole", **{p: "whole" for p in DELTA_RELEASES[v]
                                                        if p not in DELTA_RELEASES[b]}}
                 for v, b in [("1.0.3", "1.0.2"), ("1.0.3", "1.0.1"), ("1.0.3", "1.0.0"),
                              ("1.0.2", "1.0.1"), ("1.0.2", "1.0.0")]}


def sha(data):
    return hashlib.sha256(data).hexdigest()


def rebuild(base_files, archive, scratch):
    """The files a delta archive produces, applied with the zstd CLI as the bridge would,
    checking every digest and size its index gives."""
    produced, named = {}, {"orvex_delta.txt"}
    for line in archive["orvex_delta.txt"].decode().split("\n")[3:-1]:
        method, log, base_sha, result_sha, size, path = line.split(" ", 5)
        entry = f"data/{path}.zst" if method == "zstd" else f"data/{path}"
        named.add(entry)
        data = archive[entry]
        if method == "zstd":
            assert sha(base_files[path]) == base_sha, path
            write_tree(scratch, {"base": base_files[path], "frame": data})
            data = subprocess.run(["zstd", "-d", "-q", "-c", f"--long={log}",
                                   f"--patch-from={scratch}/base", f"{scratch}/frame"],
                                  check=True, capture_output=True).stdout
        assert (sha(data), len(data)) == (result_sha, int(size)), path
        produced[path] = data
    assert named == set(archive), "entries the index does not name"
    return produced


class Deltas(unittest.TestCase):
    """Four releases; every selected version gets deltas from the three before it."""

    @classmethod
    def setUpClass(cls):
        cls.work = Workspace(DELTA_RELEASES, DELTA_CONFIG)
        cls.result = cls.work.publish("out", "--serial", "5")
        cls.tree = read_tree(os.path.join(cls.work.dir, "out"))
        cls.root = ET.fromstring(cls.tree["version.xml"])

    @classmethod
    def tearDownClass(cls):
        cls.work.remove()

    def children(self, element):
        return [(d.get("from"), d.get("url"), d.get("sha256")) for d in element
                if d.tag == "delta"]

    def deltas(self):
        """{(version, base): unpacked archive} for the root's and the 1.0.2 area's deltas."""
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        found = {}
        for element in (self.root, self.root.find("game/area[@name='31']")):
            for base, url, digest in self.children(element):
                data = self.tree[url.split("/", 4)[4]]
                self.assertEqual((url.split("/")[-1], sha(data)), (digest + ".7z", digest))
                found[(element.get("version"), base)] = unpack(data)
        self.assertEqual(set(found), set(DELTA_METHODS))
        return found

    def test_deltas_rebuild_each_release_byte_for_byte_with_the_zstd_cli(self):
        for (version, base), archive in self.deltas().items():
            with tempfile.TemporaryDirectory() as scratch:
                produced = rebuild(DELTA_RELEASES[base], archive, scratch)
            new, old = DELTA_RELEASES[version], DELTA_RELEASES[base]
            self.assertEqual(produced, {k: v for k, v in new.items() if old.get(k) != v})

    def test_the_index_names_each_file_with_its_method_and_window_sorted_by_path(self):
        for (version, base), archive in self.deltas().items():
            lines = archive["orvex_delta.txt"].decode().split("\n")
            self.assertEqual(lines[:3] + lines[-1:],
                             ["orvex-delta 1", f"from {base}", f"to {version}", ""])
            rows = [line.split(" ", 5) for line in lines[3:-1]]
            self.assertEqual([r[5] for r in rows], sorted((r[5] for r in rows), key=str.encode))
            self.assertEqual({r[5]: r[0] for r in rows}, DELTA_METHODS[(version, base)])
            for method, log, base_sha, _, _, path in rows:
                # The smallest power of two that holds the file and its base, at least 2^10.
                window = max(len(DELTA_RELEASES[base].get(path, b"")),
                             len(DELTA_RELEASES[version][path]))
                expected = next(n for n in range(10, 32) if 2**n >= window)
                self.assertEqual(log, str(expected) if method == "zstd" else "-", path)
                self.assertEqual(base_sha == "-", method == "whole", path)

    def test_the_same_inputs_make_the_same_tree(self):
        again = self.work.publish("again", "--serial", "5")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(read_tree(os.path.join(self.work.dir, "again")), self.tree)

    def test_a_file_over_the_size_limit_goes_whole_and_the_option_overrides_the_config(self):
        # (options, method of data/big.bin in the delta 1.0.3 from 1.0.2: 5998 bytes, 5999 in
        # the base)
        cases = [([], "whole"), (["--delta-size-limit", "5999"], "zstd"),
                 (["--delta-size-limit", "5998"], "whole")]
        for i, (options, method) in enumerate(cases):
            run = self.work.publish(f"limit{i}", "--delta-bases", "1", *options)
            self.assertEqual(run.returncode, 0, run.stderr)
            tree = read_tree(os.path.join(self.work.dir, f"limit{i}"))
            url = ET.fromstring(tree["version.xml"]).find("delta").get("url")
            index = unpack(tree[url.split("/", 4)[4]])["orvex_delta.txt"].decode()
            self.assertIn(f"\n{method} ", index.split(" data/big.bin\n")[0][-200:], options)

    def test_delta_bases_sets_how_many_versions_back_deltas_start(self):
        # (options, config change, bases of 1.0.3, files in deltas/); with none, zstd is not run.
        cases = [([], {}, ["1.0.2", "1.0.1", "1.0.0"], 5),
                 (["--delta-bases", "1"], {}, ["1.0.2"], 2),
                 ([], {"delta_bases": 1}, ["1.0.2"], 2),
                 (["--delta-bases", "0", "--zstd", "/nonexistent/zstd"], {"delta_bases": 2}, [],
                  0)]
        for i, (options, change, bases, count) in enumerate(cases):
            self.work.configure({**DELTA_CONFIG, **change})
            run = self.work.publish(f"k{i}", *options)
            self.assertEqual(run.returncode, 0, (options, run.stderr))
            tree = read_tree(os.path.join(self.work.dir, f"k{i}"))
            root = ET.fromstring(tree["version.xml"])
            self.assertEqual([c[0] for c in self.children(root)], bases, options)
            self.assertEqual(len([k for k in tree if k.startswith("deltas/")]), count, options)
        self.work.configure(DELTA_CONFIG)

    def test_delta_children_come_first_and_leave_every_other_attribute_alone(self):
        run = self.work.publish("none", "--serial", "5", "--delta-bases", "0")
        self.assertEqual(run.returncode, 0, run.stderr)
        plain = ET.fromstring(read_tree(os.path.join(self.work.dir, "none"))["version.xml"])
        walk = lambda root: [(e.tag, e.attrib) for e in root.iter() if e.tag != "delta"]
        self.assertEqual(walk(self.root), walk(plain))
        for element in self.root.iter():
            tags = [child.tag for child in element]
            self.assertEqual(tags, sorted(tags, key=lambda tag: tag != "delta"), element.attrib)
        # Each element offers its own version's deltas; 1.0.0 has none.
        self.assertEqual([len(self.children(e)) for e in self.root.iter() if e.tag != "delta"],
                         [3, 3, 0, 2])

    def test_the_report_sets_each_delta_beside_the_archive_a_player_on_its_base_gets(self):
        size = {f"{kind} {version}": len(self.tree[f"{kind}/{name}.7z"]) for kind, name, version
                in re.findall(r"(packages|patches)/(\w+)\.7z  \((\S+)", self.result.stdout)}
        rows = re.findall(r"deltas/(\w+)\.7z  \((\S+) delta from (\S+): .* (\d+) bytes beside "
                          r"the (.*) of (\d+) bytes\)", self.result.stdout)
        self.assertEqual(len(rows), len(DELTA_METHODS))
        for name, version, base, delta_size, archive, archive_size in rows:
            last = base == DELTA_CONFIG["versions"][DELTA_CONFIG["versions"].index(version) - 1]
            self.assertEqual(archive, f"patch from {base}" if last else "url's package")
            self.assertEqual((int(delta_size), int(archive_size)),
                             (len(self.tree[f"deltas/{name}.7z"]),
                              size[f"patches {version}" if last else f"packages {version}"]))


class Serials(unittest.TestCase):
    def test_the_serial_rises_with_each_change_and_never_goes_back(self):
        work = Workspace()
        stopped = {**CONFIG, "start": False}
        out = os.path.join(work.dir, "out")
        # (config, options, exit status, serial served afterwards, words of the message)
        steps = [(CONFIG, ["--serial", "5"], 0, "5", "given by --serial"),
                 (CONFIG, [], 0, "5", "the served one"),
                 (stopped, [], 0, "6", "one more than the served 5"),
                 (CONFIG, ["--serial", "4"], 1, "6", "--serial 4 is lower than 6"),
                 ({**CONFIG, "serial": 5}, [], 1, "6", "--serial 5 is lower than 6"),
                 (CONFIG, ["--serial", "6"], 1, "6", "--serial 6 is the serial of"),
                 (stopped, ["--serial", "6"], 0, "6", "the served one"),
                 ({**stopped, "serial": 9}, [], 0, "9", "given by --serial"),
                 (stopped, ["--serial", "07"], 2, "9", "'07' is not a serial")]
        try:
            for cfg, options, status, served, message in steps:
                work.configure(cfg)
                before = read_tree(out) if os.path.exists(out) else {}
                run = work.publish("out", *options)
                self.assertEqual(run.returncode, status, (options, run.stderr))
                self.assertIn(message, run.stdout + run.stderr, options)
                after = read_tree(out)
                self.assertEqual(root_of(after["version.xml"])["serial"], served, options)
                if status != 0 or "the served one" in message:
                    self.assertEqual(after, before, options)
        finally:
            work.remove()


class Signing(unittest.TestCase):
    """keygen, a signed tree, and the sign command, with the openssl program."""

    DOCUMENTS = ["version.xml", "g_file_check_list.xml", "lists/1.0.0/g_file_check_list.xml",
                 "lists/1.0.1/g_file_check_list.xml"]

    @classmethod
    def setUpClass(cls):
        cls.work = Workspace()
        cls.keys = os.path.join(cls.work.dir, "keys")
        cls.keygen = subprocess.run([sys.executable, os.path.join(TOOL, "orvex_publish.py"),
                                     "keygen", "--out", cls.keys], capture_output=True, text=True)
        cls.key = os.path.join(cls.keys, signing.PRIVATE_NAME)
        cls.result = cls.work.publish("out", "--signing-key", cls.key)
        cls.tree = read_tree(os.path.join(cls.work.dir, "out"))

    @classmethod
    def tearDownClass(cls):
        cls.work.remove()

    def test_keygen_writes_a_private_key_and_the_public_digits_once(self):
        self.assertEqual(self.keygen.returncode, 0, self.keygen.stderr)
        self.assertEqual(os.stat(self.key).st_mode & 0o777, 0o600)
        with open(os.path.join(self.keys, signing.PUBLIC_NAME)) as f:
            public = f.read().strip()
        self.assertRegex(public, "^[0-9a-f]{128}$")
        self.assertEqual(public, signing.Signer(self.key).public_hex())
        again = subprocess.run([sys.executable, os.path.join(TOOL, "orvex_publish.py"), "keygen",
                                "--out", self.keys], capture_output=True, text=True)
        self.assertEqual(again.returncode, 1)
        self.assertIn("never replaces a key", again.stderr)

    def test_every_document_and_only_the_documents_are_signed(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        signer = signing.Signer(self.key)
        signatures = sorted(name for name in self.tree if name.endswith(".sig"))
        self.assertEqual(signatures, sorted(d + ".sig" for d in self.DOCUMENTS))
        for document in self.DOCUMENTS:
            data, signature = self.tree[document], self.tree[document + ".sig"]
            self.assertEqual(len(signature), 64)
            self.assertTrue(signer.verifies(data, signature), document)
            self.assertFalse(signer.verifies(data + b" ", signature), document)
        # A signature of one document is no signature of another.
        self.assertFalse(signer.verifies(self.tree["version.xml"],
                                         self.tree["g_file_check_list.xml.sig"]))

    def test_a_rerun_keeps_the_signatures_and_a_new_key_replaces_them(self):
        again = self.work.publish("out", "--signing-key", self.key)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertNotIn("wrote", again.stdout)
        other = os.path.join(self.work.dir, "other")
        signing.keygen(other)
        rotated = self.work.publish("rotated", "--signing-key", self.key)
        self.assertEqual(rotated.returncode, 0, rotated.stderr)
        rotated = self.work.publish("rotated", "--signing-key",
                                    os.path.join(other, signing.PRIVATE_NAME))
        self.assertEqual(rotated.returncode, 0, rotated.stderr)
        self.assertEqual(sorted(line.split()[1] for line in rotated.stdout.splitlines()
                                if line.strip().startswith("wrote")),
                         sorted(d + ".sig" for d in self.DOCUMENTS))

    def test_signature_halves_of_every_length_survive_the_der_form(self):
        # Random signatures rarely have a short half or one with its top bit set.
        halves = [b"\x80" + b"\x01" * 31, b"\x00" * 31 + b"\x01", b"\x00\x7f" + b"\xff" * 30,
                  b"\xff" * 32]
        for r in halves:
            for s in halves:
                self.assertEqual(signing.der_to_raw(signing.raw_to_der(r + s)), r + s)

    def sign(self, *args):
        return subprocess.run([sys.executable, os.path.join(TOOL, "orvex_publish.py"), "sign",
                               "--signing-key", self.key, *args], capture_output=True, text=True)

    def test_sign_sets_a_manifests_serial_and_check_list_digest_in_its_root_tag_only(self):
        manifest = ("<?xml version='1.0'?>\r\n<!-- <root serial=\"1\"> -->\r\n"
                    "<root start = '0'{serial}\r\n  url=\"x\"{added}/><!-- end -->\r\n")
        check_list = self.tree["g_file_check_list.xml"]
        digest = f' checklist_sha256="{hashlib.sha256(check_list).hexdigest()}"'
        # (serial in the file, --serial, exit status, serial then (None: the time), check list
        # beside it and given too)
        cases = [("", [], 0, None, True), (' serial="007"', [], 0, None, False),
                 (' serial="7"', [], 0, "7", True),
                 (' serial="7"', ["--serial", "9"], 0, "9", True),
                 (' serial="7"', ["--serial", "6"], 1, "7", True)]
        signer = signing.Signer(self.key)
        for written, options, status, expected, listed in cases:
            case = (written, options)
            where = tempfile.mkdtemp(dir=self.work.dir)
            before = {"version.xml": manifest.format(serial=written, added="").encode()}
            if listed:
                before["g_file_check_list.xml"] = check_list
            write_tree(where, before)
            started = int(time.time())
            run = self.sign(*options, *[os.path.join(where, name) for name in before])
            self.assertEqual(run.returncode, status, (case, run.stderr))
            after = read_tree(where)
            if status != 0:
                self.assertIn("--serial 6 is lower than 7", run.stderr)
                self.assertEqual(after, before, case)
                continue
            number = root_of(after["version.xml"])["serial"]
            self.assertEqual(number, expected or number, case)
            if expected is None:
                self.assertTrue(started <= int(number) <= int(time.time()), case)
            # A serial there is replaced where it stands; new attributes follow the others.
            attribute = f' serial="{number}"'
            self.assertEqual(after["version.xml"], manifest.format(
                serial=attribute if written else "",
                added=("" if written else attribute) + (digest if listed else "")).encode(), case)
            for name in before:
                self.assertTrue(signer.verifies(after[name], after[name + ".sig"]), case)
                self.assertTrue(name == "version.xml" or after[name] == before[name], case)

    def test_sign_signs_other_files_unchanged_and_bad_keys_are_refused(self):
        path = os.path.join(self.work.dir, "by_hand.xml")
        with open(path, "wb") as f:
            f.write(b'<root version="1.0.0"/>')
        run = self.sign(path)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b'<root version="1.0.0"/>')
        with open(path + ".sig", "rb") as f:
            self.assertTrue(signing.Signer(self.key).verifies(b'<root version="1.0.0"/>', f.read()))
        rsa = os.path.join(self.work.dir, "rsa.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-out", rsa], check=True,
                       capture_output=True)
        for key, message in [(rsa, "not an ECDSA P-256 key"), (rsa + ".none", "no such key")]:
            run = self.work.publish("refused", "--signing-key", key)
            self.assertEqual(run.returncode, 1, key)
            self.assertIn(message, run.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.work.dir, "refused")))


if __name__ == "__main__":
    unittest.main()
