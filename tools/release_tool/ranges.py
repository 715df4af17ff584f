"""The part of a file a GET asks for with its Range header."""

import re
from dataclasses import dataclass

_SINGLE_RANGE = re.compile(r"\s*bytes\s*=\s*([0-9]*)\s*-\s*([0-9]*)\s*")


@dataclass(frozen=True)
class Span:
    """What to answer: kind "full" (200, whole file), "partial" (206,
    bytes start..end inclusive) or "unsatisfiable" (416)."""
    kind: str
    start: int = 0
    end: int = -1

    @property
    def length(self):
        return self.end - self.start + 1 if self.kind != "unsatisfiable" else 0


def full(size):
    return Span("full", 0, size - 1)


def from_start(start, size):
    """A 206 span from start to the end of the file (416 past the end)."""
    if start >= size:
        return Span("unsatisfiable")
    return Span("partial", start, size - 1)


def parse_range(header, size):
    """The span a Range header value asks for in a file of size bytes.
    A missing header, one that is not a single byte range, or a range whose
    end lies before its start is ignored, and the whole file is served, as
    HTTP allows; a range that starts at or after the end is unsatisfiable."""
    if header is None:
        return full(size)
    match = _SINGLE_RANGE.fullmatch(header)
    if not match or (not match.group(1) and not match.group(2)):
        return full(size)
    first, last = match.group(1), match.group(2)
    if not first:
        # "bytes=-S": the last S bytes.
        suffix = int(last)
        if suffix == 0 or size == 0:
            return Span("unsatisfiable")
        return Span("partial", max(0, size - suffix), size - 1)
    start = int(first)
    if last and int(last) < start:
        return full(size)
    if start >= size:
        return Span("unsatisfiable")
    end = min(int(last), size - 1) if last else size - 1
    return Span("partial", start, end)
