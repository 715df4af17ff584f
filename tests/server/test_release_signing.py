"""Tests of the release tool's signatures: what publish and sign write, in
which order, and what they refuse."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

from test_release_tool import make_app, read, run_tool

OPENSSL_SIGN = ("openssl cms -sign -binary -md sha256 -in {in} -signer %s -inkey %s "
                "-outform DER -out {out}")


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)


def make_chain(folder):
    """A CA and a code-signing certificate it issued; returns the paths of
    the CA, of a PEM with the signer's certificate and then the CA's, and of
    the signer's key."""
    path = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
            "-out", path("ca.crt"), "-days", "2", "-subj", "/CN=Signing test CA",
            "-addext", "basicConstraints=critical,CA:true",
            "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("sign.key"),
            "-out", path("sign.csr"), "-subj", "/CN=Quorvel, LLC")
    with open(path("ext.cnf"), "w") as file:
        file.write("keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", path("sign.csr"), "-CA", path("ca.crt"), "-CAkey",
            path("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", path("ext.cnf"),
            "-out", path("sign.crt"))
    with open(path("chain.pem"), "wb") as file:
        file.write(read(path("sign.crt")) + read(path("ca.crt")))
    return path("ca.crt"), path("chain.pem"), path("sign.key")


def verifies(document, ca):
    """Whether document.sig is a valid signature of document's bytes by a
    certificate that ca issued."""
    return subprocess.run(["openssl", "cms", "-verify", "-binary", "-inform", "DER",
                           "-in", document + ".sig", "-content", document, "-CAfile", ca,
                           "-purpose", "any", "-out", os.devnull],
                          capture_output=True, timeout=60).returncode == 0


class SigningTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="qv-signing-keys-")
        cls.ca, cls.chain, cls.key = make_chain(cls.keys)
        cls.signer = ["--sign-cert", cls.chain, "--sign-key", cls.key]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys)

    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="qv-signing-")
        self.addCleanup(shutil.rmtree, self.temp)
        self.app = make_app(os.path.join(self.temp, "app"), {"QuorvelAI.exe": b"MZ" + bytes(500)})
        self.root = os.path.join(self.temp, "root")

    def publish(self, version, *extra):
        return run_tool("publish", "--app-dir", self.app, "--version", version,
                        "--out", self.root, *extra)

    def documents(self):
        return [os.path.join(self.root, "versions.json")] + [
            os.path.join(self.root, "Installs", version, "win-x64", "manifest.json")
            for version in sorted(os.listdir(os.path.join(self.root, "Installs")))]

    # Catches a signature over other bytes than those published, one left
    # out, or one without the intermediates the setup needs for the chain.
    def test_publish_signs_each_document_with_the_chain(self):
        result = self.publish("1.0.0", *self.signer)
        self.assertEqual(result.returncode, 0, result.stderr)
        for document in self.documents():
            self.assertTrue(verifies(document, self.ca), document)
        certificates = subprocess.run(
            ["openssl", "pkcs7", "-inform", "DER", "-print_certs", "-noout",
             "-in", self.documents()[0] + ".sig"], capture_output=True, text=True).stdout
        self.assertEqual(certificates.count("subject="), 2, certificates)
        # A byte changed after signing no longer verifies.
        with open(self.documents()[0], "ab") as file:
            file.write(b" ")
        self.assertFalse(verifies(self.documents()[0], self.ca))

    # Catches a publish that writes unsigned or half-signed releases when the
    # signer is missing or broken, instead of refusing before writing.
    def test_refusals_exit_2_and_write_nothing(self):
        other_key = os.path.join(self.temp, "other.key")
        openssl("genpkey", "-algorithm", "RSA", "-out", other_key)
        not_der = os.path.join(self.temp, "not_der.py")
        with open(not_der, "w") as file:
            file.write("import sys\nopen(sys.argv[1], 'w').write('-----BEGIN CMS-----')\n")
        cases = [
            ("no signer", []),
            ("certificate without key", ["--sign-cert", self.chain]),
            ("key of another certificate", ["--sign-cert", self.chain, "--sign-key", other_key]),
            ("missing certificate", ["--sign-cert", self.chain + ".gone", "--sign-key", self.key]),
            ("failing command", ["--sign-command", "false {in} {out}"]),
            ("command without {out}", ["--sign-command", "true {in}"]),
            ("command writing no DER", ["--sign-command", "%s %s {out} {in}" % (sys.executable, not_der)]),
            ("unknown command", ["--sign-command", "/nonexistent/signer {in} {out}"]),
            ("signer and --unsigned", self.signer + ["--unsigned"]),
            ("command and certificate", self.signer + ["--sign-command", "true {in} {out}"]),
        ]
        for index, (label, extra) in enumerate(cases):
            with self.subTest(label):
                self.root = os.path.join(self.temp, "refused%d" % index)
                result = self.publish("1.0.0", *extra)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertFalse(os.path.exists(self.root))

    # Catches a write order in which a server could hand out an index before
    # its manifest, or a manifest before its payload or without a signature.
    def test_sign_command_sees_each_document_after_what_it_names(self):
        recorder = os.path.join(self.temp, "recorder.py")
        log = os.path.join(self.temp, "order.log")
        with open(recorder, "w") as file:
            file.write(textwrap.dedent("""\
                import json, os, subprocess, sys
                root, log, document, signature = sys.argv[1:5]
                folder = os.path.join(root, "Installs", "1.0.0", "win-x64")
                present = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
                present += ["versions.json"] if os.path.exists(os.path.join(root, "versions.json")) else []
                with open(log, "a") as out:
                    out.write(json.dumps([open(document, "rb").read(12).decode(), present]) + "\\n")
                subprocess.run(sys.argv[5:] + ["-in", document, "-out", signature], check=True)
                """))
        sign = OPENSSL_SIGN.replace(" -in {in}", "").replace(" -out {out}", "") % (self.chain, self.key)
        template = "%s %s %s %s {in} {out} %s" % (sys.executable, recorder, self.root, log, sign)
        result = self.publish("1.0.0", "--sign-command", template)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(log) as file:
            order = [json.loads(line) for line in file]
        payload = "QuorvelAI-1.0.0-win-x64.tar.xz"
        self.assertEqual(order[1:], [
            ['{\n  "schema"', [payload]],
            ['{\n  "platfor', [payload, "manifest.json", "manifest.json.sig"]],
        ])
        for document in self.documents():
            self.assertTrue(verifies(document, self.ca), document)

    # Catches sign --root missing a document, changing its bytes, signing an
    # index before its manifests, or writing without a signer.
    def test_sign_root_signs_every_document_again(self):
        for version in ("1.0.0", "1.1.0"):
            self.assertEqual(self.publish(version, "--unsigned").returncode, 0)
        before = {path: read(path) for path in self.documents()}
        refused = run_tool("sign", "--root", self.root)
        self.assertEqual(refused.returncode, 2, refused.stderr)
        self.assertFalse(any(os.path.exists(path + ".sig") for path in before))

        result = run_tool("sign", "--root", self.root, *self.signer)
        self.assertEqual(result.returncode, 0, result.stderr)
        signed = [line.split(" ", 1)[1] for line in result.stdout.splitlines()]
        self.assertEqual(signed, self.documents()[1:] + self.documents()[:1])
        for path, data in before.items():
            self.assertEqual(read(path), data)
            self.assertTrue(verifies(path, self.ca), path)

    # Catches an unsigned publish over a signed root leaving a signature that
    # no longer matches its document.
    def test_unsigned_publish_removes_stale_signatures(self):
        self.assertEqual(self.publish("1.0.0", *self.signer).returncode, 0)
        self.assertEqual(self.publish("1.1.0", "--unsigned").returncode, 0)
        self.assertFalse(os.path.exists(self.documents()[0] + ".sig"))
        self.assertTrue(verifies(self.documents()[1], self.ca))


if __name__ == "__main__":
    unittest.main()
