"""Import of digitizer recordings into trigger files (``orvane import``).

Three formats are read, named by the ``FORMAT`` argument of the command:

``dump``
    A binary file of events back to back.  Each event is a header of six little-endian 32-bit
    unsigned words followed by its samples, little-endian 16-bit unsigned integers:

    ====  ==========================================================================
    word  meaning
    ====  ==========================================================================
    0     event size in bytes, header included: 24 + 2 x (number of samples)
    1     board id
    2     pattern
    3     channel
    4     event counter
    5     trigger time tag: counts of the digitizer's clock (8 ns by default), 31 bits
          wide, so that it rolls over about every 17 s
    ====  ==========================================================================

    Without the header (``header=False``) the file holds the samples alone; the record length
    and the channel are then options, and the events carry no time (every trigger time is 0).
``ascii``
    The text form of the same records: per event a block of header lines ``Record Length: N``,
    ``BoardID: ...``, ``Channel: ...``, ``Event Number: ...``, ``Pattern: ...``,
    ``Trigger Time Stamp: ...``, ``DC offset (DAC): ...``, then N lines of one sample each.
``root``
    A tree of a ROOT file, read with ``uproot`` (``pip install 'orvane[root]'``): a branch of
    waveforms (fixed-size or variable-length arrays of integers), optionally a branch of channel
    numbers and one of trigger time tags.

Time tags are unwrapped: a tag smaller than the one before counts as a rollover, so that the
time grows monotonically through the run (a gap of a whole rollover period between two events
cannot be seen and is lost); without a rollover (``tag_bits=0``) a tag smaller than the one
before is a malformed event, as is a negative one or one past 2^32 s.  Several files of one
run, say one per channel, are merged into one trigger list in time order.  Trigger times are stored as whole seconds plus 4 ns ticks,
rounded to the nearest tick.  The sampling period and the ADC's resolution are stored beside
the triggers; the waveforms are never rescaled.

Malformed input (a truncated last event, a size word that disagrees with the file, a sample
line that is not a number) stops the import with an error naming the file, the event (counted
from 0) and its byte offset or line; with ``skip_bad`` such events are skipped and counted
instead.  Memory stays bounded by one chunk of events: chunks go to temporary files beside the
output, which is written at the end.
"""

from __future__ import annotations

import dataclasses
import datetime
import hashlib
import heapq
import json
import os
import struct
import tempfile
from collections import defaultdict
from collections.abc import Callable, Generator, Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import NamedTuple

import numpy as np

from .._atomic import check_writable
from .._dtypes import MULTIPMT_TRIGGER_DTYPE, TARVO_TRIGGER_DTYPE
from .._errors import UserError
from .baseline import (
    BASELINE_METHODS,
    DEFAULT_BASELINE_METHOD,
    DEFAULT_BASELINE_SAMPLES,
    window_baseline,
)
from .triggerfile import TriggerData, run_info_row, write_trigger_file

FORMATS = ("dump", "ascii", "root")
POLARITIES = ("auto", "positive", "negative")

#: The header of an event of the binary dump: six little-endian uint32 words.
DUMP_HEADER = struct.Struct("<6I")
SAMPLE_PERIOD_NS = 4.0
DEFAULT_ADC_BITS = 16
DEFAULT_CLOCK_NS = 8.0
DEFAULT_TAG_BITS = 31
DEFAULT_CHUNK_EVENTS = 4096
DEFAULT_SAMPLES_BRANCH = "samples"

_NS_PER_S = 1_000_000_000
_MAX_TIME_NS = 2**32 * _NS_PER_S  # the trigger rows hold 32 bits of seconds
_NS_PER_TICK = 4
_UINT16_MAX = 65535

ASCII_HEADER_KEYS = (
    "Record Length",
    "BoardID",
    "Channel",
    "Event Number",
    "Pattern",
    "Trigger Time Stamp",
    "DC offset (DAC)",
)


class MalformedInputError(UserError, ValueError):
    """An input file that does not hold what its format says.

    The message names the file, the event (counted from 0) and the byte offset or line.
    """


@dataclass
class ImportOptions:
    """How to read the input files and what to put into the trigger file.

    Attributes
    ----------
    header:
        ``dump`` only: whether each event starts with the 24-byte header.
    record_length:
        Samples per event: required for a ``dump`` without header; for a ``dump`` with header
        every event's size word is checked against it.
    channel:
        Channel of every event, for input that carries none (a ``dump`` without header, a
        ``root`` tree without channel branch).
    clock_ns:
        Nanoseconds per count of the trigger time tag.
    tag_bits:
        Width of the time tag in bits: it rolls over at ``2**tag_bits`` counts.  0: no rollover.
    sampling_period_ns:
        Nanoseconds between two samples of the recording (any positive period), stored in the
        trigger file as ``sample_period_ns``.
    adc_bits:
        The digitizer's resolution: samples lie in 0 to 2^bits - 1 (a larger one makes the
        event malformed).  Stored as ``adc_bits``; it sets the pulse finder's saturation level.
    polarity:
        ``"positive"``: pulses go up from the baseline, samples are stored as read;
        ``"negative"``: they go down, every sample s is stored as (2^adc_bits - 1) - s (65535 - s
        for 16 bits) so that they go up as the extractors expect; ``"auto"`` (the default): decided for each input file and
        channel from its first events (see :func:`polarity_evidence`).
    negative_pulses:
        The same as ``polarity="negative"`` (kept for older callers).
    baseline_samples, baseline_method:
        Each waveform's baseline is the median or mean of its first samples, or with
        ``"robust"`` the level of the quiet samples of the whole record (see
        :mod:`orvane_tools.baseline`).
    baseline_window:
        ``(start, stop)``: the samples the baseline is taken from instead, as a Python slice
        (negative counting from the record's end, None for its start or end).
    baseline_value:
        A fixed baseline for every waveform instead (in the stored samples' scale).
    run_number:
        Run number of the trigger file (it goes into every hit id).
    skip_bad:
        Skip and count malformed events instead of stopping at the first.
    chunk_events:
        Events held in memory at a time.
    tree, samples_branch, channel_branch, time_branch:
        ``root`` only: the tree (default: the file's only tree) and the branches of the
        waveforms, channels and time tags (the latter two optional).
    """

    header: bool = True
    record_length: int | None = None
    channel: int | None = None
    clock_ns: float = DEFAULT_CLOCK_NS
    tag_bits: int = DEFAULT_TAG_BITS
    sampling_period_ns: float = SAMPLE_PERIOD_NS
    adc_bits: int = DEFAULT_ADC_BITS
    polarity: str = "auto"
    negative_pulses: bool = False
    baseline_samples: int = DEFAULT_BASELINE_SAMPLES
    baseline_method: str = DEFAULT_BASELINE_METHOD
    baseline_window: tuple[int | None, int | None] | None = None
    baseline_value: float | None = None
    run_number: int = 0
    skip_bad: bool = False
    chunk_events: int = DEFAULT_CHUNK_EVENTS
    tree: str | None = None
    samples_branch: str = DEFAULT_SAMPLES_BRANCH
    channel_branch: str | None = None
    time_branch: str | None = None

    def baseline_span(self) -> tuple[int | None, int | None]:
        """The samples each baseline is taken from, as a slice: the window if given, else the
        whole record for the robust method and the first ``baseline_samples`` otherwise."""
        if self.baseline_window is not None:
            return self.baseline_window
        if self.baseline_method == "robust":
            return (None, None)
        return (0, self.baseline_samples)

    def check(self, fmt: str) -> None:
        """Raise ValueError for options that do not fit together or the format ``fmt``."""
        if fmt not in FORMATS:
            raise ValueError(f"unknown format {fmt!r}: expected one of {', '.join(FORMATS)}")
        if not (self.sampling_period_ns > 0 and np.isfinite(self.sampling_period_ns)):
            raise ValueError(
                f"the sampling period must be a positive number of ns, got "
                f"{self.sampling_period_ns}"
            )
        if not 1 <= self.adc_bits <= 16:
            raise ValueError(f"the ADC must have 1 to 16 bits, got {self.adc_bits}")
        if self.polarity not in POLARITIES:
            raise ValueError(
                f"unknown polarity {self.polarity!r}: expected {', '.join(POLARITIES)}"
            )
        if self.negative_pulses and self.polarity == "positive":
            raise ValueError("--negative-pulses contradicts --polarity positive")
        if not (self.clock_ns > 0 and np.isfinite(self.clock_ns)):
            raise ValueError(f"the time tag's clock must be positive, got {self.clock_ns} ns")
        if not 0 <= self.tag_bits <= 63:
            raise ValueError(f"the time tag must have 0 to 63 bits, got {self.tag_bits}")
        if self.baseline_samples < 1:
            raise ValueError(f"the baseline needs at least 1 sample, got {self.baseline_samples}")
        if self.baseline_method not in BASELINE_METHODS:
            raise ValueError(
                f"unknown baseline method {self.baseline_method!r}: expected "
                f"{', '.join(BASELINE_METHODS)}"
            )
        if self.baseline_value is not None and not np.isfinite(self.baseline_value):
            raise ValueError(f"the baseline must be a finite number, got {self.baseline_value}")
        if self.baseline_window is not None and self.baseline_value is not None:
            raise ValueError("--baseline-window and a fixed --baseline exclude each other")
        start, stop = self.baseline_window or (None, None)
        if start is not None and stop is not None and (start < 0) == (stop < 0) and stop <= start:
            raise ValueError(f"the baseline window {start}:{stop} holds no sample")
        if self.record_length is not None and self.record_length < 1:
            raise ValueError(f"the record length must be at least 1, got {self.record_length}")
        if self.channel is not None and not -(2**31) <= self.channel < 2**31:
            raise ValueError(f"the channel must fit 32 bits signed, got {self.channel}")
        if not 0 <= self.run_number < 2**64:
            raise ValueError(f"the run number must fit 64 bits unsigned, got {self.run_number}")
        if self.chunk_events < 1:
            raise ValueError(f"the chunk must hold at least 1 event, got {self.chunk_events}")
        headerless = fmt == "dump" and not self.header
        if headerless and (self.record_length is None or self.channel is None):
            raise ValueError(
                "a dump without headers needs the record length and the channel "
                "(--record-length, --channel)"
            )
        if fmt == "ascii" and self.record_length is not None:
            raise ValueError("ascii files give each event's record length in its header")
        carries_channel = (fmt == "dump" and self.header) or fmt == "ascii"
        if self.channel is not None and (carries_channel or self.channel_branch):
            raise ValueError("--channel is for input without channel numbers")
        root_only = (self.tree, self.channel_branch, self.time_branch)
        if fmt != "root" and (
            any(v is not None for v in root_only) or self.samples_branch != DEFAULT_SAMPLES_BRANCH
        ):
            raise ValueError("tree and branch names are options of the root format")
        if fmt != "dump" and not self.header:
            raise ValueError("--no-header is an option of the dump format")


def parse_window(text: str) -> tuple[int | None, int | None]:
    """``"START:STOP"`` as a pair of ints or None (an empty side), as a Python slice reads it."""
    start, colon, stop = text.partition(":")
    try:
        if not colon:
            raise ValueError
        return (int(start) if start.strip() else None, int(stop) if stop.strip() else None)
    except ValueError:
        raise ValueError(
            f"expected START:STOP (sample numbers, negative from the record's end), got {text!r}"
        ) from None


@dataclass
class PolarityChoice:
    """The polarity applied to the events of one channel of one input file, and why."""

    path: str
    channel: int
    #: "positive" or "negative": what was applied.
    polarity: str
    #: "auto" (decided from the data) or "given" (the option).
    how: str
    #: Samples more than POLARITY_NOISE_WIDTHS noise widths above and below the quiet level
    #: among the events examined.
    above: int = 0
    below: int = 0
    #: The data's evidence: "positive", "negative" or None (not enough to tell).
    evidence: str | None = None

    def describe(self) -> str:
        """One line for the import's summary."""
        counts = f"{self.above} samples above, {self.below} below the quiet level"
        if self.how == "given":
            return f"{self.path} channel {self.channel}: {self.polarity} (given; {counts})"
        if self.evidence is None:
            return (
                f"{self.path} channel {self.channel}: {self.polarity} (auto: too few samples "
                f"far from the quiet level to tell, {counts}; positive kept)"
            )
        return f"{self.path} channel {self.channel}: {self.polarity} (auto: {counts})"

    def as_dict(self) -> dict[str, object]:
        return {
            "path": self.path,
            "channel": self.channel,
            "polarity": self.polarity,
            "how": self.how,
            "samples_above": self.above,
            "samples_below": self.below,
            "evidence": self.evidence,
        }


@dataclass
class ImportSummary:
    """What an import read: events written and skipped, with the reasons for the skipped."""

    files: int = 0
    events: int = 0
    skipped: int = 0
    problems: list[str] = field(default_factory=list)
    #: The polarity of every channel of every input file.
    polarities: list[PolarityChoice] = field(default_factory=list)
    #: Doubts about the options, for the user to see (a polarity against the data's evidence).
    warnings: list[str] = field(default_factory=list)
    min_samples: int = 0
    max_samples: int = 0
    first_time_s: float = 0.0
    last_time_s: float = 0.0


class _Event(NamedTuple):
    time_ns: int
    channel: int
    samples: np.ndarray
    #: Index of the input file among the inputs.
    source: int = 0


#: A sample further than this many noise widths from its waveform's quiet level is evidence of
#: a pulse on its side.  Gaussian noise alone puts one sample in about 3 million there.
POLARITY_NOISE_WIDTHS = 5.0
#: Samples of evidence a side needs to decide, and how many times the other side's it must be.
POLARITY_MIN_SAMPLES = 8
POLARITY_DOMINANCE = 4
#: Samples of each input file examined for its polarity, from its start.
POLARITY_SAMPLE_BUDGET = 1 << 22
_STACK_BLOCK = 4096


def polarity_evidence(waveforms: Sequence[np.ndarray]) -> tuple[int, int]:
    """Samples of ``waveforms`` above and below their quiet level by more than 5 noise widths.

    Each waveform's quiet level is the median of its samples and its noise width is 1.4826
    times the median absolute deviation from it (the standard deviation of Gaussian noise,
    untouched by the pulses as long as they cover less than half the waveform), at least 1 LSB.
    """
    above = below = 0
    by_length: dict[int, list[np.ndarray]] = defaultdict(list)
    for w in waveforms:
        if len(w):
            by_length[len(w)].append(w)
    for group in by_length.values():
        for lo in range(0, len(group), _STACK_BLOCK):
            block = np.stack(group[lo : lo + _STACK_BLOCK]).astype(np.float64)
            level = np.median(block, axis=1, keepdims=True)
            spread = np.median(np.abs(block - level), axis=1, keepdims=True)
            reach = POLARITY_NOISE_WIDTHS * np.maximum(1.4826 * spread, 1.0)
            above += int(np.count_nonzero(block > level + reach))
            below += int(np.count_nonzero(block < level - reach))
    return above, below


def decide_polarity(above: int, below: int) -> str | None:
    """The polarity the counts of :func:`polarity_evidence` show, or None where they cannot tell.

    A side decides when it has at least ``POLARITY_MIN_SAMPLES`` samples and
    ``POLARITY_DOMINANCE`` times those of the other side.
    """
    if above >= POLARITY_MIN_SAMPLES and above >= POLARITY_DOMINANCE * below:
        return "positive"
    if below >= POLARITY_MIN_SAMPLES and below >= POLARITY_DOMINANCE * above:
        return "negative"
    return None


class _TagClock:
    """Turns time tags into monotonic nanoseconds, counting rollovers.

    A tag that cannot be a time (negative, not a whole number, past 2^32 s, or before the one
    before without a rollover to explain it) raises ValueError and leaves the count as it was.
    """

    def __init__(self, clock_ns: float, bits: int) -> None:
        self._clock_ns = clock_ns
        self._integral = float(clock_ns).is_integer()
        self._period = 1 << bits if bits else 0
        self._wraps = 0
        self._last: int | None = None

    def __call__(self, value: float | np.number) -> int:
        tag = _whole(value, "time tag")
        if tag < 0:
            raise ValueError(f"time tag {tag} is negative")
        wraps, last = self._wraps, self._last
        if self._period:
            tag %= self._period
            if last is not None and tag < last:
                wraps += 1
            count = tag + wraps * self._period
        else:
            if last is not None and tag < last:
                raise ValueError(
                    f"time tag {tag} is before the previous event's {last}, and without a "
                    "rollover (--tag-bits 0) the time cannot go back: the events are not in "
                    "time order"
                )
            count = tag
        time_ns = count * int(self._clock_ns) if self._integral else round(count * self._clock_ns)
        if time_ns >= _MAX_TIME_NS:
            raise ValueError(
                f"time tag {value} runs past 2^32 s ({time_ns / _NS_PER_S:.4g} s): is --clock "
                "right?"
            )
        self._wraps, self._last = wraps, tag
        return time_ns


def _whole(value: float | np.number, what: str) -> int:
    """``value`` as an int; ValueError naming ``what`` when it is not a whole number."""
    if isinstance(value, (int, np.integer)):
        return int(value)
    number = float(value)
    if not number.is_integer():  # NaN and infinities included
        raise ValueError(f"{what} {number:g} is not a whole number")
    return int(number)


class _Problems:
    """Raises for a malformed event, or counts it when skipping."""

    def __init__(self, skip: bool, summary: ImportSummary) -> None:
        self.skip = skip
        self.summary = summary

    def __call__(self, message: str) -> None:
        if not self.skip:
            raise MalformedInputError(message)
        self.summary.skipped += 1
        self.summary.problems.append(message)


def _dump_events(
    path: str,
    options: ImportOptions,
    bad: _Problems,
    progress: Callable[[int], None],
) -> Generator[_Event, None, None]:
    total = os.path.getsize(path)
    clock = _TagClock(options.clock_ns, options.tag_bits)
    fixed = None if options.record_length is None else 2 * options.record_length
    offset = 0
    event = 0
    with open(path, "rb") as stream:
        if not options.header:
            assert fixed is not None and options.channel is not None
            while offset < total:
                data = stream.read(min(fixed, total - offset))
                if len(data) < fixed:
                    bad(
                        f"{path}: event {event} at byte {offset}: truncated event: "
                        f"{len(data)} bytes left, a record of {options.record_length} samples "
                        f"needs {fixed}"
                    )
                    break
                yield _Event(0, options.channel, np.frombuffer(data, dtype="<u2"))
                progress(fixed)
                offset += fixed
                event += 1
            return
        # Every event of a file has the size of the first (or of --record-length).
        expected = None if fixed is None else DUMP_HEADER.size + fixed
        while offset < total:
            where = f"{path}: event {event} at byte {offset}"
            left = total - offset
            head = stream.read(DUMP_HEADER.size)
            if len(head) < DUMP_HEADER.size:
                bad(f"{where}: truncated event: {left} bytes left, a header needs 24")
                break
            size, _board, _pattern, channel, _counter, tag = DUMP_HEADER.unpack(head)
            problem = None
            if size < DUMP_HEADER.size or size % 2:
                problem = f"size word {size} is not 24 + 2 x (number of samples)"
            elif expected is not None and size != expected:
                problem = f"size word {size} disagrees with the file's events of {expected} bytes"
            elif size > left:
                problem = f"truncated event: its size word says {size} bytes, {left} are left"
            if problem is not None:
                if expected is None or expected > left:
                    # Without a known event size (or room for one) nothing more can be read.
                    bad(f"{where}: {problem}; the last {left} bytes of the file cannot be read")
                    progress(left)
                    break
                bad(f"{where}: {problem}")
                offset += expected
                event += 1
                stream.seek(offset)
                progress(expected)
                continue
            expected = size
            data = stream.read(size - DUMP_HEADER.size)
            if channel >= 2**31:
                bad(f"{where}: channel word {channel} does not fit 32 bits signed")
            else:
                try:
                    time_ns = clock(tag)
                except ValueError as exc:
                    bad(f"{where}: {exc}")
                else:
                    yield _Event(time_ns, channel, np.frombuffer(data, dtype="<u2"))
            progress(size)
            offset += size
            event += 1


def _ascii_int(text: str) -> int:
    """A header value: decimal (leading zeros allowed) or hexadecimal with 0x."""
    text = text.strip()
    if text[:2].lower() == "0x":
        return int(text, 16)
    return int(text, 10)


def _ascii_events(
    path: str,
    options: ImportOptions,
    bad: _Problems,
    progress: Callable[[int], None],
) -> Generator[_Event, None, None]:
    clock = _TagClock(options.clock_ns, options.tag_bits)
    event = -1
    with open(path, encoding="latin-1") as stream:
        lines = enumerate(stream, start=1)
        pending: tuple[int, str] | None = None

        def next_line() -> tuple[int, str] | None:
            nonlocal pending
            item: tuple[int, str] | None
            if pending is not None:
                item, pending = pending, None
                return item
            item = next(lines, None)
            if item is not None:
                progress(len(item[1]))
            return item

        def skip_event(item: tuple[int, str] | None) -> None:
            # After a bad event: on to the next line that starts an event (`item` included).
            nonlocal pending
            while item is not None and not item[1].startswith("Record Length:"):
                item = next_line()
            pending = item

        while (item := next_line()) is not None:
            number, text = item
            if not text.strip():
                continue
            event += 1
            where = f"{path}: event {event} at line {number}"
            if not text.startswith("Record Length:"):
                bad(f"{where}: expected 'Record Length: N', found {text.strip()[:40]!r}")
                skip_event(next_line())
                continue
            header: dict[str, str] = {}
            line: tuple[int, str] | None = item
            # Header lines are "key: value"; the first line without a colon is a sample.
            while line is not None and ":" in line[1]:
                key, _, value = line[1].partition(":")
                if key.strip() in header:
                    break
                header[key.strip()] = value
                line = next_line()
            pending = line
            try:
                length = _ascii_int(header["Record Length"])
                channel = _ascii_int(header["Channel"])
                tag = _ascii_int(header["Trigger Time Stamp"])
            except KeyError as exc:
                bad(f"{where}: no {exc.args[0]!r} line in the event's header")
                skip_event(next_line())
                continue
            except ValueError as exc:
                bad(f"{where}: a header value is not a number ({exc})")
                skip_event(next_line())
                continue
            if length < 0 or not -(2**31) <= channel < 2**31:
                bad(f"{where}: record length {length} or channel {channel} out of range")
                skip_event(next_line())
                continue
            # Grown as samples are read: the header's length alone sizes nothing.
            read: list[int] = []
            problem = None
            for k in range(length):
                line = next_line()
                if line is None:
                    problem = f"truncated event: {k} of {length} samples before the end of the file"
                    break
                try:
                    sample = int(line[1])
                except ValueError:
                    problem = (
                        f"line {line[0]} is not a sample: {line[1].strip()[:40]!r} "
                        f"({k} of {length} samples read)"
                    )
                    break
                if not 0 <= sample <= _UINT16_MAX:
                    problem = f"line {line[0]}: sample {sample} outside 0..65535"
                    break
                read.append(sample)
            if problem is None:
                try:
                    time_ns = clock(tag)
                except ValueError as exc:
                    problem = str(exc)
            if problem is not None:
                bad(f"{where}: {problem}")
                skip_event(line)
                continue
            yield _Event(time_ns, channel, np.array(read, dtype=np.uint16))


def _root_events(
    path: str,
    options: ImportOptions,
    bad: _Problems,
    progress: Callable[[int], None],
) -> Generator[_Event, None, None]:
    uproot = _uproot()
    clock = _TagClock(options.clock_ns, options.tag_bits)
    with uproot.open(path) as file:
        tree = _root_tree(file, path, options.tree)
        branches = [options.samples_branch, options.channel_branch, options.time_branch]
        wanted = [b for b in branches if b is not None]
        names = list(tree.keys())
        missing = [b for b in wanted if b not in names]
        if missing:
            known = ", ".join(names) or "none"
            raise UserError(
                f"{path}: tree {tree.name!r} has no branch {', '.join(map(repr, missing))} "
                f"(branches: {known})"
            )
        entry = 0
        for arrays in tree.iterate(wanted, step_size=options.chunk_events, library="np"):
            waveforms = arrays[options.samples_branch]
            channels = arrays[options.channel_branch] if options.channel_branch else None
            tags = arrays[options.time_branch] if options.time_branch else None
            for i in range(len(waveforms)):
                where = f"{path}: event {entry} (entry {entry} of tree {tree.name!r})"
                samples = np.asarray(waveforms[i])
                entry += 1
                if samples.ndim != 1 or samples.dtype.kind not in "iu":
                    bad(f"{where}: branch {options.samples_branch!r} is not an array of integers")
                    continue
                if samples.size and (samples.min() < 0 or samples.max() > _UINT16_MAX):
                    bad(f"{where}: samples outside 0..65535")
                    continue
                try:
                    channel = options.channel
                    if channels is not None:
                        channel = _whole(channels[i], "channel")
                        if not -(2**31) <= channel < 2**31:
                            raise ValueError(f"channel {channel} does not fit 32 bits signed")
                    time_ns = clock(tags[i]) if tags is not None else 0
                except ValueError as exc:
                    bad(f"{where}: {exc}")
                    continue
                yield _Event(time_ns, 0 if channel is None else channel, samples.astype(np.uint16))
            progress(len(waveforms))


def _uproot():
    try:
        import uproot
    except ImportError as exc:
        raise UserError("reading ROOT files needs uproot: pip install 'orvane[root]'") from exc
    return uproot


def _root_tree(file, path: str, name: str | None):
    if name is not None:
        try:
            return file[name]
        except KeyError as exc:
            raise UserError(f"{path} has no tree {name!r}") from exc
    # Trees, and their successor RNTuple, which uproot reads through the same calls.
    kinds = ("TTree", "ROOT::RNTuple")
    trees = sorted({k.split(";")[0] for k, v in file.classnames().items() if v in kinds})
    if len(trees) != 1:
        found = ", ".join(trees) or "none"
        raise UserError(f"{path} holds {len(trees)} trees ({found}): name one with --tree")
    return file[trees[0]]


_READERS = {"dump": _dump_events, "ascii": _ascii_events, "root": _root_events}

_FORMAT_NAMES = {"dump": "binary dump", "ascii": "text (ASCII) export", "root": "ROOT file"}


def _other_kind(fmt: str, head: bytes) -> str | None:
    """What a file that starts with ``head`` is, when that is plainly not format ``fmt``."""
    if head.startswith((b"PK\x03\x04", b"PK\x05\x06")):
        return (
            "a zip archive (a trigger file, .npz, is one: it needs no import, give it to "
            "orvane reconstruct)"
        )
    if head.startswith(b"\x93NUMPY"):
        return "a NumPy array file (.npy)"
    if fmt != "root" and head.startswith(b"root"):
        return "a ROOT file (orvane import root reads it)"
    if fmt == "ascii" and head:
        # A text export is printable ASCII lines; a NUL or mostly other bytes mean binary.
        printable = sum(32 <= b < 127 or b in b"\t\r\n" for b in head)
        if b"\0" in head or printable < 0.95 * len(head):
            return "a binary file (orvane import dump reads the binary dump)"
    if fmt == "dump" and head.startswith(b"Record Length:"):
        return "a text export (orvane import ascii reads it)"
    return None


def _check_kind(fmt: str, path: str) -> None:
    try:
        with open(path, "rb") as stream:
            head = stream.read(4096)
    except OSError as exc:
        raise UserError(f"cannot read {path}") from exc
    kind = _other_kind(fmt, head)
    if kind is not None:
        raise UserError(f"{path} is not a {_FORMAT_NAMES[fmt]}: it is {kind}")


def _work_units(fmt: str, paths: Sequence[str], options: ImportOptions) -> int:
    """Total of what the readers report as progress: bytes, or entries of ROOT trees."""
    if fmt != "root":
        return sum(os.path.getsize(p) for p in paths)
    uproot = _uproot()
    total = 0
    for path in paths:
        with uproot.open(path) as file:
            total += _root_tree(file, path, options.tree).num_entries
    return total


class _ChunkFiles:
    """Trigger rows, samples and offsets appended to raw files in a temporary directory."""

    def __init__(self, directory: Path) -> None:
        self._tmp = tempfile.TemporaryDirectory(dir=directory, prefix=".orvane-import-")
        root = Path(self._tmp.name)
        names = ("rows", "samples", "offsets", "rms")
        self.paths = {name: root / f"{name}.bin" for name in names}
        self.rows = 0
        self.samples = 0
        self.with_rms = False  # no noise is written for a fixed baseline (--baseline)
        self._write("offsets", np.zeros(1, dtype=np.int64))

    def _write(self, name: str, array: np.ndarray) -> None:
        with open(self.paths[name], "ab") as stream:
            stream.write(array.tobytes())

    def append(
        self, rows: np.ndarray, samples: np.ndarray, lengths: np.ndarray, rms: np.ndarray | None
    ) -> None:
        if rms is not None:
            self._write("rms", rms)
            self.with_rms = True
        self._write("rows", rows)
        self._write("samples", samples)
        self._write("offsets", self.samples + np.cumsum(lengths))
        self.rows += len(rows)
        self.samples += len(samples)

    def arrays(self) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray | None]:
        """Rows, samples, offsets and baseline noise (None when none was written) as maps."""

        def load(name: str, dtype: np.dtype, count: int) -> np.ndarray:
            if count == 0:
                return np.zeros(0, dtype=dtype)
            return np.memmap(self.paths[name], dtype=dtype, mode="r", shape=(count,))

        return (
            load("rows", TARVO_TRIGGER_DTYPE, self.rows),
            load("samples", np.dtype(np.uint16), self.samples),
            load("offsets", np.dtype(np.int64), self.rows + 1),
            load("rms", np.dtype(np.float32), self.rows) if self.with_rms else None,
        )

    def close(self) -> None:
        self._tmp.cleanup()


def check_output_name(output: str | os.PathLike) -> None:
    """Refuse (UserError) a trigger file name that does not end in ``.npz``."""
    name = os.fspath(output)
    if not name.lower().endswith(".npz"):
        raise UserError(
            f"the trigger file's name {name!r} does not end in .npz: trigger files are NumPy "
            ".npz archives (Parquet, CSV and .npy hit files come from orvane reconstruct)"
        )


def _refuse_headers(paths: Sequence[str], record_length: int) -> None:
    """Refuse a header-less read of files whose first word is the size word of a header."""
    size = DUMP_HEADER.size + 2 * record_length
    for path in paths:
        with open(path, "rb") as stream:
            head = stream.read(4)
        if len(head) == 4 and struct.unpack("<I", head)[0] == size:
            raise UserError(
                f"{path} starts with the word {size} = 24 + 2 x {record_length}: the event size "
                f"word of a 24-byte event header before {record_length} samples, so its events "
                "have headers; read it without --no-header"
            )


def _choose_polarities(
    fmt: str, paths: Sequence[str], options: ImportOptions, summary: ImportSummary
) -> dict[tuple[int, int], bool]:
    """Examine each file's first events; return whether to turn over (file, channel)."""
    given = "negative" if options.negative_pulses else options.polarity
    reader = _READERS[fmt]
    flips: dict[tuple[int, int], bool] = {}
    for source, path in enumerate(paths):
        waveforms: dict[int, list[np.ndarray]] = defaultdict(list)
        used = 0
        events = reader(path, options, _Problems(True, ImportSummary()), lambda _n: None)
        try:
            for event in events:
                waveforms[event.channel].append(event.samples)
                used += len(event.samples)
                if used >= POLARITY_SAMPLE_BUDGET:
                    break
        finally:
            events.close()
        for channel in sorted(waveforms):
            above, below = polarity_evidence(waveforms[channel])
            evidence = decide_polarity(above, below)
            if given == "auto":
                choice = PolarityChoice(path, channel, evidence or "positive", "auto")
            else:
                choice = PolarityChoice(path, channel, given, "given")
                if evidence is not None and evidence != given:
                    summary.warnings.append(
                        f"{path} channel {channel}: the polarity is given as {given}, but the "
                        f"samples say {evidence} ({above} above, {below} below the quiet level "
                        f"by more than {POLARITY_NOISE_WIDTHS:g} noise widths)"
                    )
            choice.above, choice.below, choice.evidence = above, below, evidence
            summary.polarities.append(choice)
            flips[(source, channel)] = choice.polarity == "negative"
    return flips


def _sha256(path: str, block: int = 1 << 20) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        while chunk := stream.read(block):
            digest.update(chunk)
    return digest.hexdigest()


#: The ``format`` of the provenance an import writes into its trigger file.
PROVENANCE_FORMAT = "orvane-import/1"


def _import_provenance(
    fmt: str, paths: Sequence[str], options: ImportOptions, summary: ImportSummary
) -> str:
    """Where the triggers come from, as the JSON text of the trigger file's ``provenance``."""
    from .. import __version__

    document = {
        "format": PROVENANCE_FORMAT,
        "orvane_version": __version__,
        "time": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "input_format": fmt,
        "inputs": [
            {"path": path, "size": os.path.getsize(path), "sha256": _sha256(path)} for path in paths
        ],
        "options": {
            **dataclasses.asdict(options),
            "baseline_span": list(options.baseline_span()),
        },
        "polarity": [choice.as_dict() for choice in summary.polarities],
        "events": {"read": summary.events, "skipped": summary.skipped},
    }
    return json.dumps(document, indent=1, sort_keys=True, ensure_ascii=False)


def _from_source(
    events: Iterator[_Event], source: int, path: str, options: ImportOptions, bad: _Problems
) -> Iterator[_Event]:
    largest = (1 << options.adc_bits) - 1
    for number, event in enumerate(events):
        if largest < _UINT16_MAX and len(event.samples) and int(event.samples.max()) > largest:
            bad(
                f"{path}: event {number} of those read holds the sample "
                f"{int(event.samples.max())}, above {largest}, the largest of a "
                f"{options.adc_bits}-bit ADC (--adc-bits)"
            )
            continue
        yield event._replace(source=source)


def _chunk_rows(
    events: list[_Event], options: ImportOptions, flips: dict[tuple[int, int], bool]
) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray | None]:
    lengths = np.array([len(e.samples) for e in events], dtype=np.int64)
    samples = np.concatenate([e.samples for e in events]).astype(np.uint16, copy=False)
    # A channel first seen past the events examined keeps the given polarity (auto: positive).
    default = options.negative_pulses or options.polarity == "negative"
    turned = np.array([flips.get((e.source, e.channel), default) for e in events])
    if turned.any():
        top = np.uint16((1 << options.adc_bits) - 1)
        samples = np.where(np.repeat(turned, lengths), top - samples, samples)
    rows = np.zeros(len(events), dtype=TARVO_TRIGGER_DTYPE)
    # Whole seconds and 4 ns ticks, rounded to the nearest tick (a carry goes into the seconds).
    ticks = (np.array([e.time_ns for e in events], dtype=np.int64) + _NS_PER_TICK // 2) // 4
    times = ticks * _NS_PER_TICK
    rows["channel"] = [e.channel for e in events]
    seconds = times // _NS_PER_S
    if seconds.max(initial=0) >= 2**32:
        raise UserError("the time tags run past 2^32 s: is --clock right?")
    rows["trigger_time_s"] = seconds
    rows["trigger_time_ticks"] = (times % _NS_PER_S) // _NS_PER_TICK
    rms = None
    if options.baseline_value is not None:
        rows["baseline"] = options.baseline_value
    else:
        offsets = np.concatenate(([0], np.cumsum(lengths)))
        start, stop = options.baseline_span()
        try:
            rows["baseline"], rms = window_baseline(
                samples, offsets, start, stop, options.baseline_method
            )
        except ValueError as exc:
            raise UserError("cannot take the waveforms' baselines") from exc
    return rows, samples, lengths, rms


def import_files(
    fmt: str,
    inputs: Sequence[str | os.PathLike],
    output: str | os.PathLike,
    options: ImportOptions | None = None,
    *,
    on_total: Callable[[int], None] | None = None,
    on_progress: Callable[[int], None] | None = None,
) -> ImportSummary:
    """Read ``inputs`` in format ``fmt`` and write their events to the trigger file ``output``.

    Events of several files are merged in time order (equal times keep the order of the
    files).  ``on_total`` is called once with the amount of work (bytes, or ROOT entries) and
    ``on_progress`` with each part done.

    Raises
    ------
    ValueError
        The options do not fit the format (see :meth:`ImportOptions.check`).
    MalformedInputError
        An event is malformed and ``options.skip_bad`` is not set.
    UserError
        An input cannot be read (missing file, no such tree or branch, uproot missing).
    """
    options = ImportOptions() if options is None else options
    options.check(fmt)
    check_output_name(output)
    paths = [os.fspath(p) for p in inputs]
    if not paths:
        raise ValueError("no input file given")
    for path in paths:
        if not os.path.isfile(path):
            reason = "it is a directory" if os.path.isdir(path) else "no such file"
            raise UserError(f"cannot read {path}: {reason}")
        _check_kind(fmt, path)
    if fmt == "dump" and not options.header:
        assert options.record_length is not None
        _refuse_headers(paths, options.record_length)
    check_writable(output)
    progress = on_progress or (lambda _n: None)
    if on_total is not None:
        on_total(_work_units(fmt, paths, options))

    summary = ImportSummary(files=len(paths))
    flips = _choose_polarities(fmt, paths, options, summary)
    bad = _Problems(options.skip_bad, summary)
    reader = _READERS[fmt]
    streams = [
        _from_source(reader(p, options, bad, progress), i, p, options, bad)
        for i, p in enumerate(paths)
    ]
    merged = heapq.merge(*streams, key=lambda e: e.time_ns) if len(streams) > 1 else streams[0]

    chunks = _ChunkFiles(Path(os.fspath(output)).absolute().parent)
    try:
        lengths_seen: list[int] = []
        times_seen: list[int] = []
        pending: list[_Event] = []

        def flush() -> None:
            rows, samples, lengths, rms = _chunk_rows(pending, options, flips)
            chunks.append(rows, samples, lengths, rms)
            lengths_seen.extend((int(lengths.min()), int(lengths.max())))
            times_seen.extend((pending[0].time_ns, pending[-1].time_ns))
            pending.clear()

        for event in merged:
            pending.append(event)
            if len(pending) >= options.chunk_events:
                flush()
        if pending:
            flush()
        if chunks.rows == 0:
            names = ", ".join(paths)
            if summary.skipped:
                raise MalformedInputError(
                    f"every event of {names} was malformed ({summary.skipped} skipped; the "
                    f"first: {summary.problems[0]}); nothing written"
                )
            holds = "holds" if len(paths) == 1 else "hold"
            raise UserError(f"{names} {holds} no events; nothing written")
        summary.events = chunks.rows
        provenance = _import_provenance(fmt, paths, options, summary)
        rows, samples, offsets, rms = chunks.arrays()
        data = TriggerData(
            run_info=run_info_row(options.run_number, 0, 0, 0),
            tarvo_triggers=rows,
            tarvo_samples=samples,
            tarvo_offsets=offsets,
            multipmt_triggers=np.zeros(0, dtype=MULTIPMT_TRIGGER_DTYPE),
            tarvo_baseline_rms=rms,
            sample_period_ns=float(options.sampling_period_ns),
            adc_bits=options.adc_bits,
            provenance=provenance,
        )
        write_trigger_file(output, data)
        del rows, samples, offsets, rms, data  # release the maps before the files go
    finally:
        chunks.close()
    summary.events = chunks.rows
    if lengths_seen:
        summary.min_samples, summary.max_samples = min(lengths_seen), max(lengths_seen)
        summary.first_time_s = min(times_seen) / _NS_PER_S
        summary.last_time_s = max(times_seen) / _NS_PER_S
    return summary


__all__ = [
    "DUMP_HEADER",
    "FORMATS",
    "POLARITIES",
    "ImportOptions",
    "ImportSummary",
    "MalformedInputError",
    "PolarityChoice",
    "check_output_name",
    "decide_polarity",
    "import_files",
    "parse_window",
    "polarity_evidence",
]
