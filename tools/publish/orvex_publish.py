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
  packages/<sha256>.7z, patches/<sha256>.7z, files/<sha256>  named by their content
base_url is where packages/, patches/ and files/ are reachable: that server, or a CDN that
holds a copy of them. Nothing in the tree is ever deleted. The same inputs and the same 7zz
give the same tree, byte for byte.

The documents give the SHA-256 of every archive and file they name. With --signing-key,
each document also gets "<document>.sig", its detached ECDSA P-256 signature, which a
bridge built with the key's public half (CMake: -DORVEX_SIGNING_PUBLIC_KEY=FILE) requires.
Two more commands, which need the openssl program:
  orvex_publish.py keygen --out DIR        makes DIR/signing_key.pem (keep it secret) and
                                           DIR/signing_key.pub.hex (for the build)
  orvex_publish.py sign --signing-key KEY FILE...   writes FILE.sig for each FILE, such
                                           as a version.xml written by hand

Exit status: 0 when the tree was written (the report lists each file, then any warnings),
1 when something must be fixed first (the message says what), 2 for a bad command line.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # run from the checkout: leave no caches in it
from publisher import config as config_file
from publisher import names, sevenzip, signing
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
    args = parser.parse_args(argv)
    limit = names.longest_name(args.max_install_path)
    if args.max_install_path < 4 or limit < 1:
        parser.error("--max-install-path leaves no room for a file name in a 260-character "
                     "path")
    return args, limit


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


def _sign(argv):
    parser = argparse.ArgumentParser(prog="orvex_publish.py sign",
                                     description="Writes FILE.sig beside each FILE.")
    parser.add_argument("--signing-key", required=True, metavar="FILE")
    parser.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    signer = signing.Signer(args.signing_key)
    for path in args.files:
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            raise PublishError(f"{path}: cannot be read ({e.strerror})") from None
        with open(path + ".sig", "wb") as f:
            f.write(signer.sign(data))
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
        rows, warnings = publish(config, Options(args.releases, args.out, args.sevenzip, limit,
                                                 signer))
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
