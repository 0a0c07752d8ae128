#!/usr/bin/env python3
"""Runs the tests that `ctest --show-only=json-v1` lists, one at a time, without ctest.

    ctest_json_run.py TESTS_JSON LOG_DIR [REGEX]

For the i686 build inside the emulated machine, which has no cmake. Each test runs as ctest
would run it serially: in the listed order, a test only after the tests it depends on (the
fixture setups), none of them beside another (so every resource lock holds), in its working
directory with its environment. A test whose fixture setup failed is not run and fails. A
test labelled build_machine needs the build machine's own tools and is skipped here; one
labelled host_side has already run on the build machine, and its result is read from
vm-host-side.xml (ctest's JUnit output) beside TESTS_JSON. A
program found at another place on this machine than on the one that configured the build
(python3 from a per-user install, say) is taken by its name. Each test gets at most
ORVEX_VM_TEST_LIMIT seconds (default 480, twice the slowest program's time in the emulated
machine), and its whole process group is killed after that: a wine program can hang at exit. With REGEX, only the tests whose names it finds run, with
the fixture setups they need, as with ctest -R. Prints one line per test, the output of each
failed one, and a closing count; exits 1 when any failed.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

OUTPUT_TAIL_LINES = 200
BUILD_MACHINE = "build_machine"  # the label of tests that need the build machine's tools
HOST_SIDE = "host_side"  # the label of tests that ran on the build machine before the boot


def properties(test):
    return {p["name"]: p["value"] for p in test.get("properties", [])}


def resolve_program(command):
    program = command[0]
    if os.access(program, os.X_OK):
        return command
    found = shutil.which(os.path.basename(program))
    return [found] + command[1:] if found else None


def order(tests):
    """ctest's serial order without cost data: the first listed test whose dependencies
    are done, again and again. A fixture's cleanup waits for every test that requires it."""
    names = {t["name"] for t in tests}
    needs = {}
    for t in tests:
        props = properties(t)
        deps = set(props.get("DEPENDS", []))
        for fixture in props.get("FIXTURES_CLEANUP", []):
            deps |= {
                u["name"]
                for u in tests
                if fixture in properties(u).get("FIXTURES_REQUIRED", []) and u is not t
            }
        needs[t["name"]] = deps & names
    done, ordered = set(), []
    pending = list(tests)
    while pending:
        ready = next((t for t in pending if needs[t["name"]] <= done), pending[0])
        pending.remove(ready)
        done.add(ready["name"])
        ordered.append(ready)
    return ordered


def select(tests, regex):
    """The tests whose names match, and every test they depend on."""
    by_name = {t["name"]: t for t in tests}
    wanted = [t["name"] for t in tests if re.search(regex, t["name"])]
    chosen = set()
    while wanted:
        name = wanted.pop()
        if name in chosen or name not in by_name:
            continue
        chosen.add(name)
        wanted.extend(properties(by_name[name]).get("DEPENDS", []))
    return [t for t in tests if t["name"] in chosen]


def host_side_results(path):
    """Each host-side test's name and whether it passed, from ctest's JUnit output."""
    try:
        cases = ElementTree.parse(path).getroot().iter("testcase")
    except (OSError, ElementTree.ParseError):
        return {}
    return {
        case.get("name"): case.get("status") == "run"
        and case.find("failure") is None
        and case.find("error") is None
        for case in cases
    }


def run_one(test, props, log_path, limit):
    """Returns (passed, note)."""
    command = resolve_program(test.get("command") or [""])
    if command is None:
        return False, "program not found"
    env = dict(os.environ)
    for entry in props.get("ENVIRONMENT", []):
        key, _, value = entry.partition("=")
        env[key] = value
    timeout = min(limit, float(props.get("TIMEOUT", limit)) or limit)
    with open(log_path, "wb") as log:
        process = subprocess.Popen(
            command,
            cwd=props.get("WORKING_DIRECTORY") or None,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return False, "timeout after %.0f s" % timeout
        finally:
            try:  # nothing the test started may outlive it into the next one
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    if code == props.get("SKIP_RETURN_CODE"):
        return True, "skipped"
    passed = (code == 0) != bool(props.get("WILL_FAIL"))
    return passed, "" if passed else "exit code %d" % code


def print_tail(log_path):
    with open(log_path, "rb") as log:
        lines = log.read().decode("utf-8", "replace").replace("\r", "").splitlines()
    for line in lines[-OUTPUT_TAIL_LINES:]:
        print("    " + line)


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1]) as f:
        tests = json.load(f)["tests"]
    if len(sys.argv) == 4:
        tests = select(tests, sys.argv[3])
    tests = order(tests)
    log_dir = sys.argv[2]
    os.makedirs(log_dir, exist_ok=True)
    limit = float(os.environ.get("ORVEX_VM_TEST_LIMIT", "480"))
    host_side = host_side_results(os.path.join(os.path.dirname(sys.argv[1]), "vm-host-side.xml"))
    failed_names, ran, skipped = [], set(), 0
    suite_start = time.monotonic()
    for index, test in enumerate(tests, 1):
        name, props = test["name"], properties(test)
        log_path = os.path.join(log_dir, name + ".log")
        blocked = [d for d in props.get("DEPENDS", []) if d in failed_names]
        start = time.monotonic()
        if props.get("DISABLED") or BUILD_MACHINE in props.get("LABELS", []):
            passed, note = True, "skipped"
        elif blocked:
            passed, note = False, "not run: failed " + ", ".join(blocked)
        elif HOST_SIDE in props.get("LABELS", []):
            passed = host_side.get(name, False)
            note = "on the build machine" if passed else "failed on the build machine"
        else:
            passed, note = run_one(test, props, log_path, limit)
            ran.add(name)
        seconds = time.monotonic() - start
        skipped += note == "skipped"
        status = "Skipped" if note == "skipped" else "Passed" if passed else "***Failed"
        print(
            "%3d/%d %-40s %-9s %7.1f s  %s" % (index, len(tests), name, status, seconds, note),
            flush=True,
        )
        if not passed:
            failed_names.append(name)
            if name in ran and os.path.exists(log_path):
                print_tail(log_path)
    print("i686 suite: %.0f s in the emulated machine" % (time.monotonic() - suite_start))
    if failed_names:
        print("failed: " + ", ".join(failed_names))
    passed = len(tests) - len(failed_names) - skipped
    print("i686: %d passed, %d failed, %d skipped" % (passed, len(failed_names), skipped))
    return 1 if failed_names else 0


if __name__ == "__main__":
    sys.exit(main())
