"""Output files that appear only once they are complete."""

from __future__ import annotations

import contextlib
import os
import tempfile
from collections.abc import Iterator
from pathlib import Path

#: Temporary files are hidden and end in this suffix: ``.NAME.XXXXXXXX.part``.
PART_SUFFIX = ".part"


class PendingFile:
    """A temporary file beside ``path`` that becomes ``path`` on :meth:`commit`.

    The temporary file lives in the destination's directory (``.NAME.XXXXXXXX.part``), so the
    final rename stays on one file system and replaces an existing file in one step.
    :meth:`discard` removes it; both are idempotent.
    """

    def __init__(self, path: str | os.PathLike) -> None:
        self.target = Path(path)
        fd, tmp_name = tempfile.mkstemp(
            dir=self.target.parent, prefix=f".{self.target.name}.", suffix=PART_SUFFIX
        )
        os.close(fd)
        self.tmp = Path(tmp_name)
        self._done = False

    def commit(self) -> None:
        """Give the file the usual mode and rename it to its destination."""
        if self._done:
            return
        # mkstemp creates the file private to its owner.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(self.tmp, 0o666 & ~umask)
        os.replace(self.tmp, self.target)
        self._done = True

    def discard(self) -> None:
        """Remove the temporary file, if it is still there."""
        if not self._done:
            with contextlib.suppress(OSError):
                self.tmp.unlink()
            self._done = True


@contextlib.contextmanager
def atomic_output(path: str | os.PathLike) -> Iterator[Path]:
    """Yield a temporary path beside ``path``; rename it to ``path`` when the block succeeds.

    If the block raises, or is interrupted, the temporary file is removed and ``path`` is left
    as it was.
    """
    pending = PendingFile(path)
    try:
        yield pending.tmp
        pending.commit()
    finally:
        pending.discard()


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


def same_file(a: str | os.PathLike, b: str | os.PathLike) -> bool:
    """Whether two paths name one existing file (same device and inode)."""
    try:
        sa, sb = os.stat(a), os.stat(b)
    except OSError:
        return False
    return (sa.st_dev, sa.st_ino) == (sb.st_dev, sb.st_ino)
