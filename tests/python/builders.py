"""Small records and settings texts shared by the Python tests."""

from __future__ import annotations

import orvane

# Time taken unchanged from the trigger time, charge 0.01 PE per LSB of waveform integral, or
# 0.5 PE per LSB of ADC sample; every estimate has a finite uncertainty.
LINEAR_SETTINGS = """\
extractors:
  Tarvo:
    drop_bad_edge: false
    drop_bad_integral: false
reco:
  time:
    class: LinearReco
    feature: trigger_time
    hit_property: time
    pmt_type: -1
    min_value: -1.0e9
    max_value: 1.0e9
    slope: 1.0
    intercept: 0.0
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0e-9
    covariance: 0.0
  charge_from_integral:
    class: LinearReco
    feature: waveform_integral
    hit_property: charge
    pmt_type: -1
    min_value: -1.0e9
    max_value: 1.0e9
    slope: 0.01
    intercept: 0.0
    slope_uncertainty: 0.0
    intercept_uncertainty: 0.1
    covariance: 0.0
  charge_from_adc:
    class: LinearReco
    feature: adc_sample
    hit_property: charge
    pmt_type: -1
    min_value: -1.0e9
    max_value: 1.0e9
    slope: 0.5
    intercept: 0.0
    slope_uncertainty: 0.0
    intercept_uncertainty: 0.2
    covariance: 0.0
"""


def make_tarvo(
    channel: int = 3,
    samples: tuple[int, ...] = (10, 10, 12, 20, 24, 25, 25),
    seconds: int = 100,
    ticks: int = 250,
    baseline: float = 10.0,
) -> orvane.TarvoTrigger:
    """A Tarvo trigger with a clean rising edge (integral 56 LSB over the default baseline)."""
    trigger = orvane.TarvoTrigger()
    trigger.channel = channel
    trigger.trigger_time_s = seconds
    trigger.trigger_time_ticks = ticks
    trigger.baseline = baseline
    trigger.waveform = list(samples)
    return trigger


def make_multipmt(
    channel: int = 4, time: float = 1.5, tot: float = 2e-8, adc: int = 100
) -> orvane.MultiPMTTrigger:
    """A multi-PMT trigger."""
    trigger = orvane.MultiPMTTrigger()
    trigger.channel = channel
    trigger.time = time
    trigger.time_over_threshold = tot
    trigger.adc_sample = adc
    return trigger


def make_features(
    channel: int | None = 3, id_: int | None = 7, **floats: float
) -> orvane.HitFeatures:
    """A HitFeatures record with the given features set (None leaves channel or id unset)."""
    features = orvane.HitFeatures()
    if channel is not None:
        features.channel = channel
    if id_ is not None:
        features.id = id_
    for name, value in floats.items():
        setattr(features, name, value)
    return features
