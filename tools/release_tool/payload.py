"""The payload: an XZ-compressed pax tar of the application folder.

The archive is reproducible: entries are sorted by path and carry fixed
owners, modes and times, so the same folder always gives the same bytes
(and so the same SHA-256 in the manifest).
"""

import hashlib
import lzma
import os
import stat
import tarfile
from dataclasses import dataclass

from .names import name_problem, windows_fold, windows_path_length

APP_PROGRAM = "QuorvelAI.exe"
_COPY_BUFFER = 1 << 20
_MAX_REPORTED = 20


class PublishError(Exception):
    """A publish request the tool refuses (bad folder, name or version);
    the text says every problem found, for the publisher."""


@dataclass(frozen=True)
class Entry:
    relative: str   # path inside the payload, "/" separators
    source: str     # path on this machine
    is_folder: bool
    size: int


@dataclass(frozen=True)
class PayloadFacts:
    sha256: str
    size: int
    unpacked_size: int
    longest_path: int


def collect_entries(app_dir):
    """Every file and folder below app_dir, sorted by relative path.
    Raises PublishError listing the problems when any entry is refused."""
    if not os.path.isdir(app_dir):
        raise PublishError("%s is not a folder" % app_dir)
    top = os.path.join(app_dir, APP_PROGRAM)
    if not os.path.isfile(top) or os.path.islink(top):
        raise PublishError("%s has no %s at its top" % (app_dir, APP_PROGRAM))
    entries, problems = [], []
    _walk(app_dir, "", entries, problems)
    if problems:
        shown = problems[:_MAX_REPORTED]
        if len(problems) > len(shown):
            shown.append("... and %d more" % (len(problems) - len(shown)))
        raise PublishError("the app folder holds names the setup would refuse:\n  "
                           + "\n  ".join(shown))
    entries.sort(key=lambda entry: entry.relative)
    if sum(entry.size for entry in entries) == 0:
        raise PublishError("the app folder holds no data (all files are empty)")
    return entries


def _walk(folder, prefix, entries, problems):
    with os.scandir(folder) as listing:
        children = sorted(listing, key=lambda child: child.name)
    seen = {}
    for child in children:
        relative = prefix + child.name
        problem = name_problem(child.name)
        if problem:
            problems.append("%r: %s" % (relative, problem))
            continue
        twin = seen.setdefault(windows_fold(child.name), child.name)
        if twin != child.name:
            problems.append("%r: differs only in letter case from %r, and Windows "
                            "treats them as one name" % (relative, prefix + twin))
            continue
        mode = child.stat(follow_symlinks=False).st_mode
        if stat.S_ISLNK(mode):
            problems.append("%r: is a symbolic link" % relative)
        elif stat.S_ISDIR(mode):
            entries.append(Entry(relative, child.path, True, 0))
            _walk(child.path, relative + "/", entries, problems)
        elif stat.S_ISREG(mode):
            entries.append(Entry(relative, child.path, False,
                                 child.stat(follow_symlinks=False).st_size))
        else:
            problems.append("%r: is neither a regular file nor a folder" % relative)


class _HashingWriter:
    """Passes compressed bytes to the file while hashing and counting them,
    so the payload is read only once."""

    def __init__(self, file):
        self._file = file
        self.hash = hashlib.sha256()
        self.size = 0

    def write(self, data):
        self.hash.update(data)
        self.size += len(data)
        return self._file.write(data)

    def flush(self):
        self._file.flush()


def _tar_info(entry):
    info = tarfile.TarInfo(entry.relative)
    info.mtime = 0
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    if entry.is_folder:
        info.type = tarfile.DIRTYPE
        info.mode = 0o755
    else:
        info.type = tarfile.REGTYPE
        info.mode = 0o644
        info.size = entry.size
    return info


def write_payload(entries, out_file):
    """Writes the archive of the entries to the open binary file out_file
    and returns its PayloadFacts."""
    writer = _HashingWriter(out_file)
    with lzma.LZMAFile(writer, "wb", format=lzma.FORMAT_XZ,
                       check=lzma.CHECK_CRC64, preset=6) as xz:
        with tarfile.open(fileobj=xz, mode="w", format=tarfile.PAX_FORMAT,
                          encoding="utf-8", copybufsize=_COPY_BUFFER) as tar:
            for entry in entries:
                info = _tar_info(entry)
                if entry.is_folder:
                    tar.addfile(info)
                    continue
                with open(entry.source, "rb") as source:
                    tar.addfile(info, source)
    return PayloadFacts(
        sha256=writer.hash.hexdigest(),
        size=writer.size,
        unpacked_size=sum(entry.size for entry in entries),
        longest_path=max(windows_path_length(entry.relative) for entry in entries))
