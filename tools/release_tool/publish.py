"""The publish command: the release layout the setup program downloads.

ROOT/versions.json names the latest version; each version has its folder
ROOT/Installs/<version>/win-x64/ with the payload and manifest.json. Every
file is written under a temporary name and renamed into place: the payload
and deltas first, then the manifest with its signature, and the version
index with its signature last, so a server never hands out an index that
points to a manifest or payload not yet complete.
"""

import json
import os
import shutil
import tempfile

from .atomic import write_atomically as _write_atomically
from .delta import (DeltaFacts, DeltaLeftOut, delta_name, require_zstd, too_many_entries,
                    unpack_base, write_delta)
from .names import name_problem
from .payload import PublishError, collect_entries, require_xz, write_payload
from .signing import check_signer, write_signed_document
from .versions import compare_versions, parse_version

MANIFEST_SCHEMA = 1
# Characters the setup refuses in the manifest's payload name: it is put
# into a URL as it stands.
_URL_UNSAFE = set("/\\?#:")


def default_payload_name(version):
    return "QuorvelAI-%s-win-x64.tar.xz" % version


def version_folder(root, version):
    return os.path.join(root, "Installs", version, "win-x64")


def _check_payload_name(name):
    if not name or any(char in _URL_UNSAFE for char in name):
        raise PublishError("payload name %r must not be empty or hold any of / \\ ? # :" % name)
    problem = name_problem(name)
    if problem:
        raise PublishError("payload name %r: %s" % (name, problem))


def _read_index(path):
    """The existing version index as a dict ({} when there is none)."""
    if not os.path.exists(path):
        return {}
    try:
        with open(path, "rb") as file:
            document = json.loads(file.read().decode("utf-8"))
    except (OSError, ValueError) as error:
        raise PublishError("%s cannot be read (%s); fix or remove it" % (path, error))
    platforms = document.get("platforms", {}) if isinstance(document, dict) else None
    if not isinstance(platforms, dict) or not isinstance(platforms.get("windows", {}), dict):
        raise PublishError("%s is not a version index with a \"platforms\" object; "
                           "fix or remove it" % path)
    return document


def _latest_in(index):
    return index.get("platforms", {}).get("windows", {}).get("version")


def _json_bytes(document):
    return (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode("utf-8")


def _check_delta_bases(version, root, bases):
    """Refuses a base that is not an older published release of root."""
    seen = set()
    for base in bases:
        base_parts = parse_version(base)
        if base_parts is None or len(base_parts) < 3:
            raise PublishError("--delta-from %r is not a release version" % base)
        if compare_versions(base, version) >= 0:
            raise PublishError("--delta-from %s is not older than %s" % (base, version))
        if base in seen:
            raise PublishError("--delta-from %s is named twice" % base)
        seen.add(base)
        if not os.path.isfile(os.path.join(version_folder(root, base), "manifest.json")):
            raise PublishError("--delta-from %s: no release %s in %s" % (base, base, root))


def _unpack_bases(root, bases, work):
    """Each base release unpacked below work: {version: tree}. Runs before
    anything is written, so a damaged base leaves the root as it was."""
    trees = {}
    for base in bases:
        tree = os.path.join(work, base)
        os.makedirs(tree)
        unpack_base(version_folder(root, base), base, tree)
        trees[base] = tree
    return trees


def _build_deltas(entries, version, trees, work, notes):
    """Writes one delta per base into work, before anything of the release
    is written, so a failing zstd leaves the root as it was. A delta the
    setup would refuse is left out (and said in notes). Returns a list of
    (DeltaFacts, path in work)."""
    built = []
    for base, tree in trees.items():
        name = delta_name(version, base)
        path = os.path.join(work, name)
        try:
            with open(path, "wb") as file:
                size, sha256 = write_delta(entries, tree, base, version, file, work)
        except DeltaLeftOut as why:
            os.remove(path)
            notes.append("no delta from %s: %s" % (base, why))
            continue
        built.append((DeltaFacts(base, name, size, sha256), path))
    return built


def _copy_file(path, out_file):
    with open(path, "rb") as source:
        shutil.copyfileobj(source, out_file, 1 << 20)


def _place_deltas(built, folder, payload_size, notes):
    """Puts each built delta beside the payload; one that would not be
    smaller than the full payload is left out (and said in notes)."""
    deltas = []
    for facts, path in built:
        if facts.size >= payload_size:
            notes.append("no delta from %s: its %d bytes are not fewer than the full "
                         "payload's %d" % (facts.base_version, facts.size, payload_size))
            continue
        _write_atomically(os.path.join(folder, facts.name),
                          lambda file, source=path: _copy_file(source, file))
        deltas.append(facts)
    return deltas


def publish(app_dir, version, root, payload_name=None, set_latest=None, delta_from=(),
            notes=None, signer=None):
    """Publishes app_dir as version below root. set_latest None names the
    version in versions.json only when it is newer than the one named there
    (or none is); True always does, False never does. delta_from names
    older releases of root to write deltas from; a delta not smaller than
    the payload is left out, with a line in notes (a list) when given.
    signer (see signing.py) signs the manifest and the index; None writes
    them unsigned. Returns the manifest and whether versions.json now names
    this version.
    Raises PublishError for refused input, OSError for failing writes."""
    notes = [] if notes is None else notes
    parts = parse_version(version)
    if parts is None:
        raise PublishError("version %r is not 1 to 4 dot-separated numbers "
                           "(each at most 1000000)" % version)
    # The setup refuses release numbers shorter than major.minor.patch: 1.2
    # and 1.2.0 would be one version in two folders.
    if len(parts) < 3:
        raise PublishError("version %r has fewer than three parts; write it as "
                           "major.minor.patch" % version)
    payload_name = payload_name or default_payload_name(version)
    _check_payload_name(payload_name)
    index_path = os.path.join(root, "versions.json")
    index = _read_index(index_path)
    # Read before anything is written, so a refusal leaves the root as it was.
    entries = collect_entries(app_dir)
    _check_delta_bases(version, root, delta_from)
    require_xz()
    if delta_from:
        require_zstd()
    check_signer(signer)
    # A release too large for any delta unpacks no base (minutes for a big one).
    reason = too_many_entries(entries)
    if delta_from and reason:
        notes.extend("no delta from %s: %s" % (base, reason) for base in delta_from)
        delta_from = ()
    work = tempfile.mkdtemp(prefix="qv-publish-")
    try:
        trees = _unpack_bases(root, delta_from, work)
        built = _build_deltas(entries, version, trees, work, notes)
        return _write_release(entries, version, root, payload_name, set_latest, index,
                              built, notes, signer)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _write_release(entries, version, root, payload_name, set_latest, index, built, notes,
                   signer):
    index_path = os.path.join(root, "versions.json")
    folder = version_folder(root, version)
    os.makedirs(folder, exist_ok=True)
    facts = _write_atomically(os.path.join(folder, payload_name),
                              lambda file: write_payload(entries, file))
    manifest = {
        "schema": MANIFEST_SCHEMA,
        "version": version,
        "payload": payload_name,
        "payloadSha256": facts.sha256,
        "payloadSize": facts.size,
        "unpackedSize": facts.unpacked_size,
        "longestPath": facts.longest_path,
    }
    # The deltas go beside the payload before the manifest names them.
    deltas = _place_deltas(built, folder, facts.size, notes)
    if deltas:
        manifest["deltas"] = [{"baseVersion": delta.base_version, "name": delta.name,
                               "size": delta.size, "sha256": delta.sha256} for delta in deltas]
    write_signed_document(os.path.join(folder, "manifest.json"), _json_bytes(manifest), signer)

    latest = _latest_in(index)
    if set_latest is None:
        set_latest = compare_versions(version, latest) > 0
    if set_latest:
        index.setdefault("platforms", {}).setdefault("windows", {})["version"] = version
        write_signed_document(index_path, _json_bytes(index), signer)
    return manifest, set_latest or latest == version
