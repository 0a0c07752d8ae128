#!/usr/bin/env python3
"""Writes the update server's tree from a studio's release folders.

Each version of the core module's installation is a folder under RELEASES, named by its
version and laid out as the installation directory (bin beside the bridge) is, Orvex.dll at
its top. The config names the versions in order, oldest first, the URL the payloads are
served under, and what the manifest selects for the root, each game and each area and group:

  {
    "base_url": "http://updates.example.com:8008",
    "versions": ["1.0.0", "1.0.1"],
    "version": "1.0.1", "start": true, "archive": "package",
    "games": [
      {"id": 7, "areas": [{"area": 30, "group": 2, "version": "1.0.0", "start": false}]}
    ]
  }

"version" (default: the last of "versions"), "start" (true lets the core start) and
"archive" are inherited from the level above when left out. "archive" says which archive
an element's URL names: "package" (the default), the whole release, right for every
machine; or "patch", the files changed or added since the version before, right only for
machines on that version, since the bridge uses the one URL for a fresh install too.

The tree, to be served at the root of the bridge's update server (port 8008):
  version.xml, g_file_check_list.xml   the only files that change between runs
  lists/<version>/g_file_check_list.xml  each selected version's check list
  packages/<sha256>.7z, patches/<sha256>.7z, deltas/<sha256>.7z, files/<sha256>  named by
                                         their content
base_url is where packages/, patches/, deltas/ and files/ are reachable: that server, or a
CDN that holds a copy of them. Nothing in the tree is ever deleted. The same inputs, the
same 7zz and zstd and the same serial give the same tree, byte for byte.

The manifest's root carries "serial", which a bridge never lets go down, and
"checklist_sha256", the SHA-256 of the g_file_check_list.xml written beside it. The serial
is --serial N (or the config's "serial", 1 to 2^63-1); else the served version.xml's when
the manifest is unchanged (the run then rewrites nothing), one more than it when not, or the
time in seconds when no served manifest has one. A serial below the served one, or equal to
it for a changed manifest, fails the run, and the served documents stay as they were.

The documents give the SHA-256 of every archive and file they name. With --signing-key,
each document also gets "<document>.sig", its detached ECDSA P-256 signature, which a
bridge built with the key's public half (CMake: -DORVEX_SIGNING_PUBLIC_KEY=FILE) requires.
Two more commands, which need the openssl program:
  orvex_publish.py keygen --out DIR        makes DIR/signing_key.pem (keep it secret) and
                                           DIR/signing_key.pub.hex (for the build)
  orvex_publish.py sign --signing-key KEY [--serial N] FILE...   writes FILE.sig for each
      FILE, such as a version.xml written by hand. A manifest first gets, in its root start
      tag only, its serial (kept, or raised to N, or the time when it has none) and the
      checklist_sha256 of the g_file_check_list.xml beside it; other files stay as they are.

Deltas: for each selected version and each of the "delta_bases" versions before it (default
3, --delta-bases; 0 makes none), deltas/<sha256>.7z holds what a machine on that version
needs: each changed file as a zstd binary delta against its old copy, when that is smaller
than the file compressed alone, and each added file whole. Files over "delta_size_limit"
bytes (default 64 MiB, --delta-size-limit; their old copy too) go whole. Every element that
names a url gets a <delta from="BASE" url=... sha256=...> child per delta of its version;
a bridge on another version, or one that cannot use the delta, takes the url as before.

Exit status: 0 when the tree was written (the report lists each file, then any warnings),
1 when something must be fixed first (the message says what), 2 for a bad command line.
"""

import argparse
import os
import sys
import tempfile

sys.dont_write_bytecode = True  # run from the checkout: leave no caches in it
from publisher import config as config_file
from publisher import delta, names, serial, sevenzip, signing
from publisher.build import Options, publish
from publisher.config import PublishError


def _arguments(argv):
    parser = argparse.ArgumentParser(
        prog="orvex_publish.py", description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--config", required=True, metavar="FILE",
                        help="the JSON config described above")
    parser.add_argument("--releases", required=True, metavar="DIR",
                        help="the folder that holds one release folder per version")
    parser.add_argument("--out", required=True, metavar="DIR",
                        help="the server tree to write (made when missing; files already "
                        "there are never deleted, so players mid-download still find theirs)")
    parser.add_argument("--max-install-path", type=int, default=names.DEFAULT_MAX_INSTALL_PATH,
                        metavar="N", help="the longest installation directory on a player's "
                        "machine, in characters: the bridge's folder plus \\bin\\, trailing "
                        "backslash included (default %(default)s). Names that would not fit "
                        "the bridge's 260-character paths below it are refused")
    parser.add_argument("--max-temp-path", type=int, default=names.DEFAULT_MAX_TEMP_PATH,
                        metavar="N", help="accepted for older scripts; the bridge now unpacks "
                        "beside its installation, so only --max-install-path limits names")
    parser.add_argument("--7zz", dest="sevenzip", default="7zz", metavar="PROGRAM",
                        help="the 7zz program to pack with (default: 7zz on PATH)")
    parser.add_argument("--signing-key", metavar="FILE",
                        help="the private key (signing_key.pem from keygen) to sign the "
                        "documents with; without it no .sig files are written")
    parser.add_argument("--zstd", default="zstd", metavar="PROGRAM",
                        help="the zstd program to make deltas with (default: zstd on PATH)")
    parser.add_argument("--delta-bases", type=_whole(config_file.delta_bases_problem),
                        metavar="K", help="make deltas from the K versions before each "
                        "selected one (or the config's \"delta_bases\"; default "
                        f"{config_file.DELTA_BASES}); 0 makes none")
    parser.add_argument("--delta-size-limit", type=_whole(config_file.delta_size_limit_problem),
                        metavar="BYTES", help="a file larger than this, or whose old copy is, "
                        "goes whole into a delta (or the config's \"delta_size_limit\"; "
                        f"default {config_file.DELTA_SIZE_LIMIT})")
    _serial_option(parser, "the manifest's serial (or the config's \"serial\"); it may not "
                   "be lower than the served manifest's. Default: the served one for an "
                   "unchanged manifest, else one more than it, or the time without one")
    args = parser.parse_args(argv)
    limit = names.longest_name(args.max_install_path)
    if args.max_install_path < 4 or limit < 1:
        parser.error("--max-install-path leaves no room for a file name in a 260-character "
                     "path")
    return args, limit


def _whole(problem):
    def value(text):
        number = int(text) if text.isdigit() else None
        if number is None or (why := problem(number)) is not None:
            raise argparse.ArgumentTypeError(
                f"{text!r}: {why if number is not None else problem(text)}")
        return number
    return value


def _serial_option(parser, help):
    def value(text):
        number = serial.parse(text)
        if number is None:
            raise argparse.ArgumentTypeError(f"{text!r} is not a serial: {serial.RULE}")
        return number
    parser.add_argument("--serial", type=value, metavar="N", help=help)


def _keygen(argv):
    parser = argparse.ArgumentParser(prog="orvex_publish.py keygen",
                                     description="Makes a studio's signing key pair.")
    parser.add_argument("--out", required=True, metavar="DIR",
                        help="the folder for signing_key.pem and signing_key.pub.hex")
    args = parser.parse_args(argv)
    private, public = signing.keygen(args.out)
    print(f"private key {os.path.abspath(private)}: keep it secret, and keep a copy; a bridge "
          "built with its public half accepts only what it signs")
    print(f"public key {os.path.abspath(public)}: build the bridge with "
          f"-DORVEX_SIGNING_PUBLIC_KEY={os.path.abspath(public)}")


def _write(path, data):
    """Replaces path with data under a temporary name, keeping its mode."""
    folder = os.path.dirname(path) or "."
    mode = os.stat(path).st_mode & 0o777 if os.path.exists(path) else 0o644
    handle, scratch = tempfile.mkstemp(prefix=".sign-", dir=folder)
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        os.chmod(scratch, mode)
        os.replace(scratch, path)
    except BaseException:
        if os.path.exists(scratch):
            os.remove(scratch)
        raise


def _sign(argv):
    parser = argparse.ArgumentParser(
        prog="orvex_publish.py sign", description="Writes FILE.sig beside each FILE. A "
        "manifest (named version.xml, or whose root has serial, checklist_sha256, start, url "
        "or sha256, or which holds a <game>) first gets its serial and the SHA-256 of the "
        "g_file_check_list.xml beside it in its root start tag; other files are signed as "
        "they are.")
    parser.add_argument("--signing-key", required=True, metavar="FILE")
    _serial_option(parser, "a manifest's serial; at least the one it has. Default: the one "
                   "it has, or the time")
    parser.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    signer = signing.Signer(args.signing_key)
    # Everything is checked before anything is written; check lists come first, so a
    # manifest names final bytes (sign never changes a check list).
    planned = []
    for path in args.files:
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            raise PublishError(f"{path}: cannot be read ({e.strerror})") from None
        try:
            manifest = serial.is_manifest(path, data)
            if manifest:
                data = serial.for_signing(path, data, args.serial)
        except PublishError as e:
            raise PublishError(f"{path}: {e}") from None
        planned.append((manifest, path, data))
    planned.sort(key=lambda plan: plan[0])
    for manifest, path, data in planned:
        if manifest:
            _write(path, data)
            attributes = serial.root_attributes(data)
            digest = attributes.get("checklist_sha256", "none: no check list beside it")
            print(f"wrote {path} (serial {attributes['serial']}, checklist_sha256 {digest})")
        _write(path + ".sig", signer.sign(data))
        print(f"wrote {path}.sig")


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    commands = {"keygen": _keygen, "sign": _sign}
    if argv and argv[0] in commands:
        try:
            commands[argv[0]](argv[1:])
        except PublishError as e:
            print(f"orvex_publish: {e}", file=sys.stderr)
            return 1
        return 0
    args, limit = _arguments(argv)
    try:
        config = config_file.load(args.config)
        banner = sevenzip.version(args.sevenzip)
        signer = signing.Signer(args.signing_key) if args.signing_key else None
        number = args.serial if args.serial is not None else config.serial
        rows, warnings = publish(config, Options(
            args.releases, args.out, args.sevenzip, limit, signer, number, args.zstd,
            args.delta_bases, args.delta_size_limit))
        if any(relative.startswith("deltas/") for _, relative, _ in rows):
            banner += " and " + delta.Zstd(args.zstd).version()
    except PublishError as e:
        print(f"orvex_publish: {e}", file=sys.stderr)
        return 1
    files = [action for action, relative, _ in rows if relative.startswith("files/")]
    signed = f", signed by the key {signer.public_hex()[:16]}..." if signer else ", unsigned"
    print(f"Published {os.path.abspath(args.out)} with {banner}{signed}")
    print(f"  files/: {files.count('wrote')} written, {files.count('kept')} already there")
    for action, relative, description in rows:
        if not relative.startswith("files/"):
            print(f"  {action:5}  {relative}  ({description})")
    print(f"  installed names may be up to {limit} characters")
    for warning in warnings:
        print(f"warning: {warning}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
