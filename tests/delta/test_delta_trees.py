"""Deltas end to end between the publisher and the setup's own code: the
release tool publishes two releases with a delta between them, and
delta-check.exe (the setup's tree builder, under Wine) builds the new tree
from the old one. Each row of a table is one kind of change; the built tree
must equal the new release byte for byte. A second table hands the builder
hostile delta files, which it must refuse without writing outside its
folder."""

import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "tools", "release_tool.py")
WINE_RUN = os.environ.get("QV_WINE_RUN", "")
BIN_DIR = os.environ.get("QV_BIN_DIR", "")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_tree(folder, files):
    """files: relative path -> bytes (a file) or None (a folder)."""
    os.makedirs(folder)
    for relative, data in files.items():
        path = os.path.join(folder, *relative.split("/"))
        if data is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)


def read_tree(folder):
    """relative path -> bytes, or None for a folder."""
    tree = {}
    for top, folders, files in os.walk(folder):
        relative_top = os.path.relpath(top, folder).replace(os.sep, "/")
        prefix = "" if relative_top == "." else relative_top + "/"
        for name in folders:
            tree[prefix + name] = None
        for name in files:
            with open(os.path.join(top, name), "rb") as file:
                tree[prefix + name] = file.read()
    return tree


def scattered_edits(data, count, seed):
    changed = bytearray(data)
    rng = random.Random(seed)
    for _ in range(count):
        at = rng.randrange(len(changed) - 64)
        changed[at:at + 64] = rng.randbytes(64)
    return bytes(changed)


PROGRAM = b"MZ" + bytes(4000)
LARGE = random.Random(7).randbytes(3 << 20)
NOTES = random.Random(8).randbytes(20000)
BASE = {"QuorvelAI.exe": PROGRAM, "res": None, "res/large.pak": LARGE,
        "res/notes.txt": NOTES, "res/gone.txt": b"removed later\n",
        "res/empty-later.txt": b"not yet empty\n", "res/old": None, "res/old/a.txt": b"a\n",
        "plugin": b"a file, later a folder\n"}


def changed(changes):
    """BASE with changes: a value replaces the entry (None: a folder), a
    path in REMOVE takes the entry and everything below it away."""
    tree = dict(BASE)
    for path, value in changes.items():
        if value is REMOVE:
            tree = {name: data for name, data in tree.items()
                    if name != path and not name.startswith(path + "/")}
        else:
            tree[path] = value
    return tree


REMOVE = object()

# name, new tree, {path: how the delta should carry it}
TREE_CASES = [
    ("unchanged", dict(BASE), {"QuorvelAI.exe": "unchanged", "res/large.pak": "unchanged"}),
    ("small change", changed({"res/notes.txt": NOTES[:9000] + b"edited" + NOTES[9006:]}),
     {"res/notes.txt": "patch", "res/large.pak": "unchanged"}),
    ("large with scattered edits", changed({"res/large.pak": scattered_edits(LARGE, 40, 1)}),
     {"res/large.pak": "patch", "res/notes.txt": "unchanged"}),
    ("added", changed({"res/new.bin": random.Random(3).randbytes(5000), "extra": None, "extra/deep": None,
                       "extra/deep/file.txt": b"deep\n"}),
     {"res/new.bin": "whole", "extra/deep/file.txt": "whole"}),
    ("removed", changed({"res/gone.txt": REMOVE, "res/old": REMOVE}), {"res/notes.txt": "unchanged"}),
    ("empty file", changed({"res/empty-later.txt": b"", "res/new-empty": b""}),
     {"res/empty-later.txt": "whole", "res/new-empty": "whole"}),
    ("file becomes a folder", changed({"plugin": REMOVE}) | {"plugin": None, "plugin/main.dll": b"MZ plugin\n"},
     {"plugin/main.dll": "whole"}),
    ("folder becomes a file", changed({"res/old": REMOVE}) | {"res/old": b"now a file\n"},
     {"res/old": "whole"}),
]


def delta_of(root, version="1.1.0"):
    folder = os.path.join(root, "Installs", version, "win-x64")
    with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as file:
        manifest = json.load(file)
    return manifest, os.path.join(folder, manifest["deltas"][0]["name"])


def list_of(delta_path):
    with open(delta_path, "rb") as file:
        data = file.read()
    length = struct.unpack("<Q", data[8:16])[0]
    return json.loads(data[16:16 + length]), data


@unittest.skipUnless(WINE_RUN and BIN_DIR, "needs QV_WINE_RUN and QV_BIN_DIR (run through ctest)")
class DeltaTrees(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="qv-delta-trees-")
        self.addCleanup(shutil.rmtree, self.temp)

    def run_tool(self, *args):
        # The deltas are under test here, not the signatures of the documents.
        if args[0] == "publish":
            args += ("--unsigned",)
        return subprocess.run([sys.executable, "-B", TOOL, *args], capture_output=True, text=True,
                              timeout=300)

    def check_delta(self, delta, base, out):
        return subprocess.run([WINE_RUN, os.path.join(BIN_DIR, "delta-check.exe"), windows_path(delta),
                               windows_path(base), windows_path(out)],
                              capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)

    # Catches a publisher that picks the wrong way of carrying a file or a
    # builder that leaves out, keeps or garbles any entry of the new tree.
    def test_built_tree_equals_the_new_release(self):
        base = os.path.join(self.temp, "base")
        make_tree(base, BASE)
        root = os.path.join(self.temp, "root")
        self.assertEqual(self.run_tool("publish", "--app-dir", base, "--version", "1.0.0",
                                       "--out", root).returncode, 0)
        for index, (name, tree, carried) in enumerate(TREE_CASES):
            with self.subTest(name):
                version = "1.1.%d" % index
                new = os.path.join(self.temp, "new-%d" % index)
                make_tree(new, tree)
                published = self.run_tool("publish", "--app-dir", new, "--version", version,
                                          "--out", root, "--delta-from", "1.0.0")
                self.assertEqual(published.returncode, 0, published.stderr)
                manifest, delta = delta_of(root, version)
                self.assertLess(manifest["deltas"][0]["size"], manifest["payloadSize"])
                listing, _ = list_of(delta)
                how = {entry["path"]: entry.get("from") for entry in listing["entries"]}
                self.assertEqual(set(how), set(tree))
                for path, expected in carried.items():
                    self.assertEqual(how.get(path), expected, path)
                out = os.path.join(self.temp, "out-%d" % index)
                result = self.check_delta(delta, base, out)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(read_tree(out), read_tree(new))
                self.assertEqual(read_tree(base), BASE)

    # Catches a builder that trusts the delta's list: each row is a delta
    # file the publisher never writes, which must be refused with nothing
    # written beside the new folder.
    def test_hostile_deltas_are_refused(self):
        base = os.path.join(self.temp, "base")
        make_tree(base, {"QuorvelAI.exe": PROGRAM, "a.txt": b"a\n"})
        content = os.path.join(self.temp, "content")
        with open(content, "wb") as file:
            file.write(b"x" * 100)
        # From a file, so that the frame declares its content size.
        frame = subprocess.run(["zstd", "-q", "-c", content], capture_output=True, check=True).stdout
        digest = hashlib.sha256(b"x" * 100).hexdigest()

        def whole(path, **extra):
            entry = {"path": path, "kind": "file", "size": 100, "sha256": digest, "from": "whole",
                     "offset": 0, "length": len(frame)}
            entry.update(extra)
            return entry

        def delta(entries, data=frame, magic=b"QVDELTA1", length=None):
            listing = json.dumps({"baseVersion": "1.0.0", "version": "1.1.0", "entries": entries}).encode()
            size = len(listing) if length is None else length
            return magic + struct.pack("<Q", size) + listing + data

        cases = [
            ("parent reference", delta([whole("../escaped.txt")]), "unsafe path"),
            ("nested parent reference", delta([whole("a/../../escaped.txt")]), "unsafe path"),
            ("absolute path", delta([whole("C:/escaped.txt")]), "unsafe path"),
            ("device name", delta([whole("NUL")]), "unsafe path"),
            ("stream name", delta([whole("a.txt:hidden")]), "unsafe path"),
            ("twice in other case", delta([whole("b.txt"), whole("B.TXT")]), "appears twice"),
            ("frame beyond the data", delta([whole("b.txt", offset=1)]), "outside the delta"),
            ("frame length beyond the data", delta([whole("b.txt", length=len(frame) + 1)]),
             "outside the delta"),
            ("negative offset", delta([whole("b.txt", offset=-1)]), "outside the delta"),
            ("unknown source", delta([whole("b.txt", **{"from": "elsewhere"})]), "unknown kind"),
            ("bad hash", delta([whole("b.txt", sha256="xyz")]), "no size or hash"),
            ("patch without its base hash", delta([whole("a.txt", **{"from": "patch"})]), "no base"),
            ("wrong magic", delta([], magic=b"QVDELTA2"), "not a delta file"),
            ("list longer than the file", delta([], length=1 << 40), "length is impossible"),
            ("size the frame does not declare", delta([whole("b.txt", size=99)]), "declares"),
            ("frame with bytes after it", delta([whole("b.txt", length=len(frame) + 1)],
                                                data=frame + b"\0"), "bytes follow"),
            ("wrong bytes", delta([whole("b.txt", sha256="0" * 64)]), "wrong bytes"),
        ]
        for index, (name, data, message) in enumerate(cases):
            with self.subTest(name):
                folder = os.path.join(self.temp, "case-%d" % index)
                os.makedirs(folder)
                path = os.path.join(folder, "bad.delta")
                with open(path, "wb") as file:
                    file.write(data)
                result = self.check_delta(path, base, os.path.join(folder, "out"))
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(message, result.stderr)
                self.assertEqual(sorted(os.listdir(folder)), ["bad.delta", "out"])
                self.assertFalse(os.path.exists(os.path.join(self.temp, "escaped.txt")))


if __name__ == "__main__":
    unittest.main()
