"""Deltas: what a setup that has an older release installed downloads
instead of the full payload.

A delta file is

    8 bytes   b"QVDELTA1"
    8 bytes   length L of the list, unsigned little-endian
    L bytes   the list: UTF-8 JSON (below)
    the rest  the data: zstd frames, one per file that is not unchanged

The list names every entry of the new tree, in the payload's order:

    {"baseVersion": "1.0.0", "version": "1.1.0", "entries": [
      {"path": "resources", "kind": "folder"},
      {"path": "QuorvelAI.exe", "kind": "file", "size": N, "sha256": H,
       "from": "unchanged"},
      {"path": "a.pak", "kind": "file", "size": N, "sha256": H,
       "from": "patch", "baseSize": N, "baseSha256": H,
       "offset": O, "length": L},
      {"path": "b.txt", "kind": "file", "size": N, "sha256": H,
       "from": "whole", "offset": O, "length": L}]}

"unchanged" copies the installed file of the same path; "patch" decodes a
zstd frame made with --patch-from, with the installed file of the same path
(of baseSize bytes and hash baseSha256) as its raw-content prefix; "whole"
decodes a plain zstd frame. offset counts from the start of the data. Every
frame records its content size. The list is bounded by MAX_LIST_BYTES, the
same limit the setup applies.
"""

import hashlib
import json
import lzma
import os
import shutil
import struct
import subprocess
import tarfile
import tempfile
from dataclasses import dataclass

from .names import name_problem
from .payload import PublishError

MAGIC = b"QVDELTA1"
MAX_LIST_BYTES = 64 << 20
_COPY_BUFFER = 1 << 20
# Level 9: the patches of level 19 are hardly smaller (the matches against
# the base file are found either way) and take many times as long. The
# window has to reach back over the whole base file, so it grows with it.
_ZSTD_LEVEL = "-9"
_MIN_WINDOW_LOG = 20
_MAX_WINDOW_LOG = 30


@dataclass(frozen=True)
class DeltaFacts:
    base_version: str
    name: str
    size: int
    sha256: str


def delta_name(version, base_version):
    return "QuorvelAI-%s-from-%s-win-x64.delta" % (version, base_version)


def _sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        for piece in iter(lambda: file.read(_COPY_BUFFER), b""):
            digest.update(piece)
    return digest.hexdigest()


def _read_manifest(folder, base_version):
    path = os.path.join(folder, "manifest.json")
    try:
        with open(path, "rb") as file:
            manifest = json.loads(file.read().decode("utf-8"))
    except FileNotFoundError:
        raise PublishError("--delta-from %s: no release %s in this root (%s is missing)"
                           % (base_version, base_version, path))
    except (OSError, ValueError) as error:
        raise PublishError("--delta-from %s: %s cannot be read (%s)" % (base_version, path, error))
    payload = manifest.get("payload") if isinstance(manifest, dict) else None
    if not isinstance(payload, str) or name_problem(payload) or "/" in payload:
        raise PublishError("--delta-from %s: %s names no payload" % (base_version, path))
    return manifest, os.path.join(folder, payload)


def _safe_member_path(name):
    parts = name.split("/")
    if name.startswith("/") or any(not part or name_problem(part) for part in parts):
        return None
    return os.path.join(*parts)


def unpack_base(folder, base_version, target):
    """Unpacks the published payload of base_version (in its version folder)
    into target after checking it against its manifest. Raises
    PublishError when the release is missing, damaged or holds anything
    but files and folders."""
    manifest, payload = _read_manifest(folder, base_version)
    if not os.path.isfile(payload):
        raise PublishError("--delta-from %s: its payload %s is missing" % (base_version, payload))
    if _sha256_of(payload) != str(manifest.get("payloadSha256", "")).lower():
        raise PublishError("--delta-from %s: %s does not match its manifest's payloadSha256"
                           % (base_version, payload))
    try:
        with tarfile.open(payload, "r:xz") as archive:
            for member in archive:
                relative = _safe_member_path(member.name)
                if relative is None or not (member.isdir() or member.isfile()):
                    raise PublishError("--delta-from %s: the payload holds %r, which a "
                                       "published payload never does" % (base_version, member.name))
                path = os.path.join(target, relative)
                if member.isdir():
                    os.makedirs(path, exist_ok=True)
                    continue
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with archive.extractfile(member) as source, open(path, "wb") as out:
                    shutil.copyfileobj(source, out, _COPY_BUFFER)
    except (tarfile.TarError, lzma.LZMAError, EOFError) as error:
        raise PublishError("--delta-from %s: %s cannot be read (%s)" % (base_version, payload, error))


def _window_log(size):
    log = _MIN_WINDOW_LOG
    while (1 << log) < size and log < _MAX_WINDOW_LOG:
        log += 1
    return log


def _zstd(arguments, source):
    """A zstd frame of source (bytes), made by Debian's zstd program."""
    try:
        result = subprocess.run(["zstd", "-q", "-c", _ZSTD_LEVEL, "--single-thread",
                                 *arguments, source], capture_output=True, check=False)
    except FileNotFoundError:
        raise OSError("the zstd program is missing (apt-get install zstd)")
    if result.returncode != 0:
        raise OSError("zstd failed on %s: %s" % (source, result.stderr.decode(errors="replace")))
    return result.stdout


def _file_from(entry, base_path, data):
    """The list item of one new file; appends its frame to data when the
    installed file cannot be taken as it is."""
    sha256 = _sha256_of(entry.source)
    item = {"path": entry.relative, "kind": "file", "size": entry.size, "sha256": sha256}
    base_is_file = os.path.isfile(base_path) and not os.path.islink(base_path)
    if base_is_file and os.path.getsize(base_path) == entry.size and _sha256_of(base_path) == sha256:
        item["from"] = "unchanged"
        return item
    frame = _zstd([], entry.source)
    item["from"] = "whole"
    if base_is_file and entry.size > 0:
        base_size = os.path.getsize(base_path)
        window = "--long=%d" % _window_log(max(base_size, entry.size))
        patch = _zstd(["--patch-from=" + base_path, window], entry.source)
        if len(patch) < len(frame):
            frame = patch
            item.update({"from": "patch", "baseSize": base_size,
                         "baseSha256": _sha256_of(base_path)})
    item["offset"] = data.tell()
    item["length"] = len(frame)
    data.write(frame)
    return item


def write_delta(entries, base_tree, base_version, version, out_file, work):
    """Writes the delta from base_tree (the unpacked base release) to the
    entries of the new release into the open binary file out_file; returns
    its size and SHA-256 as (size, sha256)."""
    items = []
    with tempfile.TemporaryFile(dir=work) as data:
        for entry in entries:
            if entry.is_folder:
                items.append({"path": entry.relative, "kind": "folder"})
                continue
            base_path = os.path.join(base_tree, *entry.relative.split("/"))
            items.append(_file_from(entry, base_path, data))
        listing = json.dumps({"baseVersion": base_version, "version": version, "entries": items},
                             ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        if len(listing) > MAX_LIST_BYTES:
            raise PublishError("the release has too many files for a delta (list of %d bytes)"
                               % len(listing))
        digest = hashlib.sha256()
        size = 0
        data.seek(0)
        for piece in (MAGIC, struct.pack("<Q", len(listing)), listing):
            digest.update(piece)
            size += out_file.write(piece)
        for piece in iter(lambda: data.read(_COPY_BUFFER), b""):
            digest.update(piece)
            size += out_file.write(piece)
    return size, digest.hexdigest()
