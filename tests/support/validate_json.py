#!/usr/bin/env python3
"""Validates JSON documents against a JSON Schema (draft 2020-12).

Usage: validate_json.py SCHEMA FILE...  Exit status 0 when every file parses
and validates, 1 otherwise (each fault on one line), 3 when the jsonschema
module is missing (Debian: python3-jsonschema).
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(3)

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
faults = 0
for path in sys.argv[2:]:
    try:
        with open(path, encoding="utf-8") as f:
            document = json.load(f)
    except ValueError as e:
        print(f"{path}: does not parse: {e}")
        faults += 1
        continue
    for error in validator.iter_errors(document):
        where = "/".join(str(p) for p in error.absolute_path)
        print(f"{path}: {where}: {error.message[:300]}")
        faults += 1
sys.exit(1 if faults else 0)
