"""The request handler of the release server: files below the root with
byte ranges, scripted faults, and the control API on the plain port."""

import json
import os
import ssl
import time
from http.server import BaseHTTPRequestHandler
from urllib.parse import unquote, urlsplit

from . import ranges
from .body import FileBody, TextBody, cut_connection, send_body

CONTROL_PREFIX = "/__control/"
_MAX_CONTROL_BODY = 1 << 20
_HANDSHAKE_SECONDS = 10
_CONTENT_TYPES = {".json": "application/json", ".txt": "text/plain; charset=utf-8"}


class ReleaseHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuorvelAI-ReleaseServer/1"
    # An idle keep-alive connection ends after this; it also bounds a
    # client that stops reading.
    timeout = 60

    def setup(self):
        if isinstance(self.request, ssl.SSLSocket):
            # The handshake runs here, in the connection's own thread, so a
            # slow or refusing client never holds up the accepting thread.
            self.request.settimeout(_HANDSHAKE_SECONDS)
            self.request.do_handshake()
        super().setup()

    def log_message(self, format, *args):
        # Requests go to the request log; only errors are worth a line.
        pass

    def do_GET(self):
        self._answer(head=False)

    def do_HEAD(self):
        self._answer(head=True)

    def do_POST(self):
        path = urlsplit(self.path).path
        if self.server.control and path.startswith(CONTROL_PREFIX):
            self._control_post(path)
        else:
            # The body is not read, so the connection cannot carry another request.
            self.close_connection = True
            self._send_text(405, "Only GET and HEAD are served here.\n", {"Allow": "GET, HEAD"})

    # --- control API -------------------------------------------------------

    def _control_post(self, path):
        try:
            length = int(self.headers.get("Content-Length") or 0)
            if not 0 <= length <= _MAX_CONTROL_BODY:
                raise ValueError("the body is too large")
            body = self.rfile.read(length)
            if path == CONTROL_PREFIX + "faults":
                request = json.loads(body.decode("utf-8"))
                if not isinstance(request, dict):
                    raise ValueError("the body must be a JSON object")
                self.server.faults.set(unquote(request.get("path", "")), request.get("faults"),
                                       request.get("repeat_last", False))
            elif path == CONTROL_PREFIX + "reset":
                self.server.faults.reset()
                self.server.journal.reset()
            else:
                self._send_json(404, {"ok": False, "error": "no such control operation"})
                return
        except ValueError as error:
            self._send_json(400, {"ok": False, "error": str(error)})
            return
        self._send_json(200, {"ok": True})

    def _control_get(self, path):
        if path == CONTROL_PREFIX + "requests":
            self._send_bytes(200, self.server.journal.snapshot().encode("utf-8"), "application/json")
        else:
            self._send_json(404, {"ok": False, "error": "no such control operation"})

    # --- release files -----------------------------------------------------

    def _answer(self, head):
        split = urlsplit(self.path)
        if self.server.control and split.path.startswith(CONTROL_PREFIX) and not head:
            self._control_get(split.path)
            return
        path = unquote(split.path)
        journal = self.server.journal
        record = journal.begin(self.command, split.path, split.query,
                               self.headers.get("Range"), dict(self.headers.items()))
        try:
            fault = self.server.faults.take(path) or {}
            if "delay_ms" in fault:
                time.sleep(fault["delay_ms"] / 1000.0)
            counter = lambda count: journal.add_bytes(record, count)
            if "status" in fault:
                text = fault.get("body", "Scripted fault: status %d\n" % fault["status"])
                journal.set_answer(record, fault["status"], fault or None)
                self._send_faulty(fault["status"], TextBody(text.encode("utf-8")),
                                  "text/plain; charset=utf-8", {}, fault, head, counter)
            else:
                self._send_file(path, fault, head, record, counter)
        finally:
            journal.finish(record)

    def _local_file(self, path):
        """The file below the root that path names, or None. Paths that
        leave the root (.., links pointing out) name nothing."""
        parts = [part for part in path.split("/") if part]
        if any(part in (".", "..") or "\0" in part or "\\" in part for part in parts):
            return None
        root = self.server.root
        candidate = os.path.realpath(os.path.join(root, *parts))
        if os.path.commonpath([root, candidate]) != root or not os.path.isfile(candidate):
            return None
        return candidate

    def _send_file(self, path, fault, head, record, counter):
        journal = self.server.journal
        local = self._local_file(path)
        if local is None:
            journal.set_answer(record, 404, fault or None)
            self._send_faulty(404, TextBody(b"Not found.\n"), "text/plain; charset=utf-8",
                              {}, fault, head, counter)
            return
        with open(local, "rb") as file:
            size = os.fstat(file.fileno()).st_size
            if fault.get("ignore_range"):
                span = ranges.full(size)
            elif "range_start" in fault:
                span = ranges.from_start(fault["range_start"], size)
            else:
                span = ranges.parse_range(self.headers.get("Range"), size)
            headers = {"Accept-Ranges": "bytes"}
            if span.kind == "partial":
                status = 206
                headers["Content-Range"] = "bytes %d-%d/%d" % (span.start, span.end, size)
            elif span.kind == "unsatisfiable":
                status = 416
                headers["Content-Range"] = "bytes */%d" % size
            else:
                status = 200
            journal.set_answer(record, status, fault or None)
            content_type = _CONTENT_TYPES.get(os.path.splitext(local)[1], "application/octet-stream")
            self._send_faulty(status, FileBody(file, span.start, span.length), content_type,
                              headers, fault, head, counter)

    # --- sending -----------------------------------------------------------

    def _send_faulty(self, status, body, content_type, headers, fault, head, counter):
        """Sends status, headers and body, acting out the faults that touch
        the connection: no Content-Length (the end of the body is then the
        end of the connection) and a body dropped part-way."""
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for name, value in headers.items():
            self.send_header(name, value)
        if fault.get("no_content_length"):
            self.close_connection = True
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(body.count))
        self.end_headers()
        if head:
            return
        if not send_body(self.connection, body, fault, counter):
            self.close_connection = True
            cut_connection(self.connection, fault.get("reset", False))

    def _send_bytes(self, status, data, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _send_json(self, status, document):
        self._send_bytes(status, json.dumps(document).encode("utf-8"), "application/json")

    def _send_text(self, status, text, headers):
        data = text.encode("utf-8")
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
