"""Figures (need matplotlib: ``pip install 'orvane[plot]'``) and web pages: the demo's charge
spectrum (:mod:`.demo`), a calibration's spectra and fits (:mod:`.spe`), and the shared
plotting helpers (:mod:`.common`)."""
