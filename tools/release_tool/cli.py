"""Command line of the release tool."""

import argparse
import json
import os
import sys

from .payload import PublishError
from .publish import publish
from .server import serve

EXIT_REFUSED = 2


def _publish_command(options):
    notes = []
    try:
        manifest, latest = publish(options.app_dir, options.version, options.out,
                                   options.payload_name, options.set_latest,
                                   options.delta_from, notes)
    except PublishError as error:
        print("release_tool publish: refused: %s" % error, file=sys.stderr)
        return EXIT_REFUSED
    except OSError as error:
        print("release_tool publish: failed: %s" % error, file=sys.stderr)
        return 1
    print(json.dumps(manifest, indent=2, ensure_ascii=False))
    for note in notes:
        print(note, file=sys.stderr)
    if not latest:
        print("versions.json left unchanged: it names a newer version", file=sys.stderr)
    return 0


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
        return _publish_command(options)
    return _serve_command(parser, options)
