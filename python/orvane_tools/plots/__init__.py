"""Figures (need matplotlib: ``pip install 'orvane[plot]'``) and web pages: the demo's charge
spectrum (:mod:`.demo`), a calibration's spectra and fits (:mod:`.spe`), the run report
(:mod:`.report`), and the shared plotting helpers (:mod:`.common`: small-multiples grid, PNG
saving, self-contained HTML page)."""
