#!/usr/bin/env python3
"""Publishes QuorvelAI releases and serves them locally.

  release_tool.py publish --app-dir DIR --version X.Y.Z --out ROOT SIGNER
  release_tool.py sign --root ROOT SIGNER
      SIGNER: --sign-cert CERT.pem --sign-key KEY.pem, or --sign-command T;
      publish takes --unsigned instead for test releases
  release_tool.py serve --root ROOT [--port 0 --port-file F] ...

Run with --help for every option. Python 3 standard library only.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from release_tool.cli import main  # noqa: E402  (needs the path above)

if __name__ == "__main__":
    sys.exit(main())
