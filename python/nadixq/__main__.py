"""python3 -m nadixq acquire | spectrum | plot (see nadixq.cli)."""

import sys

from .cli import main

sys.exit(main())
