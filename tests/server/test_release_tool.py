"""Tests of tools/release_tool.py: the publish command's layout and archive,
and the local release server with its ranges, faults and control API."""

import hashlib
import http.client
import io
import json
import lzma
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "tools", "release_tool.py")
MAKE_CERTS = os.path.join(HERE, "make_test_certs.sh")


def run_tool(*args, env=None):
    return subprocess.run([sys.executable, "-B", TOOL, *args], capture_output=True,
                          text=True, timeout=120, env=env)


def path_without_zstd(folder):
    """An environment whose PATH finds xz but not zstd."""
    os.makedirs(folder, exist_ok=True)
    os.symlink(shutil.which("xz"), os.path.join(folder, "xz"))
    return dict(os.environ, PATH=folder)


def make_app(folder, files):
    """files: relative path -> bytes (a file) or None (an empty folder)."""
    for relative, data in files.items():
        path = os.path.join(folder, *relative.split("/"))
        if data is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)
    return folder


def header_types(tar_bytes):
    """The type flags of the headers of a tar stream, in order."""
    types, offset = [], 0
    while tar_bytes[offset:offset + 512].strip(b"\0"):
        header = tar_bytes[offset:offset + 512]
        types.append(header[156:157])
        size = int(header[124:136].strip(b" \0") or b"0", 8)
        offset += 512 + (size + 511) // 512 * 512
    return types


def read(path):
    with open(path, "rb") as file:
        return file.read()


class PublishTests(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="qv-publish-")
        self.addCleanup(shutil.rmtree, self.temp)
        self.app = make_app(os.path.join(self.temp, "app"), {
            "QuorvelAI.exe": b"MZ" + bytes(1000),
            "resources/app.bin": os.urandom(70000),
            "Ressourcen/\u00dcbersetzung/\U0001F600 datei.txt": b"hallo",
            "empty": None,
        })

    def publish(self, version, root="out", *extra, app=None):
        result = run_tool("publish", "--app-dir", app or self.app, "--version", version,
                          "--out", os.path.join(self.temp, root), "--unsigned", *extra)
        return result

    def latest(self, root="out"):
        with open(os.path.join(self.temp, root, "versions.json"), encoding="utf-8") as file:
            return json.load(file)["platforms"]["windows"]["version"]

    # Catches a manifest whose hash, sizes or longest path disagree with the
    # payload the setup will download and unpack.
    def test_layout_and_manifest_describe_the_payload(self):
        result = self.publish("1.2.3")
        self.assertEqual(result.returncode, 0, result.stderr)
        folder = os.path.join(self.temp, "out", "Installs", "1.2.3", "win-x64")
        payload = read(os.path.join(folder, "QuorvelAI-1.2.3-win-x64.tar.xz"))
        with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as file:
            manifest = json.load(file)
        self.assertEqual(json.loads(result.stdout), manifest)
        self.assertEqual(manifest, {
            "schema": 1, "version": "1.2.3", "payload": "QuorvelAI-1.2.3-win-x64.tar.xz",
            "payloadSha256": hashlib.sha256(payload).hexdigest(),
            "payloadSize": len(payload),
            "unpackedSize": 1002 + 70000 + 5,
            # Ressourcen\Übersetzung\😀 datei.txt: the emoji is two UTF-16 units.
            "longestPath": 35,
        })
        self.assertEqual(self.latest(), "1.2.3")

    # Catches archives the setup's tar reader would misread: unsorted or
    # non-pax entries, owners, modes or times that vary, folders as files,
    # a global header, or an XZ check other than CRC64.
    def test_archive_is_sorted_pax_with_crc64(self):
        self.assertEqual(self.publish("2.0.0").returncode, 0)
        path = os.path.join(self.temp, "out", "Installs", "2.0.0", "win-x64",
                            "QuorvelAI-2.0.0-win-x64.tar.xz")
        raw = read(path)
        self.assertEqual(raw[:6], b"\xfd7zXZ\x00")
        self.assertEqual(raw[6:8], b"\x00\x04", "stream flags must name CRC64")
        tar_bytes = lzma.decompress(raw)
        with tarfile.open(fileobj=io.BytesIO(tar_bytes)) as tar:
            members = tar.getmembers()
            self.assertEqual(tar.pax_headers, {})
            contents = {m.name: tar.extractfile(m).read() for m in members if m.isfile()}
        names = [m.name for m in members]
        self.assertEqual(names, sorted(names))
        self.assertEqual(names, ["QuorvelAI.exe", "Ressourcen", "Ressourcen/\u00dcbersetzung",
                                 "Ressourcen/\u00dcbersetzung/\U0001F600 datei.txt",
                                 "empty", "resources", "resources/app.bin"])
        for member in members:
            self.assertEqual((member.uid, member.gid, member.uname, member.gname, member.mtime),
                             (0, 0, "", "", 0), member.name)
            self.assertEqual(member.mode, 0o755 if member.isdir() else 0o644, member.name)
            self.assertIn(member.type, (tarfile.DIRTYPE, tarfile.REGTYPE))
        self.assertEqual(contents["resources/app.bin"], read(os.path.join(self.app, "resources", "app.bin")))
        # Only files, folders and per-entry pax records; no global header.
        self.assertEqual(set(header_types(tar_bytes)), {b"0", b"5", b"x"})
        # The non-ASCII name travels in a pax record.
        self.assertIn("path=Ressourcen/\u00dcbersetzung/\U0001F600 datei.txt\n".encode("utf-8"),
                      tar_bytes)

    # Catches output that depends on file times or the walk order, which
    # would change the published hash for the same application.
    def test_same_input_gives_same_bytes(self):
        self.assertEqual(self.publish("3.1.0", "first").returncode, 0)
        for name in ("QuorvelAI.exe", "resources/app.bin"):
            os.utime(os.path.join(self.app, name), (1_000_000, 1_000_000))
        self.assertEqual(self.publish("3.1.0", "second").returncode, 0)
        for relative in ("versions.json", "Installs/3.1.0/win-x64/manifest.json",
                         "Installs/3.1.0/win-x64/QuorvelAI-3.1.0-win-x64.tar.xz"):
            self.assertEqual(read(os.path.join(self.temp, "first", relative)),
                             read(os.path.join(self.temp, "second", relative)), relative)

    # Catches releases that the setup would refuse or mis-install being
    # published anyway (and half-written releases after a refusal).
    def test_refusals_exit_2_and_write_nothing(self):
        def app_with(name, data=b"x"):
            def build(folder):
                make_app(folder, {"QuorvelAI.exe": b"MZ", name: data})
            return build

        def symlinked(folder):
            make_app(folder, {"QuorvelAI.exe": b"MZ"})
            os.symlink("QuorvelAI.exe", os.path.join(folder, "link.exe"))

        def case_twins(folder):
            make_app(folder, {"QuorvelAI.exe": b"MZ", "Data/a.txt": b"1", "data/b.txt": b"2"})

        cases = [
            ("no program", lambda f: make_app(f, {"app.exe": b"MZ"}), "1.0.0", []),
            ("program is a folder", lambda f: make_app(f, {"QuorvelAI.exe/x": b"1"}), "1.0.0", []),
            ("empty program only", lambda f: make_app(f, {"QuorvelAI.exe": b""}), "1.0.0", []),
            ("trailing dot", app_with("a."), "1.0.0", []),
            ("trailing space", app_with("dir /x.txt"), "1.0.0", []),
            ("control character", app_with("a\tb"), "1.0.0", []),
            ("symbolic link", symlinked, "1.0.0", []),
            ("case twins", case_twins, "1.0.0", []),
            ("bad payload name", app_with("ok"), "1.0.0", ["--payload-name", "a/b.tar.xz"]),
        ]
        cases += [("forbidden %r" % c, app_with("a%sb" % c), "1.0.0", []) for c in '"*:<>?|\\']
        cases += [("version %r" % v, app_with("ok"), v, [])
                  for v in ("", "1.2.3.4.5", "1..2", "v1.0", "1.0-beta", ".1", "1.", "1000001", " 1",
                            # fewer than three parts
                            "1", "1.0", "2.10")]
        for index, (label, build, version, extra) in enumerate(cases):
            with self.subTest(label):
                app = os.path.join(self.temp, "bad%d" % index)
                os.makedirs(app)
                build(app)
                result = self.publish(version, "refused%d" % index, *extra, app=app)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertIn("refused", result.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.temp, "refused%d" % index)))

    # Catches a version index that moves backwards, ignores the flags, or
    # loses what other platforms wrote into it.
    def test_version_index_follows_the_newest_release(self):
        os.makedirs(os.path.join(self.temp, "out"))
        with open(os.path.join(self.temp, "out", "versions.json"), "w") as file:
            json.dump({"platforms": {"mac": {"version": "9.9"}}, "note": "kept"}, file)
        steps = [("1.2.3", [], "1.2.3"), ("1.10.0", [], "1.10.0"), ("1.9.0", [], "1.10.0"),
                 ("1.10.0.0", [], "1.10.0"), ("1.9.5", ["--set-latest"], "1.9.5"),
                 ("2.0.0", ["--no-set-latest"], "1.9.5")]
        for version, flags, expected in steps:
            with self.subTest(version=version, flags=flags):
                self.assertEqual(self.publish(version, "out", *flags).returncode, 0)
                self.assertEqual(self.latest(), expected)
        with open(os.path.join(self.temp, "out", "versions.json"), encoding="utf-8") as file:
            index = json.load(file)
        self.assertEqual((index["note"], index["platforms"]["mac"]), ("kept", {"version": "9.9"}))

    # Catches a damaged version index being silently replaced.
    def test_unreadable_version_index_is_refused(self):
        os.makedirs(os.path.join(self.temp, "out"))
        with open(os.path.join(self.temp, "out", "versions.json"), "w") as file:
            file.write("{not json")
        self.assertEqual(self.publish("1.0.0").returncode, 2)
        self.assertFalse(os.path.exists(os.path.join(self.temp, "out", "Installs")))


class PayloadBlockTests(unittest.TestCase):
    # Catches payload bytes that change with the machine's cores (xz's
    # single-threaded format for one thread, a block size taken from the
    # machine) or a payload that is one block only.
    def test_thread_count_does_not_change_the_bytes(self):
        sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
        from release_tool import payload
        temp = tempfile.mkdtemp(prefix="qv-blocks-")
        self.addCleanup(shutil.rmtree, temp)
        text = b"".join(b"line %d of a text that compresses\n" % n for n in range(100000))
        app = make_app(os.path.join(temp, "app"), {"QuorvelAI.exe": b"MZ", "text.txt": text})
        entries = payload.collect_entries(app)
        saved = payload.XZ_BLOCK_SIZE
        payload.XZ_BLOCK_SIZE = 1 << 20
        self.addCleanup(setattr, payload, "XZ_BLOCK_SIZE", saved)
        outputs = []
        for threads in (1, 2, 3):
            path = os.path.join(temp, "payload-%d.tar.xz" % threads)
            with open(path, "wb") as file:
                facts = payload.write_payload(entries, file, threads)
            outputs.append(read(path))
            self.assertEqual(facts.sha256, hashlib.sha256(outputs[-1]).hexdigest())
        self.assertEqual(outputs[1], outputs[0])
        self.assertEqual(outputs[2], outputs[0])
        totals = subprocess.run(["xz", "--robot", "--list", path], capture_output=True, text=True,
                                check=True).stdout
        blocks = int(next(line for line in totals.splitlines() if line.startswith("totals")).split("\t")[2])
        self.assertGreaterEqual(blocks, len(text) >> 20)
        with tarfile.open(fileobj=io.BytesIO(lzma.decompress(outputs[0]))) as tar:
            self.assertEqual(tar.extractfile("text.txt").read(), text)


class DeltaPublishTests(unittest.TestCase):
    """--delta-from: what publish writes for a delta and what it refuses.
    That the setup builds the right tree from it is tests/delta's part."""

    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="qv-delta-publish-")
        self.addCleanup(shutil.rmtree, self.temp)
        self.root = os.path.join(self.temp, "out")
        self.old = make_app(os.path.join(self.temp, "old"), {
            "QuorvelAI.exe": b"MZ" + bytes(1000), "data.bin": os.urandom(50000)})
        self.assertEqual(self.publish(self.old, "1.0.0").returncode, 0)
        self.new = os.path.join(self.temp, "new")
        shutil.copytree(self.old, self.new)
        with open(os.path.join(self.new, "data.bin"), "r+b") as file:
            file.seek(25000)
            file.write(b"changed")

    def publish(self, app, version, *extra, env=None):
        return run_tool("publish", "--app-dir", app, "--version", version, "--out", self.root,
                        "--unsigned", *extra, env=env)

    def folder(self, version):
        return os.path.join(self.root, "Installs", version, "win-x64")

    # Catches a manifest member that does not describe the delta file beside
    # the payload, or a publish that changes the members the setup reads.
    def test_manifest_names_the_delta_beside_the_payload(self):
        result = self.publish(self.new, "1.1.0", "--delta-from", "1.0.0")
        self.assertEqual(result.returncode, 0, result.stderr)
        manifest = json.loads(result.stdout)
        (delta,) = manifest.pop("deltas")
        name = "QuorvelAI-1.1.0-from-1.0.0-win-x64.delta"
        data = read(os.path.join(self.folder("1.1.0"), name))
        self.assertEqual(delta, {"baseVersion": "1.0.0", "name": name, "size": len(data),
                                 "sha256": hashlib.sha256(data).hexdigest()})
        self.assertEqual(data[:8], b"QVDELTA1")
        # The full payload is as a publish without --delta-from makes it.
        self.assertEqual(self.publish(self.new, "1.1.0").returncode, 0)
        with open(os.path.join(self.folder("1.1.0"), "manifest.json"), encoding="utf-8") as file:
            self.assertEqual(json.load(file), manifest)

    # Catches a delta from a base that is missing, damaged, not older or
    # named twice being written, a publish without zstd that writes the
    # payload first, or a refusal that leaves files behind.
    def test_bad_bases_are_refused_before_anything_is_written(self):
        def damage_base():
            path = os.path.join(self.folder("1.0.0"), "QuorvelAI-1.0.0-win-x64.tar.xz")
            data = bytearray(read(path))
            data[100] ^= 1
            with open(path, "wb") as file:
                file.write(data)

        def base_without_payload():
            os.remove(os.path.join(self.folder("1.0.0"), "QuorvelAI-1.0.0-win-x64.tar.xz"))

        cases = [
            ("missing base", ["--delta-from", "0.9.0"], None, "no release 0.9.0"),
            ("base not older", ["--delta-from", "1.1.0"], None, "not older"),
            ("base newer", ["--delta-from", "2.0.0"], None, "not older"),
            ("base named twice", ["--delta-from", "1.0.0", "--delta-from", "1.0.0"], None, "twice"),
            ("base of two parts", ["--delta-from", "1.0"], None, "not a release version"),
            ("damaged base payload", ["--delta-from", "1.0.0"], damage_base, "does not match"),
            ("base payload missing", ["--delta-from", "1.0.0"], base_without_payload, "is missing"),
            ("zstd missing", ["--delta-from", "1.0.0"], None, "zstd program is missing"),
        ]
        no_zstd = path_without_zstd(os.path.join(self.temp, "bin"))
        for label, extra, arrange, message in cases:
            with self.subTest(label):
                shutil.rmtree(self.root)
                self.assertEqual(self.publish(self.old, "1.0.0").returncode, 0)
                if arrange:
                    arrange()
                env = no_zstd if label == "zstd missing" else None
                result = self.publish(self.new, "1.1.0", *extra, env=env)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.folder("1.1.0")))
                self.assertEqual(self.latest(), "1.0.0")

    def latest(self):
        with open(os.path.join(self.root, "versions.json"), encoding="utf-8") as file:
            return json.load(file)["platforms"]["windows"]["version"]

    # Catches a delta published that costs more than the full payload
    # (many tiny files, all changed, make a list longer than the archive)
    # or that lists more entries than the setup reads, which every setup
    # would download and then refuse.
    def test_a_delta_the_setup_would_not_use_is_left_out(self):
        def tiny_files():
            return {"f%03d.txt" % n: os.urandom(8) for n in range(120)}

        def many_folders():
            return {"d%05d" % n: None for n in range(25001)}

        # Over the entry limit the base is not even unpacked: a damaged one
        # would fail the publish.
        cases = [("not smaller than the payload", tiny_files, "are not fewer than", False),
                 ("over the entry limit", many_folders, "more than the 25000", True)]
        for label, make, message, damage_base in cases:
            with self.subTest(label):
                shutil.rmtree(self.root)
                files = {"QuorvelAI.exe": b"MZ", **make()}
                old = make_app(os.path.join(self.temp, label, "old"), files)
                self.assertEqual(self.publish(old, "1.0.0").returncode, 0)
                if damage_base:
                    with open(os.path.join(self.folder("1.0.0"), "QuorvelAI-1.0.0-win-x64.tar.xz"),
                              "r+b") as payload:
                        payload.truncate(100)
                files.update(make())
                files["QuorvelAI.exe"] = b"MZ new"
                result = self.publish(make_app(os.path.join(self.temp, label, "new"), files), "1.1.0",
                                      "--delta-from", "1.0.0")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertNotIn("deltas", json.loads(result.stdout))
                self.assertIn("no delta from 1.0.0: ", result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(sorted(os.listdir(self.folder("1.1.0"))),
                                 ["QuorvelAI-1.1.0-win-x64.tar.xz", "manifest.json"])


class ServerTests(unittest.TestCase):
    """One server for the whole class; every test starts from a reset."""

    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="qv-serve-")
        cls.root = os.path.join(cls.temp, "root")
        cls.blob = os.urandom(300_000)
        make_app(cls.root, {"Installs/1.0/win-x64/payload.bin": cls.blob,
                            "versions.json": b'{"platforms": {"windows": {"version": "1.0"}}}'})
        cls.certs = os.path.join(cls.temp, "certs")
        subprocess.run([MAKE_CERTS, cls.certs], check=True, capture_output=True, timeout=60)
        cls.ports = {kind: os.path.join(cls.temp, kind + ".port") for kind in ("http", "https", "bad")}
        cls.log = os.path.join(cls.temp, "requests.log")
        c = lambda name: os.path.join(cls.certs, name)
        cls.output = open(os.path.join(cls.temp, "server.out"), "w")
        cls.server = subprocess.Popen(
            [sys.executable, "-B", TOOL, "serve", "--root", cls.root, "--port-file", cls.ports["http"],
             "--https-port", "0", "--https-port-file", cls.ports["https"],
             "--cert", c("server.crt"), "--key", c("server.key"),
             "--untrusted-https-port", "0", "--untrusted-https-port-file", cls.ports["bad"],
             "--untrusted-cert", c("untrusted-server.crt"), "--untrusted-key", c("untrusted-server.key"),
             "--request-log", cls.log],
            stdin=subprocess.DEVNULL, stdout=cls.output, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while not all(os.path.exists(p) for p in cls.ports.values()):
            if time.monotonic() > deadline or cls.server.poll() is not None:
                cls.tearDownClass()
                raise RuntimeError("the server did not start")
            time.sleep(0.05)
        cls.port = {kind: int(read(path)) for kind, path in cls.ports.items()}

    @classmethod
    def tearDownClass(cls):
        if cls.server.poll() is None:
            cls.server.send_signal(signal.SIGTERM)
            cls.exit_code = cls.server.wait(timeout=10)
        cls.output.close()
        shutil.rmtree(cls.temp)

    PAYLOAD = "/Installs/1.0/win-x64/payload.bin"

    def setUp(self):
        self.control("reset", {})

    def request(self, path, headers=None, method="GET", body=None, port=None):
        connection = http.client.HTTPConnection("127.0.0.1", port or self.port["http"], timeout=10)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def control(self, operation, document):
        status, _, body = self.request("/__control/" + operation, method="POST",
                                       body=json.dumps(document))
        return status, json.loads(body)

    def faults(self, faults, path=PAYLOAD, repeat_last=False):
        status, answer = self.control("faults", {"path": path, "faults": faults,
                                                 "repeat_last": repeat_last})
        self.assertEqual((status, answer), (200, {"ok": True}))

    def requests(self):
        status, _, body = self.request("/__control/requests")
        self.assertEqual(status, 200)
        return json.loads(body)

    def raw_get(self, path, headers=""):
        """Sends a GET on a bare socket and reads until the server ends the
        connection: (head text, body bytes)."""
        with socket.create_connection(("127.0.0.1", self.port["http"]), timeout=10) as sock:
            sock.sendall(("GET %s HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n%s\r\n"
                          % (path, headers)).encode())
            data = b""
            try:
                while True:
                    piece = sock.recv(65536)
                    if not piece:
                        break
                    data += piece
            except ConnectionResetError:
                pass
        head, _, body = data.partition(b"\r\n\r\n")
        return head.decode(), body

    # Catches off-by-one Content-Range ends, wrong lengths and ranges that
    # should have been ignored or refused.
    def test_ranges(self):
        n = len(self.blob)
        cases = [
            (None, 200, None, 0, n),
            ("bytes=0-", 206, "bytes 0-%d/%d" % (n - 1, n), 0, n),
            ("bytes=1000-", 206, "bytes 1000-%d/%d" % (n - 1, n), 1000, n),
            ("bytes=100-199", 206, "bytes 100-199/%d" % n, 100, 200),
            ("bytes=100-%d" % (n * 2), 206, "bytes 100-%d/%d" % (n - 1, n), 100, n),
            ("bytes=%d-" % (n - 1), 206, "bytes %d-%d/%d" % (n - 1, n - 1, n), n - 1, n),
            ("bytes=-10", 206, "bytes %d-%d/%d" % (n - 10, n - 1, n), n - 10, n),
            ("bytes=%d-" % n, 416, "bytes */%d" % n, 0, 0),
            ("bytes=%d-" % (n + 5), 416, "bytes */%d" % n, 0, 0),
            ("bytes=9-3", 200, None, 0, n),
            ("items=0-", 200, None, 0, n),
            ("bytes=0-1,5-6", 200, None, 0, n),
        ]
        for header, status, content_range, start, end in cases:
            with self.subTest(header):
                got, headers, body = self.request(self.PAYLOAD + "?t=1",
                                                  {"Range": header} if header else {})
                self.assertEqual(got, status)
                self.assertEqual(headers.get("Content-Range"), content_range)
                self.assertEqual(int(headers["Content-Length"]), end - start)
                self.assertEqual(body, self.blob[start:end])

    # Catches files served outside the root, folders served as files and
    # lookups that include the query.
    def test_lookup(self):
        cases = [("/versions.json?t=123&x=%2F", 200), ("/nothing.json", 404), ("/Installs", 404),
                 ("/../" + os.path.basename(self.temp) + "/server.out", 404),
                 ("/Installs/1.0/win-x64/%70ayload.bin", 200)]
        for path, status in cases:
            with self.subTest(path):
                self.assertEqual(self.request(path)[0], status)
        status, headers, body = self.request(self.PAYLOAD, method="HEAD")
        self.assertEqual((status, headers["Content-Length"], body), (200, str(len(self.blob)), b""))

    # Catches a connection that cannot carry a second request (keep-alive).
    def test_keep_alive(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.port["http"], timeout=10)
        for _ in range(3):
            connection.request("GET", "/versions.json")
            response = connection.getresponse()
            self.assertEqual((response.status, len(response.read())), (200, 46))
        connection.close()

    # Catches a fault list that is not consumed in order, or that does not
    # give way to normal service (or repeat) when it is used up.
    def test_fault_sequences(self):
        self.faults([{"status": 503}, {"status": 500, "body": "busy"}], path="/versions.json")
        answers = [self.request("/versions.json?t=%d" % i) for i in range(3)]
        self.assertEqual([a[0] for a in answers], [503, 500, 200])
        self.assertEqual(answers[1][2], b"busy")
        self.assertEqual(int(answers[0][1]["Content-Length"]), len(answers[0][2]))
        self.faults([{}, {"status": 429}], path="/versions.json", repeat_last=True)
        self.assertEqual([self.request("/versions.json")[0] for _ in range(4)], [200, 429, 429, 429])
        self.control("reset", {})
        self.assertEqual(self.request("/versions.json")[0], 200)

    # Catches a dropped connection that sends more or fewer bytes than
    # asked, or that hides the full length from the client.
    def test_drop_after(self):
        for fault in ({"drop_after": 12345}, {"drop_after": 12345, "reset": True},
                      {"drop_after": 1000, "range_start": 5000}):
            with self.subTest(fault):
                self.faults([fault])
                head, body = self.raw_get(self.PAYLOAD)
                start = fault.get("range_start", 0)
                self.assertIn("Content-Length: %d" % (len(self.blob) - start), head)
                self.assertEqual(body, self.blob[start:start + fault["drop_after"]])

    # Catches ignore_range and range_start answering what was asked instead
    # of what the fault says.
    def test_range_faults(self):
        n = len(self.blob)
        self.faults([{"ignore_range": True}, {"range_start": 7}, {"range_start": n}])
        status, headers, body = self.request(self.PAYLOAD, {"Range": "bytes=100-"})
        self.assertEqual((status, "Content-Range" in headers, body), (200, False, self.blob))
        status, headers, body = self.request(self.PAYLOAD, {"Range": "bytes=100-"})
        self.assertEqual((status, headers["Content-Range"]), (206, "bytes 7-%d/%d" % (n - 1, n)))
        self.assertEqual(body, self.blob[7:])
        self.assertEqual(self.request(self.PAYLOAD)[0], 416)

    # Catches a body without Content-Length whose end is not the end of the
    # connection (the client could not tell where it stops).
    def test_no_content_length(self):
        self.faults([{"no_content_length": True}])
        head, body = self.raw_get(self.PAYLOAD)
        self.assertNotIn("Content-Length", head)
        self.assertEqual(body, self.blob)

    # Catches corruption at the wrong offset, or at a body offset instead of
    # a file offset when a range is served.
    def test_corrupt_at(self):
        k = 150_000
        expected = bytearray(self.blob)
        expected[k] ^= 0xFF
        self.faults([{"corrupt_at": k}, {"corrupt_at": k}, {"corrupt_at": 10}])
        self.assertEqual(self.request(self.PAYLOAD)[2], bytes(expected))
        self.assertEqual(self.request(self.PAYLOAD, {"Range": "bytes=100000-"})[2],
                         bytes(expected[100000:]))
        self.assertEqual(self.request(self.PAYLOAD, {"Range": "bytes=100-"})[2], self.blob[100:])

    # Catches delay and throttle faults that do not slow the answer.
    def test_delay_and_throttle(self):
        self.faults([{"delay_ms": 300}, {"throttle_bps": 400_000}])
        began = time.monotonic()
        self.assertEqual(self.request(self.PAYLOAD, {"Range": "bytes=290000-"})[0], 206)
        self.assertGreaterEqual(time.monotonic() - began, 0.25)
        began = time.monotonic()
        self.assertEqual(self.request(self.PAYLOAD)[2], self.blob)
        self.assertGreaterEqual(time.monotonic() - began, 0.6)

    # Catches bad fault scripts being accepted (and later crashing a request).
    def test_bad_fault_scripts_are_refused(self):
        for document in ({"path": self.PAYLOAD, "faults": [{"statuss": 503}]},
                         {"path": self.PAYLOAD, "faults": [{"drop_after": "5"}]},
                         {"path": self.PAYLOAD, "faults": [{"ignore_range": 1}]},
                         {"path": self.PAYLOAD, "faults": {"status": 503}},
                         {"path": "versions.json", "faults": []}):
            with self.subTest(document):
                status, answer = self.control("faults", document)
                self.assertEqual((status, answer["ok"]), (400, False))
        self.assertEqual(self.request(self.PAYLOAD)[0], 200)

    # Catches a request record that misses fields, counts bytes wrongly,
    # lists control requests, or survives a reset.
    def test_request_record(self):
        self.faults([{"drop_after": 10}])
        self.raw_get(self.PAYLOAD + "?t=9", "Cache-Control: no-cache\r\nRange: bytes=5-\r\n")
        self.request("/versions.json", {"Range": "bytes=10-"})
        self.request("/missing")
        records = self.requests()
        self.assertEqual([(r["method"], r["path"], r["query"], r["range"], r["status"], r["bytes_sent"])
                          for r in records],
                         [("GET", self.PAYLOAD, "t=9", "bytes=5-", 206, 10),
                          ("GET", "/versions.json", "", "bytes=10-", 206, 36),
                          ("GET", "/missing", "", None, 404, 11)])
        self.assertEqual(records[0]["headers"]["Cache-Control"], "no-cache")
        self.assertEqual(records[0]["fault"], {"drop_after": 10})
        self.control("reset", {})
        self.assertEqual(self.requests(), [])
        with open(self.log, encoding="utf-8") as file:
            logged = [json.loads(line)["path"] for line in file]
        self.assertEqual(logged[-3:], [self.PAYLOAD, "/versions.json", "/missing"])
        self.assertNotIn("/__control/requests", logged)

    # Catches an HTTPS port that does not serve with a certificate for
    # localhost from the trusted CA, or whose untrusted twin is accepted.
    def test_https(self):
        context = ssl.create_default_context(cafile=os.path.join(self.certs, "ca.crt"))
        connection = http.client.HTTPSConnection("localhost", self.port["https"], context=context,
                                                 timeout=10)
        connection.request("GET", self.PAYLOAD, headers={"Range": "bytes=299000-"})
        response = connection.getresponse()
        self.assertEqual((response.status, response.read()), (206, self.blob[299000:]))
        connection.close()
        self.assertEqual(self.requests()[0]["headers"]["Host"], "localhost:%d" % self.port["https"])
        untrusted = http.client.HTTPSConnection("localhost", self.port["bad"], context=context,
                                                timeout=10)
        with self.assertRaises(ssl.SSLCertVerificationError):
            untrusted.request("GET", "/versions.json")
        untrusted.close()


class ServerShutdownTest(unittest.TestCase):
    def start(self, *extra):
        temp = tempfile.mkdtemp(prefix="qv-stop-")
        self.addCleanup(shutil.rmtree, temp)
        port_file = os.path.join(temp, "port")
        server = subprocess.Popen([sys.executable, "-B", TOOL, "serve", "--root", temp,
                                   "--port-file", port_file, *extra],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        self.addCleanup(lambda: server.poll() is None and server.kill())
        deadline = time.monotonic() + 10
        while not os.path.exists(port_file) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(int(read(port_file)) > 0)
        return server, port_file

    # Catches a server that ignores SIGTERM or leaves its port file behind
    # (a later reader would take it for a live server).
    def test_sigterm_stops_and_removes_port_file(self):
        server, port_file = self.start()
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(timeout=10), 0)
        self.assertFalse(os.path.exists(port_file))

    # Catches a server that outlives the wrapper that started it.
    def test_stops_when_its_parent_is_gone(self):
        parent = subprocess.Popen(["sleep", "60"])
        server, port_file = self.start("--parent-pid", str(parent.pid))
        parent.kill()
        parent.wait()
        self.assertEqual(server.wait(timeout=10), 0)
        self.assertFalse(os.path.exists(port_file))


class WithServerScriptTest(unittest.TestCase):
    # Catches the wrapper not exporting working URLs, not handing back the
    # command's exit status, or leaving its server running afterwards.
    def test_runs_command_against_a_live_server(self):
        temp = tempfile.mkdtemp(prefix="qv-with-")
        self.addCleanup(shutil.rmtree, temp)
        root = make_app(os.path.join(temp, "root"), {"versions.json": b"{}"})
        probe = os.path.join(temp, "probe.json")
        script = (
            "import json, os, ssl, sys, urllib.request\n"
            "ca = ssl.create_default_context(cafile=os.environ['QV_TEST_CERT_DIR'] + '/ca.crt')\n"
            "got = {k: v for k, v in os.environ.items() if k.startswith('QV_TEST_')}\n"
            "got['http'] = urllib.request.urlopen(got['QV_TEST_HTTP_URL'] + '/versions.json').read().decode()\n"
            "got['https'] = urllib.request.urlopen(got['QV_TEST_HTTPS_URL'] + '/versions.json', context=ca).read().decode()\n"
            "json.dump(got, open(sys.argv[1], 'w'))\n"
            "sys.exit(5)\n")
        env = {k: v for k, v in os.environ.items() if k not in ("QV_WINE_RUN", "QV_BIN_DIR")}
        env["QV_TEST_CERT_DIR"] = os.path.join(temp, "certs")
        env["TMPDIR"] = temp
        result = subprocess.run([os.path.join(HERE, "with_server.sh"), root, "--",
                                 sys.executable, "-c", script, probe],
                                env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 5, result.stderr)
        with open(probe, encoding="utf-8") as file:
            got = json.load(file)
        self.assertEqual((got["http"], got["https"]), ("{}", "{}"))
        self.assertEqual(got["QV_TEST_RELEASE_ROOT"], root)
        self.assertTrue(got["QV_TEST_HTTPS_URL"].startswith("https://localhost:"))
        self.assertTrue(got["QV_TEST_HTTPS_UNTRUSTED_URL"].startswith("https://localhost:"))
        port = int(got["QV_TEST_HTTP_URL"].rsplit(":", 1)[1])
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=2).close()


if __name__ == "__main__":
    unittest.main()
