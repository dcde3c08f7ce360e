"""File formats and importers: trigger files (:mod:`.triggerfile`), hit files
(:mod:`.hitfile`), their provenance (:mod:`.provenance`), channel tables (:mod:`.channels`),
settings checks (:mod:`.settings`), digitizer importers (:mod:`.importers`) and the baselines
they estimate (:mod:`.baseline`)."""
