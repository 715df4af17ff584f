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
frame records its content size. The list is bounded by MAX_LIST_BYTES and
MAX_LIST_ENTRIES, and a patch by MAX_DECODE_MEMORY, the limits the setup
applies; a delta beyond them is left out, a file beyond them sent whole.
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
MAX_LIST_ENTRIES = 25000
# What the setup may hold to decode one patch: its base file and the
# decoder's window (the smaller of the new file and the frame's window).
MAX_DECODE_MEMORY = 1 << 30
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


class DeltaLeftOut(Exception):
    """A delta the setup would refuse; the text says why, for a note."""


def too_many_entries(entries):
    """Why no delta can list these entries, or None when one can. Known
    from the new release alone, before any base is unpacked."""
    if len(entries) <= MAX_LIST_ENTRIES:
        return None
    return "the release has %d entries, more than the %d a delta may list" % (
        len(entries), MAX_LIST_ENTRIES)


def require_zstd():
    """Refuses the publish, before anything is written, when the zstd
    program is missing."""
    if shutil.which("zstd") is None:
        raise PublishError("the zstd program is missing (apt-get install zstd)")


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


def _zstd(arguments, source, target):
    """Writes a zstd frame of the file source to the file target with
    Debian's zstd program; returns its size."""
    try:
        result = subprocess.run(["zstd", "-q", "-f", _ZSTD_LEVEL, "--single-thread", *arguments,
                                 source, "-o", target], capture_output=True, check=False)
    except FileNotFoundError:
        raise OSError("the zstd program is missing (apt-get install zstd)")
    if result.returncode != 0:
        raise OSError("zstd failed on %s: %s" % (source, result.stderr.decode(errors="replace")))
    return os.path.getsize(target)


def _patch_fits(base_size, size, window_log):
    return base_size + min(size, 1 << window_log) <= MAX_DECODE_MEMORY


def _append(data, path):
    with open(path, "rb") as frame:
        shutil.copyfileobj(frame, data, _COPY_BUFFER)


def _file_from(entry, base_path, data, work):
    """The list item of one new file; appends its frame to data when the
    installed file cannot be taken as it is. The frames go through files in
    work, so no file is ever held in memory."""
    sha256 = _sha256_of(entry.source)
    item = {"path": entry.relative, "kind": "file", "size": entry.size, "sha256": sha256}
    base_is_file = os.path.isfile(base_path) and not os.path.islink(base_path)
    if base_is_file and os.path.getsize(base_path) == entry.size and _sha256_of(base_path) == sha256:
        item["from"] = "unchanged"
        return item
    whole, patch = os.path.join(work, "whole.zst"), os.path.join(work, "patch.zst")
    frame, length = whole, _zstd([], entry.source, whole)
    item["from"] = "whole"
    base_size = os.path.getsize(base_path) if base_is_file else 0
    window_log = _window_log(max(base_size, entry.size))
    if base_is_file and entry.size > 0 and _patch_fits(base_size, entry.size, window_log):
        patch_length = _zstd(["--patch-from=" + base_path, "--long=%d" % window_log],
                             entry.source, patch)
        if patch_length < length:
            frame, length = patch, patch_length
            item.update({"from": "patch", "baseSize": base_size,
                         "baseSha256": _sha256_of(base_path)})
    item["offset"] = data.tell()
    item["length"] = length
    _append(data, frame)
    return item


def write_delta(entries, base_tree, base_version, version, out_file, work):
    """Writes the delta from base_tree (the unpacked base release) to the
    entries of the new release into the open binary file out_file; returns
    its size and SHA-256 as (size, sha256). Raises DeltaLeftOut when the
    setup would refuse its list."""
    reason = too_many_entries(entries)
    if reason:
        raise DeltaLeftOut(reason)
    items = []
    with tempfile.TemporaryFile(dir=work) as data:
        for entry in entries:
            if entry.is_folder:
                items.append({"path": entry.relative, "kind": "folder"})
                continue
            base_path = os.path.join(base_tree, *entry.relative.split("/"))
            items.append(_file_from(entry, base_path, data, work))
        listing = json.dumps({"baseVersion": base_version, "version": version, "entries": items},
                             ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        if len(listing) > MAX_LIST_BYTES:
            raise DeltaLeftOut("its list of %d bytes is longer than the %d a delta may have"
                               % (len(listing), MAX_LIST_BYTES))
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
