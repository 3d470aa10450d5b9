#!/usr/bin/python3
"""Checks each line of standard input against a JSON schema: valid UTF-8, one JSON object, valid by the schema.

usage: validate_json.py SCHEMA.json < LINES

Prints one line per problem, naming the input line; exits 1 when there was one.
"""

import json
import sys

import jsonschema


def main():
    with open(sys.argv[1], encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema, format_checker=jsonschema.FormatChecker())
    problems = 0
    for number, raw in enumerate(sys.stdin.buffer.read().split(b"\n")[:-1], 1):
        try:
            document = json.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as error:
            print(f"line {number}: not JSON in UTF-8: {error}")
            problems += 1
            continue
        for error in validator.iter_errors(document):
            print(f"line {number}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
            problems += 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
