"""A small progress bar on a terminal's standard error."""

from __future__ import annotations

import sys
import time
from typing import TYPE_CHECKING, TextIO

if TYPE_CHECKING:
    from typing_extensions import Self


class ProgressBar:
    """Counts work done out of ``total`` and redraws one line at most ten times a second.

    It draws only when enabled, by default when ``stream`` is a terminal; otherwise every call
    is a no-op, so that pipes and log files get no control characters.
    """

    _WIDTH = 30

    def __init__(
        self,
        total: int,
        label: str,
        *,
        stream: TextIO | None = None,
        enabled: bool | None = None,
    ) -> None:
        self.total = max(int(total), 0)
        self.label = label
        self.done = 0
        self._stream = sys.stderr if stream is None else stream
        if enabled is None:
            isatty = getattr(self._stream, "isatty", None)
            enabled = bool(isatty and isatty())
        self.enabled = enabled
        self._start = time.perf_counter()
        self._last_draw = -1.0
        self._drawn_count = -1
        self._drawn = False

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def update(self, n: int) -> None:
        """Add ``n`` units of work done."""
        self.done += n
        now = time.perf_counter()
        if self.enabled and (now - self._last_draw >= 0.1 or self.done >= self.total):
            self._draw(now)

    def _draw(self, now: float) -> None:
        fraction = self.done / self.total if self.total else 1.0
        fraction = min(max(fraction, 0.0), 1.0)
        filled = round(fraction * self._WIDTH)
        bar = "#" * filled + "-" * (self._WIDTH - filled)
        elapsed = now - self._start
        self._stream.write(
            f"\r{self.label} [{bar}] {fraction:4.0%} {self.done}/{self.total} {elapsed:5.1f} s"
        )
        self._stream.flush()
        self._last_draw = now
        self._drawn_count = self.done
        self._drawn = True

    def close(self) -> None:
        """End the line of the bar, if one was drawn."""
        if self._drawn:
            if self._drawn_count != self.done:
                self._draw(time.perf_counter())
            self._stream.write("\n")
            self._stream.flush()
            self._drawn = False
