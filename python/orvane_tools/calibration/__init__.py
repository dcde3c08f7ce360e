"""Calibration from the data: each channel's photo-electron response fitted to its spectrum.

:func:`calibrate` histograms a feature of every channel (:mod:`.histograms`), fits each
histogram with the photo-electron response (:mod:`.model`, :mod:`.fit`) and writes the channel
table (:mod:`.table`); ``orvane calibrate`` is its command.  Fitting needs iminuit
(``pip install 'orvane[calibrate]'``).
"""

from __future__ import annotations

from .driver import CalibrationResult, calibrate, fill_spectra, format_summary
from .fit import ChannelFit, FitOptions, fit_spectra, fit_spectrum
from .histograms import Spectra, SpectrumFiller
from .model import ResponseModel

__all__ = [
    "CalibrationResult",
    "ChannelFit",
    "FitOptions",
    "ResponseModel",
    "Spectra",
    "SpectrumFiller",
    "calibrate",
    "fill_spectra",
    "fit_spectra",
    "fit_spectrum",
    "format_summary",
]
