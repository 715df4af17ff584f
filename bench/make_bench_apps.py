#!/usr/bin/env python3
"""bench/make_bench_apps.py OLD NEW: the bench's release pair, shaped like a
desktop app, into the folders OLD (which already holds QuorvelAI.exe and
demo.ini) and NEW:
  lib/core.dll        150 MB of program code, unchanged
  resources/app.pak   30 MB, about 1 % of its bytes changed in 300
                      scattered places
  resources/m*/...    2,000 small files (1-64 KiB), 5 % of them changed
The same bytes on every run of one machine (a fixed seed, the system's
libraries as code)."""
import glob, os, random, shutil, sys
old, new = sys.argv[1], sys.argv[2]
rng = random.Random(14)
KiB, MB = 1024, 1000 * 1000
libs = sorted(p for p in glob.glob("/usr/lib/x86_64-linux-gnu/**/*.so*", recursive=True)
              if os.path.isfile(p) and not os.path.islink(p))
rng.shuffle(libs)
pending, offset = b"", 0
def code(size):
    """Bytes of real program code, never the same library twice."""
    global pending, offset
    parts, length = [], 0
    while length < size:
        if offset == len(pending):
            pending, offset = (open(libs.pop(), "rb").read() if libs else rng.randbytes(1 << 20)), 0
        piece = pending[offset:offset + size - length]
        offset += len(piece)
        parts.append(piece)
        length += len(piece)
    return b"".join(parts)
words = ["".join(rng.choice("qu or vel ka lo mir ten sa dri".split()) for _ in range(3)) for _ in range(4000)]
def text(size):
    out = " ".join(rng.choices(words, k=size // 4 + 16)).encode()
    return out[:size]
def write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
write(old, "lib/core.dll", code(150 * MB))
pak = bytearray()
while len(pak) < 30 * MB:
    pak += code(256 * KiB) + text(256 * KiB)
pak = bytes(pak[:30 * MB])
write(old, "resources/app.pak", pak)
small = {}
for n in range(2000):
    size = int(KiB * 64 ** rng.random())
    small["resources/m%02d/f%04d.%s" % (n // 100, n, "js" if n % 2 else "bin")] = \
        text(size) if n % 2 else code(size)
for relative, data in small.items():
    write(old, relative, data)
shutil.copytree(old, new, dirs_exist_ok=True)
edited = bytearray(pak)
for _ in range(300):  # 300 x 1000 bytes = 1 % of 30 MB
    at = rng.randrange(len(edited) - 1000)
    edited[at:at + 1000] = rng.randbytes(1000)
write(new, "resources/app.pak", bytes(edited))
for relative in rng.sample(sorted(small), 100):
    data = bytearray(small[relative])
    at = rng.randrange(len(data))
    data[at:at + 200] = text(200)
    write(new, relative, bytes(data))
