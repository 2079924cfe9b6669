#!/usr/bin/python3
# The exchange server's programs as the client's tests script them (run as edit.cgi and
# retrieve.cgi under lighttpd): uploads in batches up to a limit, changes refused alone, access
# ids it does not know, a server that takes the access request only as a GET, a download that
# trickles. The test's settings are in $STATE/config.json; every request is logged, one line
# each, to $STATE/requests.log.
import json
import os
import sys
import time
import urllib.parse

STATE = os.environ["STATE"]
CONFIG = json.load(open(os.path.join(STATE, "config.json")))
METHOD = os.environ.get("REQUEST_METHOD", "")
SCRIPT = os.path.basename(os.environ.get("SCRIPT_NAME", ""))


def log(text):
    with open(os.path.join(STATE, "requests.log"), "a") as out:
        out.write(text + "\n")


def counter(name, start):
    path = os.path.join(STATE, name)
    value = int(open(path).read()) if os.path.exists(path) else start
    open(path, "w").write(str(value + 1))
    return value


def reply(status, headers, body=""):
    head = "Status: %s\r\n" % status
    head += "".join("%s: %s\r\n" % header for header in headers)
    sys.stdout.buffer.write((head + "\r\n" + body).encode("utf-8"))


def form():
    if METHOD == "POST":
        length = int(os.environ.get("CONTENT_LENGTH") or 0)
        text = sys.stdin.buffer.read(length).decode("utf-8")
    else:
        text = os.environ.get("QUERY_STRING", "")
    return {k: v[0] for k, v in urllib.parse.parse_qs(text, keep_blank_values=True).items()}


def retrieve():
    seconds = CONFIG.get("trickle_seconds", 0)
    log("GET retrieve")
    sys.stdout.buffer.write(b"Status: 200 OK\r\nContent-Type: text/plain\r\n\r\n")
    sys.stdout.flush()
    for _ in range(seconds * 2):
        sys.stdout.buffer.write(b" ")
        sys.stdout.flush()
        time.sleep(0.5)
    sys.stdout.buffer.write(b"s|NEW|1|1|||One.\r\n")


def request_access():
    if METHOD == "POST" and CONFIG.get("access_by_get_only"):
        log("POST request_access 405")
        return reply("405 Method Not Allowed", [("Allow", "GET")], "Use GET\r\n")
    number = counter("next_access_id", 100)
    log("%s request_access %d" % (METHOD, number))
    reply("200 OK", [("Pellora", "access_id=%d" % number)])


def add_deltas(fields):
    lines = fields["messages"].split("\r\n")
    access_id = int(fields["access_id"])
    limit = CONFIG.get("upload_lines", 100)
    log("POST add_deltas %d %d" % (access_id, len(lines)))
    if len(lines) > limit:
        return reply("413 Payload Too Large", [("Pellora-Limit", "upload-lines=%d" % limit)])
    if access_id in CONFIG.get("unknown_ids", []):
        return reply("200 OK", [("Pellora", "new=0 accepted=%d appended=0" % len(lines)),
                                ("Pellora-Refused", "Unknown access id"),
                                ("Pellora-Access-Id", "unknown")])
    stored, refused = [], []
    for position, line in enumerate(lines, 1):
        action, group, server_id, own_id, text = line.split("|", 4)
        if action != "NEW" and CONFIG.get("refuse_word", "\0") in text:
            refused.append(str(position))
            continue
        server_id = server_id or str(counter("next_server_id", 500))
        stored.append("t%d|%s|%s|%s||%s|%s" % (access_id, action, group, server_id, own_id, text))
    headers = [("Pellora", "new=%d accepted=%d appended=%d" %
                (len(stored), len(lines), len(stored)))]
    if refused:
        headers += [("Pellora-Refused-Lines", ",".join(refused)),
                    ("Pellora-Refused", "Not yours to change")]
    reply("200 OK", headers, "".join(line + "\r\n" for line in stored))


if SCRIPT == "retrieve.cgi":
    retrieve()
else:
    FIELDS = form()
    if FIELDS.get("action") == "request_access":
        request_access()
    else:
        add_deltas(FIELDS)
