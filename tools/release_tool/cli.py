"""Command line of the release tool."""

import argparse
import json
import os
import sys

from . import rollout_cli
from .payload import PublishError
from .publish import publish
from .server import serve
from .signing import CommandSigner, PemSigner, sign_tree

EXIT_REFUSED = 2


def _signer(parser, options):
    """The signer the options name, or None when they name none."""
    if options.sign_command is not None:
        if options.sign_cert or options.sign_key:
            parser.error("--sign-command cannot be combined with --sign-cert/--sign-key")
        return CommandSigner(options.sign_command)
    if options.sign_cert or options.sign_key:
        if not (options.sign_cert and options.sign_key):
            parser.error("--sign-cert and --sign-key go together")
        return PemSigner(options.sign_cert, options.sign_key)
    return None


def _reporting(command, action):
    """action() as command's outcome: its exit code, or 2 after a refusal and
    1 after a failing write, each said on stderr."""
    try:
        return action()
    except PublishError as error:
        print("release_tool %s: refused: %s" % (command, error), file=sys.stderr)
        return EXIT_REFUSED
    except OSError as error:
        print("release_tool %s: failed: %s" % (command, error), file=sys.stderr)
        return 1


def _sign_command(parser, options):
    signer = _signer(parser, options)
    if signer is None:
        raise PublishError("no signer: give --sign-cert and --sign-key, or --sign-command")
    if not os.path.isdir(options.root):
        raise PublishError("--root %s is not a folder" % options.root)
    for path in sign_tree(options.root, signer):
        print("signed %s" % path)
    return 0


def _required_signer(parser, options):
    """The signer of a command that writes signed documents; None only with
    --unsigned. Raises PublishError when neither is given."""
    signer = _signer(parser, options)
    if signer is not None and options.unsigned:
        parser.error("--unsigned cannot be combined with a signer")
    # Unsigned releases are refused by every setup: only tests want them.
    if signer is None and not options.unsigned:
        raise PublishError("no signer: give --sign-cert and --sign-key, or "
                           "--sign-command, or --unsigned for test releases")
    return signer


def _publish_command(parser, options):
    signer = _required_signer(parser, options)
    # A rollout or channel release leaves the stable version alone.
    staged = rollout_cli.check_publish(options)
    notes = []
    manifest, latest = publish(options.app_dir, options.version, options.out,
                               options.payload_name, False if staged else options.set_latest,
                               options.delta_from, notes, signer)
    if staged:
        rollout_cli.publish_offer(options, signer)
    print(json.dumps(manifest, indent=2, ensure_ascii=False))
    for note in notes:
        print(note, file=sys.stderr)
    if not latest and not staged:
        print("versions.json left unchanged: it names a newer version", file=sys.stderr)
    return 0


def _staged_command(parser, options):
    signer = None if options.command == "status" else _required_signer(parser, options)
    return rollout_cli.run(options.command, options, signer)


def _serve_command(parser, options):
    pairs = (("--https-port", options.https_port, options.cert, options.key),
             ("--untrusted-https-port", options.untrusted_https_port,
              options.untrusted_cert, options.untrusted_key))
    for flag, port, cert, key in pairs:
        if port is not None and not (cert and key):
            parser.error("%s needs its certificate and key" % flag)
    if not os.path.isdir(options.root):
        parser.error("--root %s is not a folder" % options.root)
    try:
        return serve(options)
    except OSError as error:
        print("release_tool serve: failed: %s" % error, file=sys.stderr)
        return 1


def _add_signer_options(parser):
    parser.add_argument("--sign-cert", metavar="FILE",
                        help="PEM code-signing certificate (intermediates after it)")
    parser.add_argument("--sign-key", metavar="FILE", help="PEM key of --sign-cert")
    parser.add_argument("--sign-command", metavar="TEMPLATE",
                        help="command that writes the DER CMS signature of {in} to {out}")


def _parser():
    parser = argparse.ArgumentParser(prog="release_tool.py",
                                     description="Publish and serve QuorvelAI releases.")
    commands = parser.add_subparsers(dest="command", required=True)

    pub = commands.add_parser("publish", help="write a release into the release layout")
    pub.add_argument("--app-dir", required=True, help="folder with QuorvelAI.exe at its top")
    pub.add_argument("--version", required=True, help="release version, such as 1.2.3")
    pub.add_argument("--out", required=True, help="root of the release layout")
    pub.add_argument("--payload-name", help="file name of the payload "
                     "(default QuorvelAI-<version>-win-x64.tar.xz)")
    pub.add_argument("--delta-from", action="append", default=[], metavar="VERSION",
                     help="also write a delta from this older release of --out "
                     "(repeatable)")
    latest = pub.add_mutually_exclusive_group()
    latest.add_argument("--set-latest", dest="set_latest", action="store_const", const=True,
                        help="name this version in versions.json even when it is older")
    latest.add_argument("--no-set-latest", dest="set_latest", action="store_const",
                        const=False, help="leave versions.json alone")
    _add_signer_options(pub)
    pub.add_argument("--unsigned", action="store_true",
                     help="write no signatures (test releases only)")
    rollout_cli.add_publish_options(pub)
    rollout_cli.add_commands(commands, _add_signer_options)

    sign = commands.add_parser("sign", help="sign every versions.json and manifest.json "
                               "below a root again")
    sign.add_argument("--root", required=True)
    _add_signer_options(sign)

    srv = commands.add_parser("serve", help="serve a release root over HTTP and HTTPS")
    srv.add_argument("--root", required=True)
    srv.add_argument("--host", default="127.0.0.1")
    srv.add_argument("--port", type=int, default=0)
    srv.add_argument("--port-file")
    srv.add_argument("--https-port", type=int)
    srv.add_argument("--https-port-file")
    srv.add_argument("--cert")
    srv.add_argument("--key")
    srv.add_argument("--untrusted-https-port", type=int)
    srv.add_argument("--untrusted-https-port-file")
    srv.add_argument("--untrusted-cert")
    srv.add_argument("--untrusted-key")
    srv.add_argument("--request-log", help="file that gets one JSON line per request")
    srv.add_argument("--parent-pid", type=int,
                     help="stop when the process with this id has ended")
    return parser


def main(argv=None):
    parser = _parser()
    options = parser.parse_args(argv)
    if options.command == "publish":
        return _reporting("publish", lambda: _publish_command(parser, options))
    if options.command == "sign":
        return _reporting("sign", lambda: _sign_command(parser, options))
    if options.command in rollout_cli.COMMANDS:
        return _reporting(options.command, lambda: _staged_command(parser, options))
    return _serve_command(parser, options)
