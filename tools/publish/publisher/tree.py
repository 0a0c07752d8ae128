"""Writing into the server tree without ever showing a half-written file.

Every file is written under a temporary name in its own folder and renamed into place, so a
server that serves the tree while it is being published hands out old or new files, never
a part of one. A content-addressed file that is already there is left alone: its name says
its bytes.
"""

import hashlib
import os
import shutil
import tempfile

_CHUNK = 1 << 20


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(_CHUNK):
            digest.update(chunk)
    return digest.hexdigest()


class TreeWriter:
    def __init__(self, root):
        self.root = root
        self.rows = []  # (what happened, path in the tree, description)
        self._scratches = []

    def path(self, relative):
        return os.path.join(self.root, *relative.split("/"))

    def scratch(self, folder, suffix):
        """A fresh temporary path inside folder of the tree, for a file that is moved into
        place later with place()."""
        os.makedirs(self.path(folder), exist_ok=True)
        handle, path = tempfile.mkstemp(prefix=".publish-", suffix=suffix, dir=self.path(folder))
        os.close(handle)
        os.remove(path)  # 7zz adds to an existing archive; it must make a new one
        self._scratches.append(path)
        return path

    def clean_up(self):
        """Removes scratch files a failed run left behind."""
        for path in self._scratches:
            if os.path.exists(path):
                os.remove(path)

    def place(self, scratch, relative, description):
        """Moves the scratch file to relative; content-addressed, so an existing one stays."""
        target = self.path(relative)
        if os.path.exists(target):
            os.remove(scratch)
            self.rows.append(("kept", relative, description))
        else:
            os.chmod(scratch, 0o644)  # the server may run as another user
            os.replace(scratch, target)
            self.rows.append(("wrote", relative, description))

    def copy_in(self, source, relative, description):
        """Copies a file under its content-addressed name unless it is there already."""
        if os.path.exists(self.path(relative)):
            self.rows.append(("kept", relative, description))
            return
        scratch = self.scratch(os.path.dirname(relative), "")
        shutil.copyfile(source, scratch)
        self.place(scratch, relative, description)

    def write(self, relative, data, description):
        """Replaces a mutable document with data; unchanged bytes are not rewritten."""
        if self.existing(relative) == data:
            self.rows.append(("kept", relative, description))
            return
        self._replace(relative, data, description)

    def write_signature(self, relative, document, signer, description):
        """Writes the detached signature of document at relative. One there that already
        signs it with this key stays: every new ECDSA signature differs, and a rerun is to
        rewrite nothing."""
        existing = self.existing(relative)
        if existing is not None and signer.verifies(document, existing):
            self.rows.append(("kept", relative, description))
            return
        self._replace(relative, signer.sign(document), description)

    def existing(self, relative):
        """The bytes of the tree's file at relative, or None."""
        try:
            with open(self.path(relative), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def _replace(self, relative, data, description):
        scratch = self.scratch(os.path.dirname(relative) or ".", "")
        with open(scratch, "wb") as f:
            f.write(data)
        os.chmod(scratch, 0o644)
        os.replace(scratch, self.path(relative))
        self.rows.append(("wrote", relative, description))
