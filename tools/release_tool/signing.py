"""Detached signatures of the release documents.

versions.json and every manifest.json get a CMS (PKCS#7) SignedData
signature beside them, DER, detached, SHA-256, made with the publisher's
RSA code-signing certificate: <document>.sig. The setup refuses a document
whose signature is missing or is not the publisher's.
"""

import os
import shlex
import shutil
import subprocess
import tempfile

from .atomic import write_atomically
from .payload import PublishError

SIGNATURE_SUFFIX = ".sig"
_PEM_END = b"-----END CERTIFICATE-----"


def signature_path(document_path):
    return document_path + SIGNATURE_SUFFIX


class PemSigner:
    """Signs with openssl from a PEM certificate file (the signer's
    certificate first, any intermediates after it) and a PEM key."""

    def __init__(self, cert, key):
        self.cert = cert
        self.key = key

    def describe(self):
        return "certificate %s" % self.cert

    def sign_file(self, document, signature, work):
        command = ["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-nosmimecap",
                   "-in", document, "-signer", self.cert, "-inkey", self.key,
                   "-outform", "DER", "-out", signature]
        intermediates = self._intermediates(work)
        if intermediates:
            command += ["-certfile", intermediates]
        _run(command, "openssl")

    def _intermediates(self, work):
        """The certificates after the signer's in the PEM file, written to
        a file of their own (openssl refuses the signer's twice)."""
        try:
            with open(self.cert, "rb") as file:
                text = file.read()
        except OSError as error:
            raise PublishError("--sign-cert %s cannot be read (%s)" % (self.cert, error))
        blocks = [block + _PEM_END + b"\n" for block in text.split(_PEM_END)[:-1]]
        if len(blocks) < 2:
            return None
        path = os.path.join(work, "intermediates.pem")
        with open(path, "wb") as file:
            file.write(b"".join(blocks[1:]))
        return path


class CommandSigner:
    """Signs by running a publisher's command, for a key on a hardware token
    or in a cloud signer: {in} and {out} in the template become the
    document's and the signature's paths; the command writes DER."""

    def __init__(self, template):
        if "{in}" not in template or "{out}" not in template:
            raise PublishError("--sign-command must hold both {in} and {out}")
        self.template = template

    def describe(self):
        return "command %s" % self.template

    def sign_file(self, document, signature, work):
        words = [word.replace("{in}", document).replace("{out}", signature)
                 for word in shlex.split(self.template)]
        _run(words, "the signing command")


def _run(command, what):
    try:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
    except OSError as error:
        raise PublishError("%s could not be started (%s)" % (what, error))
    if result.returncode != 0:
        message = result.stderr.decode("utf-8", "replace").strip()
        raise PublishError("%s failed with exit code %d: %s" % (what, result.returncode, message))


def sign_bytes(signer, data):
    """The DER signature of data. Raises PublishError when signing fails or
    leaves no signature."""
    work = tempfile.mkdtemp(prefix="qv-sign-")
    try:
        document = os.path.join(work, "document")
        signature = os.path.join(work, "document.sig")
        with open(document, "wb") as file:
            file.write(data)
        signer.sign_file(document, signature, work)
        try:
            with open(signature, "rb") as file:
                der = file.read()
        except OSError:
            der = b""
        # A DER SignedData starts with a SEQUENCE; anything else (PEM, an
        # error page, nothing) would only fail later, on every user's PC.
        if not der.startswith(b"\x30"):
            raise PublishError("signing with the %s wrote no DER signature" % signer.describe())
        return der
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check_signer(signer):
    """Signs a probe, so that a wrong key, certificate or command is found
    before anything is written."""
    if signer is not None:
        sign_bytes(signer, b"QuorvelAI release tool signing probe\n")


def write_signed_document(path, data, signer):
    """Writes data to path and its signature to path + ".sig", each through a
    temporary file renamed into place. The signature is made before either
    is written and lands first, so a new document is never served without
    one. With signer None the document is written unsigned and a signature
    left from an earlier publish is removed, since it no longer matches."""
    if signer is None:
        write_atomically(path, lambda file: file.write(data))
        if os.path.exists(signature_path(path)):
            os.remove(signature_path(path))
        return
    signature = sign_bytes(signer, data)
    write_atomically(signature_path(path), lambda file: file.write(signature))
    write_atomically(path, lambda file: file.write(data))


def sign_tree(root, signer):
    """Signs every versions.json and manifest.json below root again, the
    manifests first and each index after them. Returns the paths signed."""
    manifests, indexes = [], []
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        if "manifest.json" in files:
            manifests.append(os.path.join(folder, "manifest.json"))
        if "versions.json" in files:
            indexes.append(os.path.join(folder, "versions.json"))
    for path in manifests + indexes:
        with open(path, "rb") as file:
            write_signed_document(path, file.read(), signer)
    return manifests + indexes
