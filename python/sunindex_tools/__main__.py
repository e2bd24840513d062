"""``python -m sunindex_tools``: the `sunindex` command."""

import sys

from .cli import main

sys.exit(main())
