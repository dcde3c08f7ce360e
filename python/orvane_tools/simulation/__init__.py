"""Simulated triggers with a known truth: short waveforms and multi-PMT triggers
(:mod:`.simulate`), long waveforms with several pulses (:mod:`.pulsetrain`), and the demo that
reconstructs them and compares with the truth (:mod:`.demo`)."""
