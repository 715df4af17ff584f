"""Files written whole or not at all, as a server may read them any time."""

import os


def write_atomically(path, write):
    """Calls write(file) on a temporary file beside path, then renames it
    over path; on failure the temporary file is removed."""
    temporary = os.path.join(os.path.dirname(path),
                             ".%s.%d.tmp" % (os.path.basename(path), os.getpid()))
    try:
        with open(temporary, "wb") as file:
            result = write(file)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
        return result
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise
