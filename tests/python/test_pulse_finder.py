"""The pulse finder through the module: object and columnar paths agree, truncation counted."""

from __future__ import annotations

from pathlib import Path

import numpy as np
import pytest

from orvane_tools import cli
from orvane_tools.pulsetrain import PulseTrainConfig, score_pulses, simulate_pulse_trains
from orvane_tools.reconstruct import reconstruct_triggers
from orvane_tools.triggerfile import TriggerData

orvane = pytest.importorskip("orvane")

REPO = Path(__file__).resolve().parents[2]


def _with_seventeen_pulses(data: TriggerData) -> TriggerData:
    """``data`` plus one last waveform of 17 pulses (one more than a trigger can hold)."""
    block = [1000, 1000, 1100, 1050, 1000, 1000]
    extra = np.array(block * 17 + [1000] * 10, dtype=np.uint16)
    rows = np.concatenate([data.tarvo_triggers, data.tarvo_triggers[-1:]])
    samples = np.concatenate([data.tarvo_samples, extra])
    offsets = np.append(data.tarvo_offsets, data.tarvo_offsets[-1] + len(extra))
    return TriggerData(data.run_info, rows, samples, offsets, data.multipmt_triggers)


def _objects(data: TriggerData) -> list:
    objects = []
    for i, row in enumerate(data.tarvo_triggers):
        t = orvane.TarvoTrigger()
        t.channel, t.trigger_time_s, t.trigger_time_ticks = (int(row[k]) for k in range(3))
        t.baseline = float(row["baseline"])
        t.waveform = data.waveform(i).tolist()
        objects.append(t)
    return objects


@pytest.mark.parametrize("timing", ["edge", "cfd"])
def test_object_and_columnar_paths_give_the_same_bytes(tmp_path: Path, timing: str) -> None:
    text = (REPO / "examples" / "pulse_finder.yaml").read_text()
    settings = tmp_path / "settings.yaml"
    settings.write_text(text.replace("timing: edge", f"timing: {timing}"))
    data, truth = simulate_pulse_trains(PulseTrainConfig(n_triggers=40, seed=4))
    data = _with_seventeen_pulses(data)
    run = orvane.RunInfo.simulation_run()
    reco = orvane.ChargeReconstruction(str(settings))
    extractor = orvane.FeatureExtractor(str(settings))
    objects = _objects(data)

    want = orvane.hit_features_list_to_numpy(extractor.extract_features(objects, run))
    rows = data.tarvo_triggers
    plain = extractor.extract_tarvo_numpy(rows, data.tarvo_samples, data.tarvo_offsets, 0, run)
    got, truncated = extractor.extract_tarvo_numpy(
        rows, data.tarvo_samples, data.tarvo_offsets, 0, run, return_truncated=True
    )
    assert truncated == 1
    assert got.tobytes() == want.tobytes() == plain.tobytes()
    # The pulse rows, one per record and joined by id, leave the records as they are.
    again, pulses = extractor.extract_tarvo_numpy(
        rows, data.tarvo_samples, data.tarvo_offsets, 0, run, return_pulses=True, threads=2
    )
    assert again.tobytes() == got.tobytes()
    assert pulses.dtype == orvane.pulse_dtype
    assert pulses["id"].tolist() == got["id"].tolist()
    assert pulses["index"].tolist() == (got["id"] & 0xF).tolist()
    position = (pulses["id"] >> 4) & 0x0FFFFFFF
    for k in (0, len(pulses) // 2, len(pulses) - 1):
        window = data.waveform(position[k])[
            pulses["first_sample"][k] : pulses["last_sample"][k] + 1
        ]
        assert pulses["amplitude"][k] == window.max() - rows["baseline"][position[k]]
    assert not pulses["saturated"].any()
    _, capped = extractor.extract_tarvo_numpy(
        rows, data.tarvo_samples, data.tarvo_offsets, 0, run, return_pulses=True, adc_max=1100
    )
    assert capped["saturated"][-16:].all()
    record_index = got["id"] & 0xF
    assert record_index.max() == 15  # the last trigger's 16 records
    assert len(got) > len(objects)

    hits = orvane.hit_list_to_numpy(reco.reconstruct(objects, run))
    result = reconstruct_triggers(reco, data, chunk_size=7)
    assert result.truncated == 1
    # Chunks joined into rows of the hit dtype itself, padding included, byte for byte.
    assert result.hits.dtype == orvane.hit_dtype
    assert result.hits.tobytes() == hits.tobytes()

    # Every simulated pulse is found (they are at least 80 ns apart) and nothing else.
    mine = (result.hits["id"] >> 4) & 0x0FFFFFFF < 40
    score = score_pulses(
        (result.hits["id"][mine] >> 4) & 0x0FFFFFFF,
        result.hits["time"][mine],
        result.hits["charge"][mine],
        truth,
    )
    assert (score.found, score.fakes) == (score.pulses, 0)


def test_long_demo(capsys: pytest.CaptureFixture[str]) -> None:
    assert cli.main(["demo", "--long", "-n", "40", "--seed", "2"]) == 0
    out = capsys.readouterr().out
    assert "40 simulated waveforms of 1024 samples" in out
    assert "waveforms with more than 16 pulses: 0" in out
    assert cli.main(["demo", "--long", "-n", "40", "--plot", "long.png"]) == 1
    assert "--long writes no plot" in capsys.readouterr().err


def test_single_pulse_extractor_reports_no_truncation() -> None:
    reco = orvane.ChargeReconstruction(str(REPO / "examples" / "settings.yaml"))
    waveform = np.array([[1000, 1000, 1200, 1100, 1000] * 20], dtype=np.uint16)
    rows = np.zeros(1, dtype=orvane.tarvo_trigger_dtype)
    rows["baseline"] = 1000
    hits, truncated = reco.reconstruct_tarvo_numpy(rows, waveform, return_truncated=True)
    assert (len(hits), truncated) == (1, 0)
    assert (reco.waveform_extractor, reco.sample_period) == ("Tarvo", 4e-9)
    with pytest.raises(ValueError, match="return_pulses needs the pulse finder"):
        reco.reconstruct_tarvo_numpy(rows, waveform, return_pulses=True)
