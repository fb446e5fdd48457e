#!/usr/bin/env python3
"""Reads dtfind's output in every format back with Python's own parsers and compares it,
byte for byte, with the files that were stored.

usage: check_rows.py EXPECTED TSV CSV JSON PATHS NULL

EXPECTED holds one JSON object per stored row: computer, dir_b64, name_b64, ext_b64
(the exact bytes in base64), size, date, time. The other files are dtfind's standard
output for --format tsv, csv, json, paths and null of the same search. Exit status 0 when
every format gives back exactly the stored rows, 1 with the differences on stderr.
"""
import base64
import csv
import io
import json
import re
import sys

failures = []


def fail(text):
    failures.append(text)


def load_expected(path):
    rows = []
    with open(path, "rb") as f:
        for line in f.read().splitlines():
            o = json.loads(line)
            rows.append({
                "computer": o["computer"].encode(),
                "dir": base64.b64decode(o["dir_b64"]),
                "name": base64.b64decode(o["name_b64"]),
                "extension": base64.b64decode(o["ext_b64"]),
                "size": int(o["size"]),
                "date": o["date"],
                "time": o["time"],
            })
    return rows


def key(row):
    return (row["computer"], row["dir"], row["name"], row["extension"], row["size"], row["date"], row["time"])


TSV_ESCAPE = re.compile(rb"\\(t|n|r|\\|x[0-9A-F]{2})")


def tsv_unescape(field):
    # Nothing but the escapes may follow a backslash, and no raw control byte may remain.
    if re.search(rb"[\x00-\x08\x0b-\x1f\x7f]", field):
        fail("tsv: raw control byte in %r" % field)
    rest = TSV_ESCAPE.sub(b"", field)
    if b"\\" in rest:
        fail("tsv: stray backslash in %r" % field)

    def one(m):
        e = m.group(1)
        return {b"t": b"\t", b"n": b"\n", b"r": b"\r", b"\\": b"\\"}.get(e) or bytes([int(e[1:], 16)])

    return TSV_ESCAPE.sub(one, field)


def check_tsv(data):
    rows = []
    if data and not data.endswith(b"\n"):
        fail("tsv: no line feed at the end")
    for line in data.split(b"\n")[:-1]:
        fields = line.split(b"\t")
        if len(fields) != 7:
            fail("tsv: %d fields in %r" % (len(fields), line))
            continue
        # C1 controls must not reach the terminal: in UTF-8 text they are U+0080..U+009F.
        for fld in fields:
            try:
                text = fld.decode("utf-8")
                if re.search("[\x80-\x9f]", text):
                    fail("tsv: raw C1 control in %r" % fld)
            except UnicodeDecodeError:
                if re.search(rb"[\x80-\x9f]", fld):
                    fail("tsv: raw byte 0x80..0x9F in non-UTF-8 field %r" % fld)
        c, d, n, e = (tsv_unescape(f) for f in fields[:4])
        rows.append((c, d, n, e, int(fields[4]), fields[5].decode(), fields[6].decode()))
    return rows


def check_csv(data):
    text = data.decode("utf-8", "surrogateescape")
    reader = csv.reader(io.StringIO(text, newline=""), strict=True)
    rows = []
    lines = list(reader)
    if not lines or lines[0] != ["computer", "dir", "name", "extension", "size", "date", "time", "path"]:
        fail("csv: header %r" % (lines[:1],))
        return rows
    for r in lines[1:]:
        if len(r) != 8:
            fail("csv: %d fields in %r" % (len(r), r))
            continue
        b = [x.encode("utf-8", "surrogateescape") for x in r]
        if b[7] != b[1] + b[2]:
            fail("csv: path %r is not dir + name" % b[7])
        rows.append((b[0], b[1], b[2], b[3], int(r[4]), r[5], r[6]))
    if not data.endswith(b"\r\n"):
        fail("csv: records do not end with CRLF")
    return rows


def check_json(data):
    rows = []
    for line in data.split(b"\n")[:-1]:
        o = json.loads(line)  # raises on anything that is not one JSON text
        names = list(o.keys())
        want = ["computer", "dir", "name", "extension", "size", "date", "time", "path"]
        if names[:8] != want or names[8:] not in ([], ["path_b64"]):
            fail("json: fields %r" % names)
            continue
        if not isinstance(o["size"], int):
            fail("json: size %r is not a number" % o["size"])
        raw = None
        if "path_b64" in o:
            raw = base64.b64decode(o["path_b64"], validate=True)
            try:
                raw.decode("utf-8")
                fail("json: path_b64 for a valid UTF-8 path %r" % raw)
            except UnicodeDecodeError:
                pass
            if o["path"] != raw.decode("utf-8", "replace"):
                fail("json: path %r does not carry U+FFFD for the bad bytes of %r" % (o["path"], raw))
        else:
            raw = o["path"].encode("utf-8")
        rows.append((o, raw))
    return rows


def main():
    exp_file, tsv_file, csv_file, json_file, paths_file, null_file = sys.argv[1:7]
    expected = load_expected(exp_file)
    read = lambda p: open(p, "rb").read()

    # The null format splits without ambiguity: it gives the order of the rows.
    null_data = read(null_file)
    if null_data and not null_data.endswith(b"\0"):
        fail("null: not ended by NUL")
    order = null_data.split(b"\0")[:-1]
    want_paths = sorted(r["dir"] + r["name"] for r in expected)
    if sorted(order) != want_paths:
        fail("null: paths %r, stored %r" % (sorted(order), want_paths))
    if read(paths_file) != b"".join(p + b"\n" for p in order):
        fail("paths: not the stored paths, one per line, in the order of null")

    by_path = {r["dir"] + r["name"]: r for r in expected}
    want = [key(by_path[p]) for p in order if p in by_path]

    got = check_tsv(read(tsv_file))
    if got != want:
        fail("tsv: rows differ:\n got  %r\n want %r" % (got, want))
    got = check_csv(read(csv_file))
    if got != want:
        fail("csv: rows differ:\n got  %r\n want %r" % (got, want))
    jrows = check_json(read(json_file))
    if [raw for _, raw in jrows] != order:
        fail("json: paths %r, null gave %r" % ([raw for _, raw in jrows], order))
    for o, raw in jrows:
        r = by_path.get(raw)
        if r is None:
            continue
        for field in ("computer", "dir", "name", "extension"):
            if o[field] != r[field].decode("utf-8", "replace"):
                fail("json: %s %r, stored %r" % (field, o[field], r[field]))
        if (o["size"], o["date"], o["time"]) != (r["size"], r["date"] or None, r["time"] or None):
            fail("json: size/date/time %r" % ((o["size"], o["date"], o["time"]),))

    for f in failures:
        print(f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
