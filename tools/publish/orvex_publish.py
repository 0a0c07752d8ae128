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

Exit status: 0 when the tree was written (the report lists each file, then any warnings),
1 when something must be fixed first (the message says what), 2 for a bad command line.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # run from the checkout: leave no caches in it
from publisher import config as config_file
from publisher import names, sevenzip
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
                        metavar="N", help="the longest temporary directory on a player's "
                        "machine (%%TEMP%% with its trailing backslash), where patches are "
                        "unpacked (default %(default)s)")
    parser.add_argument("--7zz", dest="sevenzip", default="7zz", metavar="PROGRAM",
                        help="the 7zz program to pack with (default: 7zz on PATH)")
    args = parser.parse_args(argv)
    limit = names.longest_name(args.max_install_path, args.max_temp_path)
    if args.max_install_path < 4 or args.max_temp_path < 4 or limit < 1:
        parser.error("--max-install-path and --max-temp-path leave no room for a file name "
                     "in a 260-character path")
    return args, limit


def main(argv=None):
    args, limit = _arguments(argv)
    try:
        config = config_file.load(args.config)
        banner = sevenzip.version(args.sevenzip)
        rows, warnings = publish(config, Options(args.releases, args.out, args.sevenzip, limit))
    except PublishError as e:
        print(f"orvex_publish: {e}", file=sys.stderr)
        return 1
    files = [action for action, relative, _ in rows if relative.startswith("files/")]
    print(f"Published {os.path.abspath(args.out)} with {banner}")
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
