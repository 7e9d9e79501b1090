#!/usr/bin/env python3
"""zarn60 schema is the program's own rule, checked both ways with a JSON Schema validator:
every document zarn60 emits validates, and every document is valid exactly when zarn60
takes it (zarn60 encode reads it, or refuses it with exit 3).

    schema_check.py ZARN60 ZARN60_SIM
"""
import json
import os
import random
import subprocess
import sys
import tempfile
import time

from jsonschema import Draft202012Validator

zarn60, sim = sys.argv[1], sys.argv[2]
failures = []


def run(args, data=None):
    return subprocess.run([zarn60] + args, input=data, capture_output=True, timeout=60)


schema = json.loads(run(["schema"]).stdout)
Draft202012Validator.check_schema(schema)
validator = Draft202012Validator(schema)


def valid(doc):
    return validator.is_valid(doc)


# Documents the program emits: decode of images with every byte value somewhere, and show
# and save of a simulated reader.
emitted = []
rng = random.Random(25)
images = [bytes(56), bytes([0xFF] * 56), bytes(range(56)), bytes(range(200, 256)),
          bytes([0x3C] * 56)] + [bytes(rng.randrange(256) for _ in range(56)) for _ in range(200)]
for image in images:
    r = run(["decode", "-", "--json"], image)
    if r.returncode != 0:
        failures.append("decode %s: %s" % (image.hex(), r.stderr.decode()))
        continue
    emitted.append(("decode " + image.hex(), json.loads(r.stdout)))

with tempfile.TemporaryDirectory() as work:
    reader = subprocess.Popen([sim, "--serial"], stdout=subprocess.PIPE, text=True)
    try:
        line = reader.stdout.readline()
        port = line.strip().split("=", 1)[1]
        for args in (["show", "--json"], ["show", "--json", "--raw"], ["save", "-", "--format", "json"]):
            r = run(args + ["--port", port])
            if r.returncode != 0:
                failures.append("%s: %s" % (" ".join(args), r.stderr.decode()))
                continue
            emitted.append((" ".join(args), json.loads(r.stdout)))
    finally:
        reader.terminate()
        reader.wait()

for what, doc in emitted:
    errors = [e.message for e in validator.iter_errors(doc)]
    if errors:
        failures.append("emitted by %s, refused by the schema: %s" % (what, errors[:3]))
    # What the program emits it also takes.
    r = run(["encode", "-", "-o", "-"], json.dumps(doc).encode())
    if r.returncode != 0:
        failures.append("emitted by %s, refused by encode: %s" % (what, r.stderr.decode()))

# Documents a person may write: the schema and the program agree on each.
rows = [
    {}, {"beep": True}, {"$schema": "x", "$raw": "01 02", "$anything": [1]},
    {"beep": 1}, {"beep": "yes"}, {"beeper": True}, {"track1_output": 2},
    {"track1_output": 256}, {"track1_output": -1}, {"track2_start": 255},
    {"track2_start": 256}, {"track2_start": 100.0}, {"track2_start": 100.5},
    {"track2_start": "1"}, {"track2_start": None}, {"track1_terminator": "crlf"},
    {"track1_terminator": "CR"}, {"track1_terminator": 9}, {"packet_terminator": 300},
    {"track1_start_sentinel": ""}, {"track1_start_sentinel": "%"},
    {"track1_start_sentinel": "ab"}, {"track1_start_sentinel": "<STX>"},
    {"track1_start_sentinel": "<stx>"}, {"track1_start_sentinel": "<x80>"},
    {"track1_start_sentinel": "<<"}, {"track1_start_sentinel": "<"},
    {"track1_start_sentinel": "<FOO>"}, {"track1_start_sentinel": "<STX><ETX>"},
    {"track1_start_sentinel": "\u00e9"}, {"track1_start_sentinel": "\t"},
    {"track1_start_sentinel": 37}, {"prefix": "A" * 15}, {"prefix": "A" * 16},
    {"prefix": "<STX>" + "A" * 14}, {"prefix": "<STX>" + "A" * 15}, {"prefix": "<<" * 15},
    {"prefix": "<<" * 16}, {"prefix": "<x00>AB"}, {"prefix": "a<b"}, {"prefix": "a>b"},
    {"suffix": "XY<ETX>"}, {"suffix": "\u00ff"}, {"suffix": ["A"]},
    {"prefix_on": True}, {"prefix_on": 1}, {"option_bits_unnamed": 48},
    {"option_bits_unnamed": 8}, {"option_bits_unnamed": 128},
    {"read_bytes_13_16": [1, 2, 3, 4]}, {"read_bytes_13_16": [1, 2, 3]},
    {"read_bytes_13_16": [1, 2, 3, 256]}, {"read_byte_55": 7}, {"usb_speed": 7},
    {"usb_speed": 8}, {"usb_hid_mode": True}, {"usb_hid_mode": 0},
    [], "beep", 5, None,
]
for doc in rows:
    r = run(["encode", "-", "-o", "-"], json.dumps(doc).encode())
    if r.returncode not in (0, 3):
        failures.append("%s: encode ended with %d: %s" % (json.dumps(doc), r.returncode,
                                                           r.stderr.decode()))
        continue
    taken = r.returncode == 0
    if valid(doc) != taken:
        failures.append("%s: the program %s it, the schema %s it" % (
            json.dumps(doc), "takes" if taken else "refuses",
            "takes" if valid(doc) else "refuses"))

for f in failures:
    print("schema_check: " + f, file=sys.stderr)
print("schema_check: %d emitted documents, %d written ones, %d failures" % (
    len(emitted), len(rows), len(failures)))
sys.exit(1 if failures else 0)
