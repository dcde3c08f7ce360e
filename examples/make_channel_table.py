"""Write ``channels.csv``: the channel table of the example detector.

The detector is the one the demo simulates (``orvane_tools.channels.example_detector``): 64
waveform channels (0-63) and 64 multi-PMT channels (64-127), each of PMT type 0 or 1; the
waveform channels' gains are spread by +-30 % around their type's (1 and 0.8).  The table's
``charge_*`` columns hold each channel's line from waveform integral to charge, read by the
``ChannelLinearReco`` of the example settings.

Run it from anywhere: ``python examples/make_channel_table.py``.
"""

from __future__ import annotations

from pathlib import Path

from orvane_tools.channels import example_detector_truth, write_simulated_channel_table

if __name__ == "__main__":
    write_simulated_channel_table(
        Path(__file__).with_name("channels.csv"), example_detector_truth()
    )
