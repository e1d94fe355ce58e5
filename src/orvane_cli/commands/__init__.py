"""One module per command. Each has NAME, HELP, parents() (the shared option
groups it takes, see options.py), add_arguments(parser) and run(args) -> exit status."""

from orvane_cli.commands import artifacts, carve, deleted, diff, dump, find, info, ls, recover, report, timeline

COMMANDS = [info, ls, dump, timeline, deleted, find, recover, diff, artifacts, report, carve]
