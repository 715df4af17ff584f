"""Sending an answer's body, with the faults that act on the bytes:
throttling, a flipped byte and a connection dropped part-way."""

import fcntl
import os
import socket
import struct
import termios
import time

_CHUNK = 1 << 20
_DRAIN_SECONDS = 2.0


class FileBody:
    """count bytes of an open file from offset start."""

    def __init__(self, file, start, count):
        self.file, self.start, self.count = file, start, count

    def read(self, position, size):
        return os.pread(self.file.fileno(), size, self.start + position)


class TextBody:
    """A body held in memory (fault texts, control answers)."""

    def __init__(self, data):
        self.data, self.start, self.count = data, 0, len(data)

    def read(self, position, size):
        return self.data[position:position + size]


def send_body(sock, body, fault, count_bytes):
    """Sends the body to sock as the fault says; count_bytes(n) is told of
    every piece. Returns False when the fault cut the body short (the caller
    then resets the connection), True when all of it went out."""
    drop_after = fault.get("drop_after")
    plain = drop_after is None and "throttle_bps" not in fault and "corrupt_at" not in fault
    if plain and isinstance(body, FileBody) and body.count > 0:
        _send_file(sock, body, count_bytes)
        return True
    limit = body.count if drop_after is None else min(body.count, drop_after)
    _send_pieces(sock, body, limit, fault, count_bytes)
    return limit == body.count


def _send_file(sock, body, count_bytes):
    # sendfile lets the kernel copy the file, which keeps a local benchmark
    # from measuring this server instead of the client.
    count_bytes(body.count)
    try:
        sock.sendfile(body.file, body.start, body.count)
    except OSError:
        count_bytes(-(body.count - max(0, body.file.tell() - body.start)))
        raise


def _send_pieces(sock, body, limit, fault, count_bytes):
    rate = fault.get("throttle_bps")
    piece = _CHUNK if not rate else max(1, min(65536, rate // 20))
    corrupt_at = fault.get("corrupt_at")
    began = time.monotonic()
    sent = 0
    while sent < limit:
        data = body.read(sent, min(piece, limit - sent))
        if not data:
            raise OSError("the file ended early")
        offset = body.start + sent
        if corrupt_at is not None and offset <= corrupt_at < offset + len(data):
            data = bytearray(data)
            data[corrupt_at - offset] ^= 0xFF
        count_bytes(len(data))
        try:
            sock.sendall(data)
        except OSError:
            count_bytes(-len(data))
            raise
        sent += len(data)
        if rate:
            delay = began + sent / rate - time.monotonic()
            if delay > 0:
                time.sleep(delay)


def cut_connection(sock, reset=False):
    """Ends the connection in the middle of an answer once the bytes
    already sent have reached the client: with a plain close (FIN, and no
    TLS close_notify), or with a TCP reset when reset is true. A reset can
    make a client discard bytes it had already received (Wine's sockets
    report the reset first), so the plain close is the default."""
    deadline = time.monotonic() + _DRAIN_SECONDS
    buffer = struct.pack("i", 0)
    try:
        while time.monotonic() < deadline:
            unsent = struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, buffer))[0]
            if unsent == 0:
                break
            time.sleep(0.005)
        if reset:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            socket.socket.shutdown(sock, socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()
