"""``python -m orvane_tools``: the ``orvane`` command."""

from .cli import main

raise SystemExit(main())
