"""Output files that appear only once they are complete."""

from __future__ import annotations

import contextlib
import os
import tempfile
from collections.abc import Iterator
from pathlib import Path


@contextlib.contextmanager
def atomic_output(path: str | os.PathLike) -> Iterator[Path]:
    """Yield a temporary path beside ``path``; rename it to ``path`` when the block succeeds.

    The temporary file lives in the destination's directory (a hidden name ending in
    ``.part``), so the final rename stays on one file system and replaces an existing file in
    one step.  If the block raises, or is interrupted, the temporary file is removed and
    ``path`` is left as it was.
    """
    target = Path(path)
    directory = target.parent
    fd, tmp_name = tempfile.mkstemp(dir=directory, prefix=f".{target.name}.", suffix=".part")
    os.close(fd)
    tmp = Path(tmp_name)
    try:
        yield tmp
        # mkstemp creates the file private to its owner; give the result the usual mode.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, target)
    except BaseException:
        with contextlib.suppress(OSError):
            tmp.unlink()
        raise


def check_writable(path: str | os.PathLike) -> None:
    """Fail early, before any work, when ``path`` cannot be written.

    Raises
    ------
    FileNotFoundError
        The directory of ``path`` does not exist.
    IsADirectoryError
        ``path`` is a directory.
    PermissionError
        The directory is not writable.
    """
    target = Path(path)
    directory = target.parent if str(target.parent) else Path(".")
    if not directory.is_dir():
        raise FileNotFoundError(2, "No such directory", str(directory))
    if target.is_dir():
        raise IsADirectoryError(21, "Is a directory", str(target))
    if not os.access(directory, os.W_OK):
        raise PermissionError(13, "Permission denied", str(directory))
