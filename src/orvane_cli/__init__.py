"""The orvane command line: look at registry hives from the shell.

    orvane info | ls | dump | timeline | recover | diff

Each command is one module in orvane_cli.commands; the options several
commands share (transaction logs, output file, format) are in options.py.
"""

from orvane_cli.app import main

__all__ = ["main"]
