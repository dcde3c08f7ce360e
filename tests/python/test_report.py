"""The run report: every simulated fault gives its warning on its channel and on no other, the
page loads in a real browser, and the command's options and exit status."""

from __future__ import annotations

import json
import shutil
from pathlib import Path

import pytest

from orvane_tools import cli
from orvane_tools.files.channels import write_simulated_channel_table
from orvane_tools.files.hitfile import read_hits_with_provenance
from orvane_tools.files.triggerfile import read_trigger_file, write_trigger_file
from orvane_tools.plots.report import (
    WARNING_KINDS,
    ReportOptions,
    gather,
    reconstruction_warnings,
)
from orvane_tools.run import reconstruct_files
from orvane_tools.simulation.simulate import SimulationConfig, simulate

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

FAULTS = ((1, "inverted"), (2, "drift"), (3, "saturation"), (4, "dead"))
#: Channel 5 is left out of the channel table (its triggers are dropped).
MISSING = 5
EXPECTED = {
    "polarity": {1},
    "baseline": {2},
    "saturation": {3},
    "no-hits": {4, MISSING},
    "calibration": {MISSING},
}
FAULTY = {channel for channel, _ in FAULTS} | {MISSING}


# Triggers per channel and channels with a hit, as each run counted them.
COUNTED: dict[Path, object] = {}


def _make_run(folder: Path, shape: str) -> tuple[Path, Path]:
    """A run of 8 waveform channels (faults as above) and 8 multi-PMT channels, reconstructed.

    Short records go through the example settings; records shaped like a SiPM digitizer's (406
    samples on 45 LSB) through the pulse finder's, both with the channel table."""
    folder.mkdir()
    config = SimulationConfig(
        n_tarvo=12_000, n_multipmt=2_000, n_channels=8, seed=3, faults=FAULTS, shape=shape
    )
    data = simulate(config)
    triggers = folder / "run.npz"
    write_trigger_file(triggers, data)
    write_simulated_channel_table(folder / "channels.csv", data.truth, leave_out=(MISSING,))
    table = "  channels:\n    table: channels.csv\n    unknown_channels: drop\n"
    if shape == "short":
        text = (EXAMPLES / "settings.yaml").read_text()
        text = text.replace("unknown_channels: error", "unknown_channels: drop")
    else:
        text = (EXAMPLES / "pulse_finder.yaml").read_text()
        text = text.replace("\nreco:", table + "\nreco:", 1)
        # Pulses on a 45 LSB baseline: multi-PMT records are calibrated as in the examples.
        text += (
            (EXAMPLES / "settings.yaml")
            .read_text()
            .split("  charge_from_adc:", 1)[1]
            .join(["\n  charge_from_adc:", ""])
        )
    shutil.copy(EXAMPLES / "multipmt_charge_lut.txt", folder)
    (folder / "settings.yaml").write_text(text)
    # Pulse-finder hits as CSV with the pulses' columns (their windows are drawn).
    hits = folder / ("hits.parquet" if shape == "short" else "hits.csv")
    run = reconstruct_files(
        [triggers], folder / "settings.yaml", hits, pulse_columns=shape == "real"
    )
    COUNTED[hits] = run.files[0].counts
    return hits, triggers


@pytest.fixture(scope="module", params=["short", "real"])
def fault_run(request, tmp_path_factory) -> tuple[Path, Path]:
    return _make_run(tmp_path_factory.mktemp("report") / request.param, request.param)


def test_each_fault_warns_on_its_channel_only(fault_run):
    hits, triggers = fault_run
    _, summary = gather([hits], [triggers])
    # The recorded settings' table names resolve beside the settings file the run used.
    assert summary["run"]["extractor_options"]["channels.table"] == str(
        hits.parent / "channels.csv"
    )
    found: dict[str, set[int]] = {}
    for warning in summary["warnings"]:
        assert warning["kind"] in WARNING_KINDS
        found[warning["kind"]] = set(warning["channels"])
    for kind, channels in EXPECTED.items():
        assert channels <= found.get(kind, set()), (kind, found)
    by_channel = {ch["channel"]: ch for ch in summary["channels"]}
    assert set(by_channel) == set(range(16))
    for number, ch in by_channel.items():
        if number not in FAULTY:
            assert ch["warnings"] == [], ch
    assert by_channel[4]["triggers"] > 0 and by_channel[4]["hits"] == 0
    # Chunks of triggers that split the hit file's row groups find the same numbers.
    _, small = gather([hits], [triggers], ReportOptions(chunk_size=777))
    for ch, again in zip(summary["channels"], small["channels"]):
        for key, value in ch.items():  # floats summed in another order
            assert again[key] == (pytest.approx(value) if isinstance(value, float) else value)
    # The drops the run recorded: every trigger on the channel missing from the table, less
    # those dropped before for their edge (records, not triggers, for the pulse finder).
    drops = read_hits_with_provenance(hits)[1]["drops"]
    causes = ("unknown_channel", "bad_edge", "bad_integral", "truncated")
    assert drops["total"] == {c: sum(row[c] for row in drops["by_channel"]) for c in causes}
    missing = next(row for row in drops["by_channel"] if row["channel"] == MISSING)
    assert missing["unknown_channel"] > 0
    on_missing = int((read_trigger_file(triggers).tarvo_triggers["channel"] == MISSING).sum())
    if hits.suffix == ".parquet":
        assert sum(missing[c] for c in causes) == on_missing
    # What orvane reconstruct can tell without the waveforms (the pulse finder also finds no
    # pulse on the inverted channel): the drops of healthy channels (noise alone, for its edge)
    # give no warning.
    silence, dropped = reconstruction_warnings([(triggers, hits)])
    assert silence.startswith("no-hits") and dropped.startswith("dropped")
    # The same from the counts the run kept, as orvane reconstruct gives them.
    assert reconstruction_warnings([(triggers, hits)], counted=[COUNTED[hits]]) == [
        silence,
        dropped,
    ]
    silent = {int(c) for c in silence.split(": ")[-1].split(", ")}
    assert {4, MISSING} <= silent <= FAULTY
    assert dropped.endswith(f"channel {MISSING} ({missing['unknown_channel']} of {on_missing})")


@pytest.fixture(scope="module")
def page(tmp_path_factory) -> Path:
    """The report of the short fault run, the first waveform of each channel only."""
    folder = tmp_path_factory.mktemp("page")
    hits, triggers = _make_run(folder / "run", "short")
    status = cli.main(
        [
            "report",
            str(hits),
            "--triggers",
            str(triggers),
            "-o",
            str(folder / "report"),
            "--waveforms",
            "1",
            "0",
            "-q",
        ]
    )
    assert status == 0
    return folder / "report"


def test_page_in_browser(page):
    """The page loads from file:// without a console error, every image shows, and the warnings
    section lists the faults of the run; the summary holds the same warnings."""
    webdriver = pytest.importorskip("selenium.webdriver")
    chromium, driver_path = shutil.which("chromium"), shutil.which("chromedriver")
    if chromium is None or driver_path is None:
        pytest.skip("needs Debian's chromium and chromium-driver")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    browser = webdriver.Chrome(options=options, service=webdriver.ChromeService(driver_path))
    try:
        browser.get((page / "index.html").as_uri())
        images = browser.execute_script(
            "return Array.from(document.images).map(i => [i.src, i.complete, i.naturalWidth])"
        )
        kinds = browser.execute_script(
            "return Array.from(document.querySelectorAll('.warning')).map(e => e.dataset.kind)"
        )
        # Sorting the channel table by hits puts a channel without hits first.
        browser.execute_script("document.querySelectorAll('#channel-table th')[3].click()")
        first = browser.execute_script(
            "return document.querySelector('#channel-table tbody td:nth-child(4)').textContent"
        )
        errors = [e for e in browser.get_log("browser") if e["level"] == "SEVERE"]
    finally:
        browser.quit()
    assert errors == []
    assert len(images) >= 5 and all(done and width > 0 for _, done, width in images), images
    assert set(EXPECTED) <= set(kinds)
    assert first == "0"
    summary = json.loads((page / "summary.json").read_text())
    assert [w["kind"] for w in summary["warnings"]] == kinds
    for ch in summary["channels"]:
        assert {"channel", "triggers", "hits", "warnings"} <= set(ch)
        assert all(set(w) == {"kind", "message"} for w in ch["warnings"])


def test_command_exit_status_and_overwrite(fault_run, tmp_path, capsys):
    """--fail-on-warning exits 1 when a warning stands; an existing report is replaced only
    with --overwrite; without trigger files the report still comes from the hits alone."""
    hits, triggers = fault_run
    page = tmp_path / "report"
    args = ["report", str(hits), "-o", str(page), "-q"]
    assert cli.main(args) == 0
    assert cli.main(args) == 1
    assert "pass --overwrite to replace it" in capsys.readouterr().err
    assert cli.main([*args, "--overwrite", "--fail-on-warning"]) == 1
    summary = json.loads((page / "summary.json").read_text())
    assert summary["run"]["with_waveforms"] is False
    assert "calibration" in {w["kind"] for w in summary["warnings"]}
    # A trigger file of the recorded name but other content is refused.
    other = tmp_path / "other" / triggers.name
    other.parent.mkdir()
    write_trigger_file(other, simulate(SimulationConfig(n_tarvo=10, n_channels=8, seed=9)))
    assert cli.main([*args, "--overwrite", "--triggers", str(other)]) == 1
    assert "is not the one" in " ".join(capsys.readouterr().err.split())
    # A folder whose page is not a report keeps it and its images, --overwrite or not.
    (other.parent / "index.html").write_text("<title>my notes</title>")
    (other.parent / "figure.png").write_bytes(b"mine")
    assert cli.main(["report", str(hits), "-o", str(other.parent), "-q", "--overwrite"]) == 1
    assert "not a run report's" in " ".join(capsys.readouterr().err.split())
    assert (other.parent / "figure.png").read_bytes() == b"mine"


def test_kept_panels_draw_as_new_ones(fault_run, tmp_path):
    """Each image is drawn into the panels of the one before: nothing of the earlier images
    (artists, log scales, fixed limits, a legend) shows in the next."""
    from orvane_tools.plots import report_page as rp

    stats, summary = gather([fault_run[0]], [fault_run[1]])
    drawn = [c for c in summary["channels"] if c["channel"] in stats.channels.numbers]
    rows = [stats.channels.numbers.index(c["channel"]) for c in drawn]
    kept, new, period = rp._Figures(), rp._Figures(), stats.sample_period
    rp._charge_figure(kept, stats, rows, drawn, tmp_path / "charge.png")
    for figures, what, name in ((kept, "baseline", "b"), (kept, "rate", "r"), (new, "rate", "rn")):
        rp._profile_figure(figures, stats, rows, drawn, tmp_path / f"{name}.png", what)
    for figures, channel, name in ((kept, 1, "w"), (kept, 2, "w2"), (new, 2, "w2n")):
        waveforms = stats.sampler.waveforms(channel)
        rp._waveform_figure(waveforms, summary, period, tmp_path / f"{name}.png", figures)
    for a in ("r", "w2"):
        assert (tmp_path / f"{a}.png").read_bytes() == (tmp_path / f"{a}n.png").read_bytes(), a
