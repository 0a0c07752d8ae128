"""Running the external programs the publisher packs and diffs with."""

import subprocess

from .config import PublishError


def run(program, args, missing, shown=None, cwd=None):
    """Runs program with args and returns its output; a PublishError when it cannot be run
    (missing says how to get it) or fails (shown: the arguments named in the message)."""
    try:
        done = subprocess.run([program, *args], cwd=cwd, capture_output=True, text=True)
    except OSError as e:
        raise PublishError(f"{program}: cannot be run ({e.strerror}); {missing}") from None
    if done.returncode != 0:
        raise PublishError(f"{program} {' '.join(args if shown is None else shown)} failed (exit "
                           f"{done.returncode}):\n{(done.stderr or done.stdout).strip()}")
    return done.stdout
