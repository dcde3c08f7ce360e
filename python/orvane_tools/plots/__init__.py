"""Figures and web pages: the run report and the shared plotting helpers (:mod:`.common`)."""
