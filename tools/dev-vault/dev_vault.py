#!/usr/bin/env python3
"""A Conjur-compatible stand-in for development and tests (standard library only).

Serves the two calls the vault accessor makes, on loopback, over HTTP and/or HTTPS:
  POST /authn/{account}/{login}/authenticate   body = API key; login is host%2F{id}
  GET  /secrets/{account}/variable/{id}        Authorization: Token token="<base64 token>"
and answers like the real vault (see README.md), with faults that tests can script.

When ready it prints one JSON line on stdout: {"http_port": N, "https_port": N, "ca_file": ...}.
"""

import argparse
import base64
import json
import os
import secrets
import socket
import ssl
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote

HERE = os.path.dirname(os.path.abspath(__file__))


class Vault:
    """The fixture: accounts with hosts and variables, and the scripted faults."""

    def __init__(self, fixture):
        self.accounts = fixture.get("accounts", {})
        self.login_status = fixture.get("login_status")  # answer every login with this status
        self.login_empty_body = bool(fixture.get("login_empty_body", False))
        self.stall = bool(fixture.get("stall", False))  # never answer anything
        self.tokens = {}  # base64 token -> (account, login)
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.record_file = None
        self.connection_ids = iter(range(1, 1 << 62))

    def account(self, name):
        return self.accounts.get(name)

    def issue_token(self, account, login):
        document = json.dumps({
            "protected": base64.urlsafe_b64encode(b'{"alg":"conjur.org/slosilo/v2"}').decode(),
            "payload": base64.urlsafe_b64encode(json.dumps(
                {"sub": login, "iat": int(time.time()), "exp": int(time.time()) + 480}).encode()).decode(),
            "signature": secrets.token_urlsafe(32),
        }, separators=(",", ":")).encode()
        encoded = base64.b64encode(document).decode()
        with self.lock:
            self.tokens[encoded] = (account, login)
        return document, encoded

    def token_owner(self, encoded):
        with self.lock:
            return self.tokens.get(encoded)

    def next_connection(self):
        with self.lock:
            return next(self.connection_ids)

    def record(self, entry):
        if self.record_file is None:
            return
        with self.lock:
            self.record_file.write(json.dumps(entry) + "\n")
            self.record_file.flush()


def variable_value(variable):
    """A variable is a text, or {"value": text} / {"base64": bytes} with optional "status"/"stall"."""
    if isinstance(variable, str):
        return variable.encode()
    if "base64" in variable:
        return base64.b64decode(variable["base64"])
    return variable.get("value", "").encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive possible, so reuse of a connection would show
    server_version = "dev-vault"
    sys_version = ""

    def setup(self):
        super().setup()
        self.connection_id = self.server.vault.next_connection()

    def log_message(self, format, *args):  # noqa: A002 - quiet unless asked
        if self.server.verbose:
            sys.stderr.write("dev-vault: " + (format % args) + "\n")

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def answer(self, status, body=b"", content_type=None, extra=()):
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def stall_forever(self):
        self.server.vault.stop.wait()
        self.close_connection = True

    def note(self, body):
        self.server.vault.record({
            "scheme": self.server.scheme,
            "connection": self.connection_id,
            "peer_port": self.client_address[1],
            "method": self.command,
            "path": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body_length": len(body),
            "body_base64": base64.b64encode(body).decode(),
        })

    def do_POST(self):
        body = self.read_body()
        self.note(body)
        vault = self.server.vault
        parts = self.path.split("/")
        # ['', 'authn', account, login, 'authenticate']
        if len(parts) != 5 or parts[1] != "authn" or parts[4] != "authenticate":
            return self.answer(404)
        if vault.stall:
            return self.stall_forever()
        if vault.login_status is not None and vault.login_status != 200:
            return self.answer(int(vault.login_status))
        account_name, login = unquote(parts[2]), unquote(parts[3])
        account = vault.account(account_name)
        hosts = (account or {}).get("hosts", {})
        if not login.startswith("host/") or not body or hosts.get(login[len("host/"):]) != body.decode("latin-1"):
            return self.answer(401)
        if vault.login_empty_body:
            return self.answer(200, b"", "application/json")
        document, encoded = vault.issue_token(account_name, login)
        wanted = [item.strip().lower() for item in self.headers.get("Accept-Encoding", "").split(",")]
        if "base64" in wanted:
            return self.answer(200, encoded.encode(), "text/plain", [("Content-Encoding", "base64")])
        return self.answer(200, document, "application/json")

    def do_GET(self):
        self.note(b"")
        vault = self.server.vault
        parts = self.path.split("/")
        # ['', 'secrets', account, 'variable', id]
        if len(parts) != 5 or parts[1] != "secrets" or parts[3] != "variable":
            return self.answer(404)
        if vault.stall:
            return self.stall_forever()
        account_name, variable_id = unquote(parts[2]), unquote(parts[4])
        authorization = self.headers.get("Authorization", "")
        prefix, suffix = 'Token token="', '"'
        token = authorization[len(prefix):-len(suffix)] if (
            authorization.startswith(prefix) and authorization.endswith(suffix)) else ""
        owner = vault.token_owner(token)
        if owner is None or owner[0] != account_name:
            return self.answer(401)
        variable = (vault.account(account_name) or {}).get("variables", {}).get(variable_id)
        if isinstance(variable, dict) and variable.get("stall"):
            return self.stall_forever()
        if isinstance(variable, dict) and "status" in variable:
            return self.answer(int(variable["status"]))
        if variable is None:
            message = "CONJ00076E Variable %s:variable:%s is empty or not found." % (account_name, variable_id)
            body = json.dumps({"error": {"code": "not_found", "message": message,
                                         "target": "variable", "details": {"code": "not_found",
                                                                           "target": "id",
                                                                           "message": variable_id}}})
            return self.answer(404, body.encode(), "application/json")
        return self.answer(200, variable_value(variable), "application/octet-stream")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, vault, scheme, verbose):
        super().__init__(("127.0.0.1", port), Handler)
        self.vault = vault
        self.scheme = scheme
        self.verbose = verbose


def make_certificates(tls_dir):
    subprocess.run([os.path.join(HERE, "make-test-ca.sh"), tls_dir], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(tls_dir, "ca.pem"), os.path.join(tls_dir, "server.pem"), os.path.join(tls_dir, "server.key")


def parse_pair(text):
    name, _, value = text.partition("=")
    return name, value


def build_fixture(args):
    fixture = {}
    if args.fixture:
        with open(args.fixture, encoding="utf-8") as handle:
            fixture = json.load(handle)
    account = fixture.setdefault("accounts", {}).setdefault(args.account, {}) if (
        args.host or args.variable or args.status) else None
    for host, key in map(parse_pair, args.host):
        account.setdefault("hosts", {})[host] = key
    for name, value in map(parse_pair, args.variable):
        account.setdefault("variables", {})[name] = value
    for name, status in map(parse_pair, args.status):
        variables = account.setdefault("variables", {})
        current = variables.get(name, "")
        variables[name] = dict(current if isinstance(current, dict) else {"value": current}, status=int(status))
    if args.login_status is not None:
        fixture["login_status"] = args.login_status
    if args.login_empty_body:
        fixture["login_empty_body"] = True
    if args.stall:
        fixture["stall"] = True
    return fixture


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--http-port", type=int, default=None, help="serve plain HTTP on this port (0 = free)")
    parser.add_argument("--https-port", type=int, default=None, help="serve HTTPS on this port (0 = free)")
    parser.add_argument("--tls-dir", help="where the throwaway CA and server certificate live (made if missing)")
    parser.add_argument("--fixture", help="JSON file: accounts, hosts, variables, faults")
    parser.add_argument("--account", default="dev", help="account for --host/--variable/--status")
    parser.add_argument("--host", action="append", default=[], help="ID=API_KEY (repeatable)")
    parser.add_argument("--variable", action="append", default=[], help="ID=VALUE (repeatable)")
    parser.add_argument("--status", action="append", default=[], help="ID=STATUS: answer that variable so")
    parser.add_argument("--login-status", type=int, help="answer every login with this status")
    parser.add_argument("--login-empty-body", action="store_true", help="accepted logins answer 200 with no body")
    parser.add_argument("--stall", action="store_true", help="accept requests and never answer")
    parser.add_argument("--record", help="append one JSON line per request to this file")
    parser.add_argument("--verbose", action="store_true", help="access log on stderr")
    args = parser.parse_args()
    if args.http_port is None and args.https_port is None:
        parser.error("give --http-port and/or --https-port")
    if args.https_port is not None and not args.tls_dir:
        parser.error("--https-port needs --tls-dir")

    vault = Vault(build_fixture(args))
    if args.record:
        vault.record_file = open(args.record, "a", encoding="utf-8")

    servers, ready = [], {"http_port": None, "https_port": None, "ca_file": None}
    if args.http_port is not None:
        server = Server(args.http_port, vault, "http", args.verbose)
        ready["http_port"] = server.server_address[1]
        servers.append(server)
    if args.https_port is not None:
        ca_file, cert_file, key_file = make_certificates(args.tls_dir)
        server = Server(args.https_port, vault, "https", args.verbose)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert_file, key_file)
        # The handshake runs in the request thread, so one slow client cannot block accepts.
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        ready["https_port"] = server.server_address[1]
        ready["ca_file"] = ca_file
        servers.append(server)

    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for thread in threads:
        thread.start()
    print(json.dumps(ready), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        vault.stop.set()
        for server in servers:
            server.shutdown()


if __name__ == "__main__":
    socket.setdefaulttimeout(None)
    main()
