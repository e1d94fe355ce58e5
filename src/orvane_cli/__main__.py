import sys

from orvane_cli.app import main

sys.exit(main())
