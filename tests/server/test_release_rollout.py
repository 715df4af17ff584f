"""Tests of the release tool's staged-release commands: publish --rollout
and --channel, rollout, promote, revoke, channel and status."""

import contextlib
import io
import json
import os
import shutil
import sys
import tempfile
import unittest

from test_release_signing import make_chain, verifies
from test_release_tool import TOOL, make_app, read

sys.path.insert(0, os.path.dirname(TOOL))
from release_tool.cli import main  # noqa: E402  (needs the path above)


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def run_tool(*args):
    """The tool's command line run in this process: many runs stay quick."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = main(list(args))
        except SystemExit as exit:
            code = exit.code
    return Result(code, out.getvalue(), err.getvalue())


class StagedReleaseTests(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="qv-staged-")
        self.addCleanup(shutil.rmtree, self.temp)
        self.app = make_app(os.path.join(self.temp, "app"), {"QuorvelAI.exe": b"MZ" + bytes(500)})
        self.root = os.path.join(self.temp, "root")
        for version in ("1.0.0", "1.1.0"):
            self.assertEqual(self.publish(version).returncode, 0)

    def publish(self, version, *extra):
        return run_tool("publish", "--app-dir", self.app, "--version", version, "--out", self.root,
                        "--unsigned", *extra)

    def command(self, name, *extra):
        return run_tool(name, "--root", self.root, *extra,
                        *(("--unsigned",) if name != "status" else ()))

    def windows(self):
        with open(os.path.join(self.root, "versions.json"), encoding="utf-8") as file:
            return json.load(file)["platforms"]["windows"]

    # Catches a command that changes the wrong member, drops another, or
    # does not print the state it leaves.
    def test_a_staged_release_from_first_share_to_promotion(self):
        steps = [
            (lambda: self.publish("1.2.0", "--rollout", "10"),
             {"version": "1.1.0", "rollout": {"version": "1.2.0", "percent": 10}}),
            (lambda: self.command("rollout", "--percent", "50"),
             {"version": "1.1.0", "rollout": {"version": "1.2.0", "percent": 50}}),
            (lambda: self.command("rollout", "--percent", "0"),
             {"version": "1.1.0", "rollout": {"version": "1.2.0", "percent": 0}}),
            (lambda: self.command("revoke", "--version", "1.2.0"),
             {"version": "1.1.0", "revoked": ["1.2.0"]}),
            (lambda: self.publish("1.3.0", "--rollout", "10"),
             {"version": "1.1.0", "revoked": ["1.2.0"], "rollout": {"version": "1.3.0", "percent": 10}}),
            (lambda: self.command("promote"), {"version": "1.3.0", "revoked": ["1.2.0"]}),
            (lambda: self.publish("1.4.0", "--channel", "beta"),
             {"version": "1.3.0", "revoked": ["1.2.0"], "channels": {"beta": "1.4.0"}}),
            (lambda: self.command("channel", "--name", "lts", "--version", "1.1.0"),
             {"version": "1.3.0", "revoked": ["1.2.0"], "channels": {"beta": "1.4.0", "lts": "1.1.0"}}),
            (lambda: self.command("revoke", "--version", "1.3.0", "--stable", "1.1.0"),
             {"version": "1.1.0", "revoked": ["1.2.0", "1.3.0"],
              "channels": {"beta": "1.4.0", "lts": "1.1.0"}}),
        ]
        for number, (step, expected) in enumerate(steps):
            result = step()
            self.assertEqual(result.returncode, 0, "step %d: %s" % (number, result.stderr))
            self.assertEqual(self.windows(), expected, "step %d" % number)
            self.assertIn("stable:   %s" % expected["version"], result.stdout + result.stderr)
        status = self.command("status")
        self.assertEqual(status.returncode, 0)
        self.assertEqual(status.stdout.splitlines(), [
            "stable:   1.1.0", "rollout:  none", "revoked:  1.2.0, 1.3.0",
            "channel:  beta 1.4.0", "channel:  lts 1.1.0"])
        leftovers = [name for name in os.listdir(self.root) if name.endswith(".tmp")]
        self.assertEqual(leftovers, [])

    # Catches a refusal that exits otherwise than 2 or writes anything:
    # the index, a new release folder or a temporary file.
    def test_refusals_exit_2_and_write_nothing(self):
        self.assertEqual(self.publish("1.2.0", "--rollout", "10").returncode, 0)
        cases = [
            ("percent past 100", lambda: self.publish("1.3.0", "--rollout", "101")),
            ("percent not a number", lambda: self.publish("1.3.0", "--rollout", "ten")),
            ("rollout older than stable", lambda: self.publish("1.0.5", "--rollout", "10")),
            ("rollout of the stable version", lambda: self.publish("1.1.0", "--rollout", "10")),
            ("rollout and channel", lambda: self.publish("1.3.0", "--rollout", "5", "--channel", "b")),
            ("rollout and set-latest", lambda: self.publish("1.3.0", "--rollout", "5", "--set-latest")),
            ("blank channel name", lambda: self.publish("1.3.0", "--channel", " ")),
            ("negative share", lambda: self.command("rollout", "--percent", "-1")),
            ("revoke unpublished", lambda: self.command("revoke", "--version", "9.9.9")),
            ("revoke stable alone", lambda: self.command("revoke", "--version", "1.1.0")),
            ("stable not older", lambda: self.command("revoke", "--version", "1.1.0", "--stable", "1.2.0")),
            ("stable unpublished",
             lambda: self.command("revoke", "--version", "1.1.0", "--stable", "0.9.0")),
            ("stable without revoking it",
             lambda: self.command("revoke", "--version", "1.2.0", "--stable", "1.0.0")),
            ("channel unpublished", lambda: self.command("channel", "--name", "b", "--version", "2.0.0")),
            ("unsigned without --unsigned",
             lambda: run_tool("rollout", "--root", self.root, "--percent", "20")),
        ]
        for name, case in cases:
            before = read(os.path.join(self.root, "versions.json"))
            result = case()
            self.assertEqual(result.returncode, 2, "%s: %s" % (name, result.stderr))
            self.assertEqual(read(os.path.join(self.root, "versions.json")), before, name)
            self.assertFalse(os.path.exists(os.path.join(self.root, "Installs", "1.3.0")), name)
            self.assertFalse(os.path.exists(os.path.join(self.root, "Installs", "1.0.5")), name)
        self.assertEqual(self.command("revoke", "--version", "1.2.0").returncode, 0)
        for name, case in [
                ("no rollout to change", lambda: self.command("rollout", "--percent", "20")),
                ("no rollout to promote", lambda: self.command("promote")),
                ("channel to a revoked version",
                 lambda: self.command("channel", "--name", "b", "--version", "1.2.0")),
                ("revoked stable as the replacement",
                 lambda: self.command("revoke", "--version", "1.1.0", "--stable", "1.2.0"))]:
            result = case()
            self.assertEqual(result.returncode, 2, "%s: %s" % (name, result.stderr))

    # Catches a rollout on a root whose index names no stable version: no
    # install could tell whether it is newer.
    def test_rollout_needs_a_stable_version(self):
        empty = os.path.join(self.temp, "empty")
        result = run_tool("publish", "--app-dir", self.app, "--version", "1.0.0", "--out", empty,
                          "--unsigned", "--rollout", "10")
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertFalse(os.path.exists(empty))

    # Catches a command that writes the index unsigned, or signs other bytes
    # than those it writes.
    def test_each_command_signs_the_index_it_writes(self):
        keys = os.path.join(self.temp, "keys")
        os.makedirs(keys)
        ca, chain, key = make_chain(keys)
        signer = ("--sign-cert", chain, "--sign-key", key)
        index = os.path.join(self.root, "versions.json")
        for step in (("publish", "--app-dir", self.app, "--version", "1.2.0", "--out", self.root,
                      "--rollout", "5") + signer,
                     ("rollout", "--root", self.root, "--percent", "20") + signer,
                     ("channel", "--root", self.root, "--name", "beta", "--version", "1.2.0") + signer,
                     ("promote", "--root", self.root) + signer,
                     ("revoke", "--root", self.root, "--version", "1.2.0", "--stable", "1.1.0") + signer):
            result = run_tool(*step)
            self.assertEqual(result.returncode, 0, "%s: %s" % (step[0], result.stderr))
            self.assertTrue(verifies(index, ca), step[0])


if __name__ == "__main__":
    unittest.main()
