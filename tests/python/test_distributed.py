"""Reconstruction on a Dask cluster of worker processes gives the hits of one process."""

from __future__ import annotations

import contextlib
import os
import sys
import zipfile
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest

from orvane_tools import cli
from orvane_tools._resources import example_settings
from orvane_tools.commands import reconstruct as command
from orvane_tools.hitfile import read_hits_with_provenance
from orvane_tools.run import reconstruct_files
from orvane_tools.simulate import SimulationConfig, simulate
from orvane_tools.triggerfile import TriggerFileError, write_trigger_file

distributed = pytest.importorskip("distributed")
pytest.importorskip("orvane")
# Fields that may differ between two runs on the same inputs.
VOLATILE = ("time", "host", "command_line")


@pytest.fixture(scope="module")
def client() -> Iterator[Any]:
    import cloudpickle

    cloudpickle.register_pickle_by_value(sys.modules[__name__])  # the plugin below
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with cluster, distributed.Client(cluster) as dask_client:
        yield dask_client


@pytest.fixture(scope="module")
def inputs(tmp_path_factory: pytest.TempPathFactory) -> list[Path]:
    """Three trigger files; the second deflated (read front to back by one task)."""
    folder = tmp_path_factory.mktemp("inputs")
    paths = []
    for i, (n, m) in enumerate([(1300, 700), (500, 900), (1000, 0)]):
        data = simulate(SimulationConfig(n_tarvo=n, n_multipmt=m, seed=20 + i))
        path = folder / f"segment{i}.npz"
        write_trigger_file(path, data, compress=i == 1)
        paths.append(path)
    return paths


def _same_outputs(a: Path, b: Path, fmt: str) -> None:
    names = sorted(p.name for p in a.iterdir())
    assert names == sorted(p.name for p in b.iterdir())
    for name in names:
        if name.endswith(f".{fmt}"):
            hits_a, prov_a = read_hits_with_provenance(a / name)
            hits_b, prov_b = read_hits_with_provenance(b / name)
            assert hits_a.tobytes() == hits_b.tobytes(), name
            assert {k: v for k, v in prov_a.items() if k not in VOLATILE} == {
                k: v for k, v in prov_b.items() if k not in VOLATILE
            }
            if fmt == "npy":  # the whole file, byte for byte
                assert (a / name).read_bytes() == (b / name).read_bytes()


def test_command_with_workers(
    client: Any, inputs: list[Path], tmp_path: Path, monkeypatch: pytest.MonkeyPatch
) -> None:
    @contextlib.contextmanager
    def module_cluster(args: Any) -> Iterator[Any]:
        assert args.workers == 2
        yield client

    settings = str(example_settings())
    argv = ["reconstruct", settings, *map(str, inputs), "-q", "--chunk-size", "256"]
    assert cli.main([*argv, "-o", str(tmp_path / "one")]) == 0
    monkeypatch.setattr(command, "_client", module_cluster)
    assert cli.main([*argv, "-o", str(tmp_path / "many"), "--workers", "2"]) == 0
    _same_outputs(tmp_path / "one", tmp_path / "many", "parquet")


class _EndWorkerOnce(distributed.WorkerPlugin):
    """Ends its worker process when a reconstruction task starts, once (a marker file)."""

    def __init__(self, marker: str) -> None:
        self.marker = marker

    def transition(self, key: Any, start: str, finish: str, **kwargs: Any) -> None:
        if finish == "executing" and "orvane-segment-" in str(key):
            with contextlib.suppress(FileExistsError):
                with open(self.marker, "x"):
                    pass
                os._exit(1)


def test_workers_of_the_command_leave_ctrl_c_to_it() -> None:
    # Ctrl-C reaches the workers too: ignoring it, they print no tracebacks while this process
    # stops them.
    import argparse
    import signal

    with command._client(argparse.Namespace(workers=1, scheduler=None)) as started:
        assert set(started.run(signal.getsignal, signal.SIGINT).values()) == {signal.SIG_IGN}
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler


def test_a_dead_worker_changes_nothing(client: Any, inputs: list[Path], tmp_path: Path) -> None:
    settings = example_settings()
    local = reconstruct_files(inputs, settings, tmp_path / "one", fmt="npy", chunk_size=1000)
    marker = tmp_path / "worker-ended"
    client.register_plugin(_EndWorkerOnce(str(marker)), name="end-worker-once")
    try:
        summary = reconstruct_files(
            inputs,
            settings,
            tmp_path / "many",
            fmt="npy",
            chunk_size=97,
            client=client,
            triggers_per_task=300,
        )
    finally:
        client.unregister_worker_plugin("end-worker-once")
    assert marker.exists()
    assert summary.hits > 3000
    assert [f.counts for f in summary.files] == [f.counts for f in local.files]
    _same_outputs(tmp_path / "one", tmp_path / "many", "npy")


def test_damaged_input_fails_the_run(client: Any, inputs: list[Path], tmp_path: Path) -> None:
    damaged = tmp_path / "damaged.npz"
    raw = bytearray(inputs[1].read_bytes())
    with zipfile.ZipFile(inputs[1]) as archive:
        info = archive.getinfo("tarvo_samples.npy")
    middle = info.header_offset + 30 + len(info.filename) + info.compress_size // 2
    raw[middle : middle + 64] = bytes(64)  # inside the deflated samples
    damaged.write_bytes(bytes(raw))
    out = tmp_path / "out"
    with pytest.raises(TriggerFileError, match="damaged.npz.*member 'tarvo_samples.npy'"):
        reconstruct_files([inputs[0], damaged], example_settings(), out, client=client)
    # The first input's output stays if its tasks came in first; no temporary file does.
    left = sorted(p.name for p in out.iterdir()) if out.exists() else []
    assert left in ([], [f"{inputs[0].stem}.parquet"])
    assert sorted(p.name for p in tmp_path.iterdir()) == ["damaged.npz"] + ["out"] * bool(left)
