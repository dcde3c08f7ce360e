"""Progress bars on a terminal's standard error (tqdm)."""

from __future__ import annotations

import sys
from typing import TYPE_CHECKING, TextIO

from tqdm import tqdm

if TYPE_CHECKING:
    from typing_extensions import Self


class ProgressBar:
    """Counts work done out of ``total`` on one line that fits the terminal's width.

    It draws only when enabled, by default when ``stream`` is a terminal; otherwise every call
    is a no-op, so that pipes and log files get no control characters.
    """

    def __init__(
        self,
        total: int,
        label: str,
        *,
        stream: TextIO | None = None,
        enabled: bool | None = None,
        unit: str = "it",
    ) -> None:
        self.total = max(int(total), 0)
        self.done = 0
        stream = sys.stderr if stream is None else stream
        if enabled is None:
            isatty = getattr(stream, "isatty", None)
            enabled = bool(isatty and isatty())
        self.enabled = enabled
        self._bar = None
        if enabled:
            self._bar = tqdm(
                total=self.total,
                desc=label,
                file=stream,
                unit=unit,
                unit_scale=self.total >= 10_000,
                dynamic_ncols=True,
                mininterval=0.1,
                leave=True,
            )

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def update(self, n: int) -> None:
        """Add ``n`` units of work done."""
        self.done += n
        if self._bar is not None:
            self._bar.update(n)

    def close(self) -> None:
        """End the line of the bar, if one was drawn."""
        if self._bar is not None:
            self._bar.close()
            self._bar = None
