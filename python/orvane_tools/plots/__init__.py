"""Figures and web pages (need matplotlib: ``pip install 'orvane[plot]'``): the demo's charge
spectrum (:mod:`.demo`), the run report (:mod:`.report`) and the helpers they share
(:mod:`.common`: small-multiples grid, PNG saving, self-contained HTML page)."""
