"""Staged releases: the version index's rollout, withdrawn versions and
channels beside the stable version.

Under platforms.windows of versions.json:

  "version":  "1.2.0"                              the stable version
  "rollout":  {"version": "1.3.0", "percent": 10}  a newer version for a share
  "revoked":  ["1.1.0"]                            withdrawn versions
  "channels": {"beta": "1.4.0"}                    versions for --channel

Each command reads the index, checks what it is asked against the releases
published in the root, and writes the index again with its signature, in
one replace. A refusal writes nothing.
"""

import json
import os

from .payload import PublishError
from .publish import _read_index, version_folder
from .signing import write_signed_document
from .versions import compare_versions, parse_version


def index_path(root):
    return os.path.join(root, "versions.json")


def _windows(index):
    return index.setdefault("platforms", {}).setdefault("windows", {})


def is_published(root, version):
    return os.path.isfile(os.path.join(version_folder(root, version), "manifest.json"))


def _check_release(root, version, what):
    parts = parse_version(version)
    if parts is None or len(parts) < 3:
        raise PublishError("%s %r is not a release version (major.minor.patch)" % (what, version))
    if not is_published(root, version):
        raise PublishError("%s %s is not published in %s" % (what, version, root))


def _check_percent(percent):
    if not isinstance(percent, int) or not 0 <= percent <= 100:
        raise PublishError("the percent must be a whole number from 0 to 100, not %r" % percent)


def _revoked(windows):
    revoked = windows.get("revoked")
    return [item for item in revoked if isinstance(item, str)] if isinstance(revoked, list) else []


def _is_revoked(windows, version):
    return any(compare_versions(item, version) == 0 for item in _revoked(windows))


def _usable(root, windows, version, what):
    _check_release(root, version, what)
    if _is_revoked(windows, version):
        raise PublishError("%s %s is revoked" % (what, version))


def read_state(root):
    """The index of root (a dict) and its platforms.windows member."""
    index = _read_index(index_path(root))
    return index, _windows(index)


def _write(root, index, signer):
    data = (json.dumps(index, indent=2, ensure_ascii=False) + "\n").encode("utf-8")
    write_signed_document(index_path(root), data, signer)


def _stable(windows):
    stable = windows.get("version")
    if not isinstance(stable, str) or parse_version(stable) is None:
        raise PublishError("versions.json names no stable version; publish one first")
    return stable


def check_offer(root, version, percent):
    """Refuses a rollout of version at percent before publish writes it."""
    _check_percent(percent)
    _, windows = read_state(root)
    stable = _stable(windows)
    if compare_versions(version, stable) <= 0:
        raise PublishError("rollout %s is not newer than the stable version %s" % (version, stable))
    if _is_revoked(windows, version):
        raise PublishError("rollout %s is revoked" % version)


def check_channel_name(name):
    if not isinstance(name, str) or not name.strip() or name != name.strip():
        raise PublishError("channel name %r must not be empty or start or end with a space" % name)


def offer_rollout(root, version, percent, signer):
    """Names version as the rollout at percent; the stable version stays."""
    check_offer(root, version, percent)
    _check_release(root, version, "rollout")
    index, windows = read_state(root)
    windows["rollout"] = {"version": version, "percent": percent}
    _write(root, index, signer)


def set_percent(root, percent, signer):
    """Raises or lowers the rollout's share; 0 halts it."""
    _check_percent(percent)
    index, windows = read_state(root)
    rollout = windows.get("rollout")
    if not isinstance(rollout, dict) or not isinstance(rollout.get("version"), str):
        raise PublishError("versions.json has no rollout to change")
    _usable(root, windows, rollout["version"], "rollout")
    rollout["percent"] = percent
    _write(root, index, signer)


def promote(root, signer):
    """The rollout's version becomes the stable one; the rollout ends."""
    index, windows = read_state(root)
    rollout = windows.get("rollout")
    if not isinstance(rollout, dict) or not isinstance(rollout.get("version"), str):
        raise PublishError("versions.json has no rollout to promote")
    _usable(root, windows, rollout["version"], "rollout")
    windows["version"] = rollout["version"]
    del windows["rollout"]
    _write(root, index, signer)


def revoke(root, version, stable_instead, signer):
    """Withdraws version. The stable version can only be withdrawn with an
    older, published, non-revoked version named to take its place; a
    rollout of the withdrawn version ends."""
    _check_release(root, version, "version")
    index, windows = read_state(root)
    stable = _stable(windows)
    if compare_versions(version, stable) == 0:
        if stable_instead is None:
            raise PublishError("%s is the stable version: name the version that takes its place "
                               "with --stable" % version)
        _usable(root, windows, stable_instead, "--stable")
        if compare_versions(stable_instead, version) >= 0:
            raise PublishError("--stable %s is not older than %s" % (stable_instead, version))
        windows["version"] = stable_instead
    elif stable_instead is not None:
        raise PublishError("--stable is only for revoking the stable version %s" % stable)
    if not _is_revoked(windows, version):
        windows["revoked"] = _revoked(windows) + [version]
    rollout = windows.get("rollout")
    if isinstance(rollout, dict) and compare_versions(str(rollout.get("version")), version) == 0:
        del windows["rollout"]
    _write(root, index, signer)


def set_channel(root, name, version, signer):
    """Points channel name at version."""
    check_channel_name(name)
    index, windows = read_state(root)
    _usable(root, windows, version, "channel version")
    channels = windows.get("channels")
    if not isinstance(channels, dict):
        channels = windows["channels"] = {}
    channels[name] = version
    _write(root, index, signer)


def describe(root):
    """The state of the index as lines of text."""
    _, windows = read_state(root)

    def mark(version):
        return " (revoked)" if _is_revoked(windows, version) else ""

    stable = windows.get("version")
    lines = ["stable:   %s%s" % (stable, mark(stable)) if isinstance(stable, str)
             else "stable:   none"]
    rollout = windows.get("rollout")
    if isinstance(rollout, dict):
        halted = " (halted)" if rollout.get("percent") == 0 else ""
        lines.append("rollout:  %s at %s %%%s%s" % (rollout.get("version"), rollout.get("percent"),
                                                  halted, mark(str(rollout.get("version")))))
    else:
        lines.append("rollout:  none")
    revoked = _revoked(windows)
    lines.append("revoked:  %s" % (", ".join(revoked) if revoked else "none"))
    channels = windows.get("channels")
    if isinstance(channels, dict) and channels:
        for name in sorted(channels):
            lines.append("channel:  %s %s%s" % (name, channels[name], mark(str(channels[name]))))
    else:
        lines.append("channels: none")
    return lines
