"""Scripted faults and the record of served requests, shared by all ports
of one server and by its request threads."""

import json
import threading

# Each fault key and the type of its value.
_FAULT_KEYS = {
    "status": int, "body": str, "drop_after": int, "ignore_range": bool,
    "range_start": int, "no_content_length": bool, "throttle_bps": int,
    "corrupt_at": int, "delay_ms": int, "reset": bool,
}
_POSITIVE_KEYS = ("throttle_bps",)


def validate_fault(fault):
    """Raises ValueError with a readable text when fault is not a fault
    object the server understands."""
    if not isinstance(fault, dict):
        raise ValueError("a fault must be an object, not %r" % (fault,))
    for key, value in fault.items():
        kind = _FAULT_KEYS.get(key)
        if kind is None:
            raise ValueError("unknown fault key %r" % key)
        # bool is an int in Python; keep numbers and flags apart.
        if type(value) is not kind:
            raise ValueError("fault key %r needs a %s" % (key, kind.__name__))
        if kind is int and value < (1 if key in _POSITIVE_KEYS else 0):
            raise ValueError("fault key %r is out of range: %d" % (key, value))
    if "status" in fault and not 100 <= fault["status"] <= 599:
        raise ValueError("fault status %d is not an HTTP status" % fault["status"])
    if "body" in fault and "status" not in fault:
        raise ValueError("fault key 'body' needs 'status'")
    if "reset" in fault and "drop_after" not in fault:
        raise ValueError("fault key 'reset' needs 'drop_after'")


class FaultBook:
    """Per path, the list of faults the next requests consume in order."""

    def __init__(self):
        self._lock = threading.Lock()
        self._plans = {}

    def set(self, path, faults, repeat_last=False):
        if not isinstance(path, str) or not path.startswith("/"):
            raise ValueError("'path' must be a text starting with '/'")
        if not isinstance(faults, list):
            raise ValueError("'faults' must be a list")
        if not isinstance(repeat_last, bool):
            raise ValueError("'repeat_last' must be true or false")
        for fault in faults:
            validate_fault(fault)
        with self._lock:
            self._plans[path] = {"faults": list(faults), "next": 0, "repeat_last": repeat_last}

    def take(self, path):
        """The fault for this request to path, or None for normal service."""
        with self._lock:
            plan = self._plans.get(path)
            if not plan or not plan["faults"]:
                return None
            if plan["next"] < len(plan["faults"]):
                plan["next"] += 1
                return plan["faults"][plan["next"] - 1]
            return plan["faults"][-1] if plan["repeat_last"] else None

    def reset(self):
        with self._lock:
            self._plans.clear()


class RequestJournal:
    """The requests served since the last reset, in the order they arrived,
    and an optional log file with one JSON line per finished request."""

    def __init__(self, log_path=None):
        self._lock = threading.Lock()
        self._records = []
        self._log = open(log_path, "a", encoding="utf-8") if log_path else None

    def begin(self, method, path, query, range_header, headers):
        record = {"method": method, "path": path, "query": query,
                  "range": range_header, "status": None, "headers": headers,
                  "bytes_sent": 0, "fault": None}
        with self._lock:
            self._records.append(record)
        return record

    def set_answer(self, record, status, fault):
        with self._lock:
            record["status"] = status
            record["fault"] = fault

    def add_bytes(self, record, count):
        # Counted before the bytes go out (and taken back when sending
        # fails), so a client that has its answer always finds it counted.
        with self._lock:
            record["bytes_sent"] += count

    def finish(self, record):
        if not self._log:
            return
        with self._lock:
            self._log.write(json.dumps(record, ensure_ascii=False) + "\n")
            self._log.flush()

    def snapshot(self):
        with self._lock:
            return json.dumps(self._records, ensure_ascii=False)

    def reset(self):
        with self._lock:
            self._records.clear()

    def close(self):
        if self._log:
            self._log.close()
