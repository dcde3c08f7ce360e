"""The module's surface: docstring, registration order and docstring layout."""

from __future__ import annotations

import pytest

import orvane

REGISTRATION_ORDER = [
    "hit_dtype",
    "hit_features_dtype",
    "hit_list_to_numpy",
    "numpy_to_hit_list",
    "hit_features_list_to_numpy",
    "numpy_to_hit_features_list",
    "VectorHitFeatures",
    "VectorHit",
    "VectorUInt16",
    "Hit",
    "TarvoTrigger",
    "MultiPMTTrigger",
    "HitFeatures",
    "RunInfo",
    "FeatureExtractor",
    "HitMaker",
    "ChargeReconstruction",
]
FEATURE_ORDER = [
    "channel",
    "waveform_integral",
    "time_over_threshold",
    "trigger_time",
    "pmt_type",
    "adc_sample",
    "rising_edge_time",
    "id",
]


def test_module_docstring() -> None:
    assert orvane.__doc__ is not None
    first, rest = orvane.__doc__.split("\n", 1)
    assert "orvane" in first
    assert rest.strip() == (
        "Exposes Hit, HitFeatures, TarvoTrigger, MultiPMTTrigger, HitMaker, FeatureExtractor "
        "and ChargeReconstruction."
    )


def test_registration_order() -> None:
    names = [name for name in vars(orvane) if not name.startswith("__")]
    # Later additions come after the specified surface.
    assert names[: len(REGISTRATION_ORDER)] == REGISTRATION_ORDER


def test_feature_properties_precede_presence_methods() -> None:
    members = [name for name in vars(orvane.HitFeatures) if not name.startswith("_")]
    assert members == FEATURE_ORDER + [f"has_{name}" for name in FEATURE_ORDER]


@pytest.mark.parametrize("name", FEATURE_ORDER)
def test_feature_docstrings_name_their_error(name: str) -> None:
    doc = getattr(orvane.HitFeatures, name).__doc__
    assert ("Raises\n------\nRuntimeError" in doc) is (name != "id")


def test_section_headings_of_hit_maker_have_a_blank_line() -> None:
    make_hits = orvane.HitMaker.make_hits.__doc__
    assert "Parameters\n\n----------\nfeatures" in make_hits
    assert "Returns\n\n-------\nVectorHit" in make_hits
    assert "Parameters\n\n----------\nsettings" in orvane.HitMaker.__init__.__doc__


@pytest.mark.parametrize(
    ("obj", "first_line"),
    [
        (
            orvane.Hit,
            "Class representing a hit with time and charge including their uncertainties.",
        ),
        (
            orvane.TarvoTrigger,
            (
                "Tarvo trigger data structure. Contains the trigger time, channel number and "
                "waveform samples."
            ),
        ),
        (orvane.MultiPMTTrigger, "MultiPMT trigger data structure."),
        (
            orvane.HitFeatures,
            "Class to hold features of a hit used for charge and time reconstruction.",
        ),
        (
            orvane.RunInfo,
            (
                "Run information data structure containing run number, time offsets and run "
                "start time."
            ),
        ),
        (orvane.FeatureExtractor, "Extractor for hit features from different trigger types."),
    ],
    ids=lambda v: getattr(v, "__name__", "doc"),
)
def test_class_docstrings(obj: type, first_line: str) -> None:
    assert obj.__doc__.split("\n")[0] == first_line


def test_hit_maker_and_feature_extractor_class_docstrings() -> None:
    assert orvane.HitMaker.__doc__ == (
        "Class to create Hit objects from HitFeatures. HitMaker serves as a container for "
        "Reconstructors which represent different\ncharge and time reconstruction algorithms."
    )
    assert orvane.FeatureExtractor.__doc__ == (
        "Extractor for hit features from different trigger types.\n\n"
        "There is an extractor available for each supported trigger type.\n"
        "The extractors are automatically selected based on the type of the trigger data.\n"
    )


def test_generated_signatures_carry_no_object_addresses() -> None:
    for method in (
        orvane.FeatureExtractor.extract_features,
        orvane.ChargeReconstruction.reconstruct,
    ):
        assert "run_info: orvane.RunInfo = RunInfo.simulation_run()" in method.__doc__
