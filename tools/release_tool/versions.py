"""Version strings as the setup program reads them: one to four decimal
parts separated by single dots, each part at most 1,000,000."""

import re

_MAX_PART = 1_000_000
_PATTERN = re.compile(r"[0-9]+(\.[0-9]+){0,3}")


def parse_version(text):
    """Returns the list of part values, or None when the text is not a
    version string the setup would accept."""
    if not isinstance(text, str) or not _PATTERN.fullmatch(text):
        return None
    # The pattern accepts any digit class in some locales; insist on ASCII.
    if not text.isascii():
        return None
    parts = [int(part) for part in text.split(".")]
    if any(part > _MAX_PART for part in parts):
        return None
    return parts


def compare_versions(a, b):
    """-1, 0 or 1 as a is older than, equal to or newer than b. A valid
    version is newer than an invalid one; missing parts count as 0."""
    pa, pb = parse_version(a), parse_version(b)
    if pa is None or pb is None:
        return (pa is not None) - (pb is not None)
    length = max(len(pa), len(pb))
    pa += [0] * (length - len(pa))
    pb += [0] * (length - len(pb))
    return (pa > pb) - (pa < pb)
