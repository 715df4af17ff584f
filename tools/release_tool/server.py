"""The serve command: a local release server on one plain HTTP port and,
when asked, a trusted and an untrusted HTTPS port, all serving the same
root with the same scripted faults and request record."""

import os
import signal
import socket
import ssl
import sys
import threading
from http.server import ThreadingHTTPServer

from .faults import FaultBook, RequestJournal
from .handler import ReleaseHandler


class ReleaseServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    request_queue_size = 64

    def __init__(self, address, root, faults, journal, control, tls=None):
        self.root = os.path.realpath(root)
        self.faults, self.journal, self.control, self.tls = faults, journal, control, tls
        super().__init__(address, ReleaseHandler)

    def server_bind(self):
        # HTTPServer.server_bind looks up the host's name, which can stall
        # for seconds on a machine without a resolver; the name is not used.
        socket.socket.setsockopt(self.socket, socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.bind(self.server_address)
        self.server_address = self.socket.getsockname()
        self.server_name, self.server_port = self.server_address[:2]

    def get_request(self):
        connection, address = super().get_request()
        if self.tls:
            connection = self.tls.wrap_socket(connection, server_side=True,
                                              do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError, TimeoutError)):
            # Clients that refuse the certificate or hang up are expected in
            # tests; one line is enough.
            sys.stderr.write("connection from %s:%d ended: %s\n"
                             % (client_address[0], client_address[1], error))
            return
        super().handle_error(request, client_address)


def _tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def write_port_file(path, port):
    """Writes the port under a temporary name and renames it, so a reader
    that polls for the file never sees it half written."""
    temporary = "%s.%d.tmp" % (path, os.getpid())
    with open(temporary, "w", encoding="ascii") as file:
        file.write("%d\n" % port)
    os.replace(temporary, path)


def _listeners(options):
    """(kind, port, port file, TLS context) of every port asked for."""
    wanted = [("http", options.port, options.port_file, None)]
    if options.https_port is not None:
        wanted.append(("https", options.https_port, options.https_port_file,
                       _tls_context(options.cert, options.key)))
    if options.untrusted_https_port is not None:
        wanted.append(("https-untrusted", options.untrusted_https_port,
                       options.untrusted_https_port_file,
                       _tls_context(options.untrusted_cert, options.untrusted_key)))
    return wanted


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def serve(options):
    """Serves until SIGTERM or SIGINT; returns the exit code."""
    faults, journal = FaultBook(), RequestJournal(options.request_log)
    servers, port_files = [], []
    for kind, port, port_file, tls in _listeners(options):
        server = ReleaseServer((options.host, port), options.root, faults, journal,
                               control=(kind == "http"), tls=tls)
        servers.append(server)
        scheme = "http" if kind == "http" else "https"
        print("%s: %s://%s:%d/ serving %s" % (kind, scheme, options.host,
                                               server.server_port, server.root), flush=True)
        if port_file:
            write_port_file(port_file, server.server_port)
            port_files.append(port_file)

    stop = threading.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stop.set())
    threads = [threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                                daemon=True) for server in servers]
    for thread in threads:
        thread.start()
    while not stop.wait(1.0):
        if options.parent_pid and not _alive(options.parent_pid):
            # The test wrapper that started this server was killed (a test
            # timeout, say); a server left running would outlive every test.
            break
    for server in servers:
        server.shutdown()
        server.server_close()
    for port_file in port_files:
        # A port file left behind would tell the next reader that a server
        # is listening there.
        if os.path.exists(port_file):
            os.remove(port_file)
    journal.close()
    return 0
