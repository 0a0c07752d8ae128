"""The studio's signing key: ECDSA P-256 through the openssl program (Python's standard
library has none).

The bridge takes a signature as 64 bytes, r then s, each big-endian; openssl reads and
writes the DER form, a SEQUENCE of two INTEGERs, which this module converts. The bridge takes
the public key as the point's X then Y, 128 hexadecimal digits, from the CMake cache variable
ORVEX_SIGNING_PUBLIC_KEY.
"""

import os
import subprocess
import tempfile

from .config import PublishError

PRIVATE_NAME = "signing_key.pem"
PUBLIC_NAME = "signing_key.pub.hex"
# The DER SubjectPublicKeyInfo of every P-256 key up to its point: the algorithm
# id-ecPublicKey with the curve prime256v1, then a bit string holding 0x04, X and Y.
_P256_SPKI_PREFIX = bytes.fromhex(
    "3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")
_HALF = 32


def _openssl(args, data=None):
    try:
        done = subprocess.run(["openssl", *args], input=data, capture_output=True)
    except OSError as e:
        raise PublishError(f"openssl: cannot be run ({e.strerror}); install it (Debian "
                           "package openssl)") from None
    return done


def _checked(args, data=None, what="openssl"):
    done = _openssl(args, data)
    if done.returncode != 0:
        raise PublishError(f"{what} failed: {done.stderr.decode(errors='replace').strip()}")
    return done.stdout


def _der_length(data, at):
    """(length, offset after it) of the DER length at data[at]; short and one-byte forms."""
    first = data[at]
    if first < 0x80:
        return first, at + 1
    if first == 0x81 and data[at + 1] >= 0x80:
        return data[at + 1], at + 2
    raise ValueError("unexpected DER length")


def der_to_raw(der):
    """r || s from openssl's DER ECDSA signature."""
    try:
        if der[0] != 0x30:
            raise ValueError("not a SEQUENCE")
        length, at = _der_length(der, 1)
        if at + length != len(der):
            raise ValueError("trailing bytes")
        halves = []
        for _ in range(2):
            if der[at] != 0x02:
                raise ValueError("not an INTEGER")
            size, at = _der_length(der, at + 1)
            value = der[at:at + size].lstrip(b"\0")
            at += size
            if len(value) > _HALF:
                raise ValueError("integer too long")
            halves.append(value.rjust(_HALF, b"\0"))
        if at != len(der):
            raise ValueError("trailing bytes")
    except (IndexError, ValueError) as e:
        raise PublishError(f"openssl gave a signature this tool cannot read ({e})") from None
    return halves[0] + halves[1]


def raw_to_der(raw):
    """openssl's DER form of r || s."""
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        if value[0] & 0x80:
            value = b"\0" + value
        return bytes([0x02, len(value)]) + value
    body = integer(raw[:_HALF]) + integer(raw[_HALF:])
    return bytes([0x30, len(body)]) + body


class Signer:
    """Signs with a private key file; checks signatures with its public half."""

    def __init__(self, key_path):
        self.key_path = key_path
        if not os.path.isfile(key_path):
            raise PublishError(f"{key_path}: no such key file; make one with "
                               "`orvex_publish.py keygen --out DIR`")
        self.public_der = _checked(["pkey", "-in", key_path, "-pubout", "-outform", "DER"],
                                   what=f"reading the key {key_path}")
        if not (len(self.public_der) == len(_P256_SPKI_PREFIX) + 2 * _HALF
                and self.public_der.startswith(_P256_SPKI_PREFIX)):
            raise PublishError(f"{key_path}: is not an ECDSA P-256 key; make one with "
                               "`orvex_publish.py keygen --out DIR`")

    def public_hex(self):
        """The 128 hex digits that ORVEX_SIGNING_PUBLIC_KEY takes."""
        return self.public_der[len(_P256_SPKI_PREFIX):].hex()

    def sign(self, data):
        """The bridge's 64-byte signature of data."""
        return der_to_raw(_checked(["dgst", "-sha256", "-sign", self.key_path], data,
                                   what=f"signing with {self.key_path}"))

    def verifies(self, data, signature):
        """True when signature is this key's valid signature of data."""
        if len(signature) != 2 * _HALF:
            return False
        with tempfile.TemporaryDirectory(prefix="orvex-sig-") as scratch:
            public = os.path.join(scratch, "public.der")
            der = os.path.join(scratch, "signature.der")
            with open(public, "wb") as f:
                f.write(self.public_der)
            with open(der, "wb") as f:
                f.write(raw_to_der(signature))
            done = _openssl(["dgst", "-sha256", "-verify", public, "-keyform", "DER",
                             "-signature", der], data)
        return done.returncode == 0


def keygen(out_dir):
    """Writes a new key pair into out_dir; returns the two paths. Never replaces a key: a
    lost or replaced key means every bridge built with the old one refuses the updates."""
    private = os.path.join(out_dir, PRIVATE_NAME)
    public = os.path.join(out_dir, PUBLIC_NAME)
    for path in (private, public):
        if os.path.exists(path):
            raise PublishError(f"{path}: already exists; keygen never replaces a key")
    os.makedirs(out_dir, exist_ok=True)
    pem = _checked(["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"],
                   what="making the key")
    # Readable by its owner only, from the moment it exists.
    fd = os.open(private, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "wb") as f:
        f.write(pem)
    with open(public, "w") as f:
        f.write(Signer(private).public_hex() + "\n")
    return private, public
