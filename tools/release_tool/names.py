"""Which file and folder names can go into a payload.

The setup program refuses an archive entry whose name Windows would alter or
reject, and stops the whole install when it meets one; a publisher should
hear about such a name before the release goes out, not from users.
"""

# Characters Windows does not allow in a name. The backslash is a separator
# on Windows, so a Linux name holding one would unpack as a different path.
_FORBIDDEN = set('"*:<>?|\\')


def name_problem(name):
    """Returns why one path component cannot be published, or None."""
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return "the name is not valid UTF-8"
    if name in (".", ".."):
        return "the name is a relative reference"
    if name.endswith((".", " ")):
        return "the name ends with a dot or a space, which Windows removes"
    for char in name:
        if ord(char) < 0x20:
            return "the name holds the control character U+%04X" % ord(char)
        if char in _FORBIDDEN:
            return "the name holds the character %r, which Windows does not allow" % char
    return None


def windows_fold(name):
    """The name as Windows compares it: letter by letter, ignoring case.
    Letters whose upper case is longer than one character (such as the
    German sharp s) stay as they are, as Windows keeps them."""
    folded = []
    for char in name:
        upper = char.upper()
        folded.append(upper if len(upper) == 1 else char)
    return "".join(folded)


def windows_path_length(relative):
    """Length of a relative path in UTF-16 code units, the way the setup
    counts it against the Windows path limit (backslash separators)."""
    return len(relative.replace("/", "\\").encode("utf-16-le")) // 2
