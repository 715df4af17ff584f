"""Publishing and serving QuorvelAI releases.

`publish` turns an application folder into the release layout that the
setup program downloads; `serve` is a local release server with scripted
faults for tests and benchmarks.
"""
