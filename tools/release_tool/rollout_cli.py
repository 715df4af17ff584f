"""Command line of the staged-release commands: rollout, promote, revoke,
channel and status, and publish's --rollout and --channel."""

import sys

from . import rollout as staged
from .payload import PublishError

COMMANDS = ("rollout", "promote", "revoke", "channel", "status")


def _percent(text):
    try:
        return int(text, 10)
    except ValueError:
        raise PublishError("the percent must be a whole number from 0 to 100, not %r" % text)


def add_commands(commands, add_signer_options):
    """Adds the staged-release subcommands to the subparsers commands."""
    def command(name, help_text, signed=True):
        parser = commands.add_parser(name, help=help_text)
        parser.add_argument("--root", required=True, help="root of the release layout")
        if signed:
            add_signer_options(parser)
            parser.add_argument("--unsigned", action="store_true",
                                help="write no signature (test releases only)")
        return parser

    command("rollout", "raise or lower the rollout's share; 0 halts it") \
        .add_argument("--percent", required=True)
    command("promote", "make the rollout's version the stable one")
    revoke = command("revoke", "withdraw a version; installs on it go back")
    revoke.add_argument("--version", required=True)
    revoke.add_argument("--stable", help="the older version that becomes stable when the "
                        "revoked version is the stable one")
    channel = command("channel", "point a channel at a published version")
    channel.add_argument("--name", required=True)
    channel.add_argument("--version", required=True)
    command("status", "print the rollout state", signed=False)


def add_publish_options(publish_parser):
    publish_parser.add_argument("--rollout", metavar="PERCENT",
                                help="offer the new version to this share of the installs; "
                                "the stable version stays")
    publish_parser.add_argument("--channel", metavar="NAME",
                                help="publish the new version to this channel only")


def check_publish(options):
    """Refuses publish's --rollout or --channel before anything is written.
    Returns True when the version index is left to publish_offer."""
    if options.rollout is None and options.channel is None:
        return False
    if options.rollout is not None and options.channel is not None:
        raise PublishError("--rollout and --channel cannot be combined")
    if options.set_latest:
        raise PublishError("--set-latest cannot be combined with --rollout or --channel")
    if options.rollout is not None:
        staged.check_offer(options.out, options.version, _percent(options.rollout))
    else:
        staged.check_channel_name(options.channel)
    return True


def publish_offer(options, signer):
    """After the release is written: the index names it as the rollout or
    in its channel. Prints the resulting state."""
    if options.rollout is not None:
        staged.offer_rollout(options.out, options.version, _percent(options.rollout), signer)
    else:
        staged.set_channel(options.out, options.channel, options.version, signer)
    print_state(options.out, file=sys.stderr)


def print_state(root, file=None):
    for line in staged.describe(root):
        print(line, file=file or sys.stdout)


def run(name, options, signer):
    """Runs a staged-release command and prints the state it leaves.
    Raises PublishError for a refusal, OSError for a failing write."""
    if name == "rollout":
        staged.set_percent(options.root, _percent(options.percent), signer)
    elif name == "promote":
        staged.promote(options.root, signer)
    elif name == "revoke":
        staged.revoke(options.root, options.version, options.stable, signer)
    elif name == "channel":
        staged.set_channel(options.root, options.name, options.version, signer)
    print_state(options.root)
    return 0
