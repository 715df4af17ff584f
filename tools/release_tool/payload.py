"""The payload: an XZ-compressed pax tar of the application folder.

The archive is reproducible: entries are sorted by path and carry fixed
owners, modes and times, so the same folder always gives the same bytes
(and so the same SHA-256 in the manifest).

Debian's xz program compresses it on every core, in blocks of a fixed
size compressed each on its own: the bytes depend on the input and the
block size only, never on the number of threads. Each block records its
sizes, so a decoder could also work on several at once.
"""

import hashlib
import os
import shutil
import stat
import subprocess
import tarfile
from dataclasses import dataclass

from .names import name_problem, windows_fold, windows_path_length

APP_PROGRAM = "QuorvelAI.exe"
_COPY_BUFFER = 1 << 20
_MAX_REPORTED = 20
# Three times the dictionary of preset 6 (8 MiB), xz's own choice for it;
# part of the payload's bytes, so it never depends on the machine.
XZ_BLOCK_SIZE = 24 << 20


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


def require_xz():
    """Refuses the publish, before anything is written, when the xz program
    is missing."""
    if shutil.which("xz") is None:
        raise PublishError("the xz program is missing (apt-get install xz-utils)")


def xz_command(threads=None):
    """xz reading a tar on stdin: preset 6 with CRC64 checks, blocks of
    XZ_BLOCK_SIZE on threads threads (default: every core). The + keeps
    one thread in the multi-threaded format, and --no-adjust keeps a memory
    limit from switching to the single-threaded one."""
    threads = threads or os.cpu_count() or 1
    return ["xz", "--format=xz", "--check=crc64", "-6", "--threads=+%d" % threads,
            "--block-size=%d" % XZ_BLOCK_SIZE, "--no-adjust", "--stdout", "--quiet"]


def _write_tar(entries, stream):
    # "w|": a pipe cannot tell its position, which plain "w" asks for.
    with tarfile.open(fileobj=stream, mode="w|", format=tarfile.PAX_FORMAT,
                      encoding="utf-8", copybufsize=_COPY_BUFFER) as tar:
        for entry in entries:
            info = _tar_info(entry)
            if entry.is_folder:
                tar.addfile(info)
                continue
            with open(entry.source, "rb") as source:
                tar.addfile(info, source)


def _sha256_and_size(path):
    digest, size = hashlib.sha256(), 0
    with open(path, "rb") as file:
        for piece in iter(lambda: file.read(_COPY_BUFFER), b""):
            digest.update(piece)
            size += len(piece)
    return digest.hexdigest(), size


def write_payload(entries, out_file, threads=None):
    """Writes the archive of the entries to out_file (an open binary file
    on disk, still empty) and returns its PayloadFacts. Raises OSError when
    xz fails."""
    with subprocess.Popen(xz_command(threads), stdin=subprocess.PIPE, stdout=out_file,
                          stderr=subprocess.PIPE) as xz:
        try:
            _write_tar(entries, xz.stdin)
        except BrokenPipeError:
            pass  # xz ended early; its status says why
        finally:
            xz.stdin.close()
        error = xz.stderr.read()
        if xz.wait() != 0:
            raise OSError("xz failed: %s" % error.decode(errors="replace").strip())
    sha256, size = _sha256_and_size(out_file.name)
    return PayloadFacts(
        sha256=sha256,
        size=size,
        unpacked_size=sum(entry.size for entry in entries),
        longest_path=max(windows_path_length(entry.relative) for entry in entries))
