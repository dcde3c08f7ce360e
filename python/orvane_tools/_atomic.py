"""Output files that appear only once they are complete."""

from __future__ import annotations

import contextlib
import fcntl
import os
import re
import tempfile
from collections.abc import Iterator
from pathlib import Path

#: Temporary files are hidden and end in this suffix: ``.NAME.orvane-XXXXXXXX.part``.
PART_SUFFIX = ".part"
_TAG = ".orvane-"
# The random part tempfile.mkstemp draws: eight of these, never a dot or a dash, so the name of
# one destination's temporary file can never be read as another destination's.
_RANDOM = "[a-z0-9_]{8}"


def _part_pattern(name: str) -> re.Pattern[str]:
    return re.compile(rf"\.{re.escape(name)}{re.escape(_TAG)}({_RANDOM}){re.escape(PART_SUFFIX)}")


def _spool_pattern(name: str) -> re.Pattern[str]:
    # A spool, or (after a dot) a worker's temporary copy of one.
    spool = rf"\.{re.escape(name)}{re.escape(_TAG)}spool-({_RANDOM})-[0-9]+"
    return re.compile(rf"{spool}|\.{spool}{re.escape(_TAG)}{_RANDOM}{re.escape(PART_SUFFIX)}")


def _in_use(path: Path) -> bool:
    """Whether a live process holds the lock of a temporary file (see :class:`PendingFile`)."""
    try:
        fd = os.open(path, os.O_RDONLY)
    except OSError:
        return False
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        return True
    finally:
        os.close(fd)
    return False


def _unlink_quietly(path: str | os.PathLike) -> None:
    with contextlib.suppress(OSError):
        os.unlink(path)


def remove_leftovers(path: str | os.PathLike) -> None:
    """Remove what a killed writer of ``path`` left beside it: its temporary files, and the
    spools (:meth:`PendingFile.spool`) of a killed run with their own temporary files.

    A temporary file whose writer is alive holds a lock and stays, and so do a live run's
    spools.  Never raises: a leftover that cannot be removed stays where it is.
    """
    target = Path(path)
    directory = target.parent if str(target.parent) else Path(".")
    parts, spools = _part_pattern(target.name), _spool_pattern(target.name)
    try:
        names = os.listdir(directory)
    except OSError:
        return
    for name in names:
        if parts.fullmatch(name) and not _in_use(directory / name):
            _unlink_quietly(directory / name)
    for name in names:
        found = spools.fullmatch(name)
        if found is None:
            continue
        run = found.group(1) or found.group(2)
        owner = directory / f".{target.name}{_TAG}{run}{PART_SUFFIX}"
        if not _in_use(owner) and not _in_use(directory / name):
            _unlink_quietly(directory / name)


class PendingFile:
    """A temporary file beside ``path`` that becomes ``path`` on :meth:`commit`.

    The temporary file lives in the destination's directory (``.NAME.orvane-XXXXXXXX.part``),
    so the final rename stays on one file system and replaces an existing file in one step.
    :meth:`discard` removes it; both are idempotent.  While it exists its writer holds a lock on
    it, so that a later writer of the same destination can tell it from what a killed one left
    (which it removes first).
    """

    def __init__(self, path: str | os.PathLike) -> None:
        self.target = Path(path)
        remove_leftovers(self.target)
        fd, tmp_name = tempfile.mkstemp(
            dir=self.target.parent, prefix=f".{self.target.name}{_TAG}", suffix=PART_SUFFIX
        )
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:  # a file system without locks: such leftovers are never taken as stale
            pass
        self._lock: int | None = fd
        self.tmp = Path(tmp_name)
        self._done = False

    def spool(self, index: int) -> Path:
        """The name of the ``index``-th spool file of this destination's writer: removed by a
        later writer of the destination if this one is killed."""
        random = self.tmp.name[len(self.target.name) + len(_TAG) + 1 : -len(PART_SUFFIX)]
        return self.target.parent / f".{self.target.name}{_TAG}spool-{random}-{index}"

    def _unlock(self) -> None:
        if self._lock is not None:
            with contextlib.suppress(OSError):
                os.close(self._lock)
            self._lock = None

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
        self._unlock()

    def discard(self) -> None:
        """Remove the temporary file, if it is still there.  Never raises."""
        if not self._done:
            _unlink_quietly(self.tmp)
            self._done = True
        self._unlock()

    def __del__(self) -> None:
        self._unlock()


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
