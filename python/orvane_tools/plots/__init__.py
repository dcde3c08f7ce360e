"""Figures (need matplotlib: ``pip install 'orvane[plot]'``): the demo's charge spectrum
(:mod:`.demo`)."""
