#!/usr/bin/env python3
"""An OAuth 2.0 token service for the delivery checks, HTTPS on loopback.

Grants: client credentials (client id and secret in the body or as HTTP Basic), refresh
tokens that rotate (each use returns a new one and retires the old), and the device
authorization grant with an approval switch. RFC 7662 introspection for the mail server.
Control requests (POST /control/NAME) let a check approve a device login, expire or revoke
tokens, and read the counters. Test tooling only: every token lives in memory.

usage: token_service.py PORT CERT KEY [PORT2 CERT2 KEY2]
  the second pair, when given, serves the same service with another certificate (one that
  names another host, for the refusal check).
"""
import base64
import json
import secrets
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CLIENT_ID = "postvane-test"
CLIENT_SECRET = "s3cret-of-the-client"
USER = "report@postvane.test"

lock = threading.Lock()
state = {
    "access": {},  # token -> {"expires": t, "active": bool, "scope": s}
    "refresh": {},  # token -> True while valid
    "device": {},  # device_code -> {"approved": bool, "user_code": s, "polls": n}
    "lifetime": 3600,
    "counts": {"token": 0, "client_credentials": 0, "refresh_token": 0, "device_code": 0,
               "introspect": 0, "basic": 0, "slow_down_sent": 0},
    "slow_down_once": False,
}


def new_access(scope):
    token = "at-" + secrets.token_urlsafe(24)
    state["access"][token] = {"expires": time.time() + state["lifetime"], "active": True,
                              "scope": scope}
    return token


def new_refresh():
    token = "rt-" + secrets.token_urlsafe(24)
    state["refresh"][token] = True
    return token


class Handler(BaseHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("token_service: " + (fmt % args) + "\n")

    def reply(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def error(self, status, error, description=""):
        body = {"error": error}
        if description:
            body["error_description"] = description
        self.reply(status, body)

    def client(self, form):
        header = self.headers.get("Authorization", "")
        if header.startswith("Basic "):
            state["counts"]["basic"] += 1
            user, _, password = base64.b64decode(header[6:]).decode().partition(":")
            return urllib.parse.unquote_plus(user), urllib.parse.unquote_plus(password)
        return form.get("client_id", ""), form.get("client_secret", "")

    def do_POST(self):
        length = min(int(self.headers.get("Content-Length", "0")), 65536)
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
        path = self.path.split("?")[0]
        with lock:
            if path == "/token":
                self.token(form)
            elif path == "/device":
                self.device(form)
            elif path == "/introspect":
                self.introspect(form)
            elif path.startswith("/control/"):
                self.control(path[len("/control/"):], form)
            else:
                self.error(404, "not_found")

    def token(self, form):
        counts = state["counts"]
        counts["token"] += 1
        grant = form.get("grant_type", "")
        client_id, client_secret = self.client(form)
        scope = form.get("scope", "")
        if client_id != CLIENT_ID:
            return self.error(401, "invalid_client", "unknown client")
        if grant == "client_credentials":
            counts["client_credentials"] += 1
            if client_secret != CLIENT_SECRET:
                return self.error(401, "invalid_client", "wrong client secret")
            return self.reply(200, {"access_token": new_access(scope), "token_type": "Bearer",
                                    "expires_in": state["lifetime"], "scope": scope})
        if grant == "refresh_token":
            counts["refresh_token"] += 1
            old = form.get("refresh_token", "")
            if not state["refresh"].get(old):
                return self.error(400, "invalid_grant", "the refresh token is revoked")
            state["refresh"][old] = False  # rotated: the old one is spent
            return self.reply(200, {"access_token": new_access(scope), "token_type": "Bearer",
                                    "expires_in": state["lifetime"],
                                    "refresh_token": new_refresh(), "scope": scope})
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            counts["device_code"] += 1
            entry = state["device"].get(form.get("device_code", ""))
            if entry is None:
                return self.error(400, "invalid_grant", "unknown device code")
            entry["polls"] += 1
            if state["slow_down_once"]:
                state["slow_down_once"] = False
                counts["slow_down_sent"] += 1
                return self.error(400, "slow_down")
            if entry.get("denied"):
                return self.error(400, "access_denied", "the user said no")
            if not entry["approved"]:
                return self.error(400, "authorization_pending")
            del state["device"][form["device_code"]]
            return self.reply(200, {"access_token": new_access(entry["scope"]),
                                    "token_type": "Bearer", "expires_in": state["lifetime"],
                                    "refresh_token": new_refresh(), "scope": entry["scope"]})
        return self.error(400, "unsupported_grant_type")

    def device(self, form):
        if form.get("client_id") != CLIENT_ID:
            return self.error(401, "invalid_client")
        code = secrets.token_urlsafe(16)
        user_code = "WDJB-MJHT"
        state["device"][code] = {"approved": False, "user_code": user_code, "polls": 0,
                                 "scope": form.get("scope", "")}
        self.reply(200, {"device_code": code, "user_code": user_code,
                         "verification_uri": "https://login.postvane.test/device",
                         "expires_in": 120, "interval": 1})

    def introspect(self, form):
        state["counts"]["introspect"] += 1
        entry = state["access"].get(form.get("token", ""))
        if not entry or not entry["active"] or entry["expires"] < time.time():
            return self.reply(200, {"active": False})
        self.reply(200, {"active": True, "username": USER, "scope": entry["scope"],
                         "client_id": CLIENT_ID, "token_type": "Bearer",
                         "exp": int(entry["expires"])})

    def control(self, name, form):
        if name == "approve":
            for entry in state["device"].values():
                entry["approved"] = True
        elif name == "deny":
            for entry in state["device"].values():
                entry["denied"] = True
        elif name == "slow-down-once":
            state["slow_down_once"] = True
        elif name == "lifetime":
            state["lifetime"] = int(form.get("seconds", "3600"))
        elif name == "revoke-access":
            for entry in state["access"].values():
                entry["active"] = False
        elif name == "revoke-refresh":
            for token in state["refresh"]:
                state["refresh"][token] = False
        elif name == "refresh-valid":
            return self.reply(200, {"valid": bool(state["refresh"].get(form.get("token", "")))})
        elif name == "pending-logins":
            return self.reply(200, {"pending": len(state["device"])})
        elif name != "counts":
            return self.error(404, "not_found")
        self.reply(200, dict(state["counts"]))


def serve(port, cert, key):
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    args = sys.argv[1:]
    threads = []
    for i in range(0, len(args), 3):
        t = threading.Thread(target=serve, args=(int(args[i]), args[i + 1], args[i + 2]),
                             daemon=True)
        t.start()
        threads.append(t)
    for t in threads:
        t.join()
