#!/usr/bin/python3
"""Checks the status decoder against an independent reading of the same documents.

The reference is Python's json module, held to standard JSON, plus the record's rules written out here
a second time: which keys a status record and a waiting session need, their types, all-or-nothing
lists, whole numbers within signed 64 bits, and the timestamp rule. A few thousand documents are made
from a fixed seed, valid ones and near misses, and the decoder's verdict on each (through the tool built
next to this script) must be the reference's. Usage: status_differential_test.py TOOL
"""

import json
import random
import re
import subprocess
import sys
import tempfile

SEED = 11
MUTANTS_PER_DOCUMENT = 3
MAX_DEPTH = 1024  # the decoder's limit on nesting; the outermost object counts as one
INT64_MIN, INT64_MAX = -(2 ** 63), 2 ** 63 - 1
# What an unreadable timestamp becomes: 0001-01-01T00:00:00Z, in microseconds since 1970.
DISTANT_PAST = -62135596800 * 1_000_000


class Refused(Exception):
    """The document is not a status record the program accepts."""


# ---------------------------------------------------------------------------------------------------
# The reference reader.

class Number:
    """A JSON number kept as written: the reference decides on its exact decimal value."""

    def __init__(self, text):
        self.text = text


def refuse_constant(name):
    raise Refused("not JSON: " + name)


class Members:
    """An object's members in order, duplicates kept: every one of them must be valid for the document
    to be, even those a later duplicate hides."""

    def __init__(self, pairs):
        self.pairs = pairs

    def record(self):
        # Duplicate keys: the decoder lets the last occurrence of a key count, whatever came before it
        # (an earlier one only has to be valid JSON). A dict built in order does just that.
        return dict(self.pairs)


SURROGATE = re.compile("[\ud800-\udfff]")


def check_text(value, depth=0):
    """Refuses what Python's json takes but the decoder does not: lone surrogates (from \\u escapes),
    and objects and arrays nested beyond the decoder's limit. `depth` counts the containers around."""
    if isinstance(value, str):
        if SURROGATE.search(value):
            raise Refused("lone surrogate")
    elif isinstance(value, (Members, list)):
        if depth + 1 > MAX_DEPTH:
            raise Refused("too deep")
        if isinstance(value, Members):
            for key, item in value.pairs:
                check_text(key)
                check_text(item, depth + 1)
        else:
            for item in value:
                check_text(item, depth + 1)


def parse(document):
    try:
        text = document.decode("utf-8")  # strict: no overlong forms, encoded surrogates or > U+10FFFF
    except UnicodeDecodeError:
        raise Refused("not UTF-8")
    if text.startswith("\ufeff"):  # JSON lets a reader ignore one byte order mark
        text = text[1:]
    try:
        value = json.loads(text, object_pairs_hook=Members, parse_constant=refuse_constant,
                           parse_int=Number, parse_float=Number)
    except (ValueError, RecursionError) as error:
        raise Refused("not JSON: %s" % error)
    check_text(value)
    return value


NUMBER = re.compile(r"(-?)([0-9]+)(?:\.([0-9]+))?(?:[eE]([+-]?)([0-9]+))?", re.ASCII)


def whole_int64(value):
    """The number's exact value when it is whole and fits signed 64 bits, worked out on its digits
    (Decimal refuses the widest exponents, and int() the longest digit strings)."""
    if not isinstance(value, Number):
        raise Refused("not a number")
    negative, whole, fraction, exponent_sign, exponent_digits = NUMBER.fullmatch(value.text).groups()
    fraction = fraction or ""
    exponent_digits = (exponent_digits or "0").lstrip("0") or "0"
    # Past 30 digits an exponent only says "far too large" or "far too small".
    exponent = int(exponent_digits) if len(exponent_digits) <= 30 else 10 ** 30
    exponent = (-exponent if exponent_sign == "-" else exponent) - len(fraction)
    digits = (whole + fraction).lstrip("0")
    if not digits:
        return 0
    significant = digits.rstrip("0")
    exponent += len(digits) - len(significant)
    if exponent < 0:
        raise Refused("a fraction")
    if len(significant) + exponent > 19:
        raise Refused("beyond 64 bits")
    number = int(significant) * 10 ** exponent
    number = -number if negative else number
    if not INT64_MIN <= number <= INT64_MAX:
        raise Refused("beyond 64 bits")
    return number


def days_from_civil(year, month, day):
    # Proleptic Gregorian days since 1970-01-01 (H. Hinnant's algorithm), year 0 included.
    year -= month <= 2
    era = year // 400
    year_of_era = year - era * 400
    day_of_year = (153 * (month + (-3 if month > 2 else 9)) + 2) // 5 + day - 1
    day_of_era = year_of_era * 365 + year_of_era // 4 - year_of_era // 100 + day_of_year
    return era * 146097 + day_of_era - 719468


def days_in_month(year, month):
    if month == 2:
        return 29 if year % 4 == 0 and (year % 100 != 0 or year % 400 == 0) else 28
    return 30 if month in (4, 6, 9, 11) else 31


TIMESTAMP = re.compile(
    r"([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\.([0-9]+))?(?:(Z)|([+-])([0-9]{2}):([0-9]{2}))",
    re.ASCII)


def timestamp(text):
    """RFC 3339 date-time, with or without fractional seconds, as microseconds since 1970; the distant
    past when the text is not one. The decoder's own choices within the rule: upper-case T and Z only,
    a leap second 60 counts as the next second, digits past microseconds are dropped."""
    match = TIMESTAMP.fullmatch(text)
    if not match:
        return DISTANT_PAST
    year, month, day, hour, minute, second = (int(match.group(i)) for i in range(1, 7))
    fraction, zulu, sign, offset_hours, offset_minutes = match.group(7, 8, 9, 10, 11)
    if not 1 <= month <= 12 or not 1 <= day <= days_in_month(year, month):
        return DISTANT_PAST
    if hour > 23 or minute > 59 or second > 60:
        return DISTANT_PAST
    offset = 0
    if not zulu:
        if int(offset_hours) > 23 or int(offset_minutes) > 59:
            return DISTANT_PAST
        offset = (int(offset_hours) * 60 + int(offset_minutes)) * (-1 if sign == "-" else 1)
    micros = int((fraction or "")[:6].ljust(6, "0"))
    seconds = days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset * 60
    return seconds * 1_000_000 + micros


def text_of(value):
    if not isinstance(value, str):
        raise Refused("not a string")
    return '"' + value.encode("utf-8").hex()


def optional_text(record, key):
    value = record.get(key)
    return "-" if value is None else text_of(value)


def required(record, key):
    if record.get(key) is None:
        raise Refused("%s missing or null" % key)
    return record[key]


def needs_you(entry):
    if not isinstance(entry, Members):
        raise Refused("a waiting session that is not an object")
    entry = entry.record()
    fields = [text_of(required(entry, "agent")), text_of(required(entry, "where"))]
    fields += [optional_text(entry, key) for key in ("detail", "session", "window", "run")]
    return "(" + ";".join(fields) + ")"


def optional_list(record, key, read):
    value = record.get(key)
    if value is None:
        return "-"
    if not isinstance(value, list):
        raise Refused("%s not a list" % key)
    return "[" + ",".join(read(item) for item in value) + "]"


def reference(document):
    """The canonical line the decoder's tool prints for the document, worked out independently."""
    try:
        record = parse(document)
        if not isinstance(record, Members):
            raise Refused("not an object")
        record = record.record()
        pid = whole_int64(required(record, "pid"))
        name = text_of(required(record, "name"))
        version = text_of(required(record, "version"))
        updated_at = required(record, "updated_at")
        if not isinstance(updated_at, str):
            raise Refused("updated_at not a string")
        relays = optional_list(record, "relays", text_of)
        clients = whole_int64(required(record, "clients"))
        last_error = optional_text(record, "last_error")
        sessions = optional_list(record, "needs_you", needs_you)
    except Refused:
        return "-"
    return "pid=%d name=%s version=%s updated=%d relays=%s clients=%d last_error=%s needs_you=%s" % (
        pid, name, version, timestamp(updated_at), relays, clients, last_error, sessions)


# ---------------------------------------------------------------------------------------------------
# The documents.

class Raw:
    """Text written into the document as it stands: a number's spelling, or a deliberate fault."""

    def __init__(self, text):
        self.text = text


class Obj:
    """An object as a list of members, so that keys may repeat and keep their order."""

    def __init__(self, members):
        self.members = members


def write_string(rng, value):
    if rng.random() < 0.5:
        return json.dumps(value, ensure_ascii=rng.random() < 0.5)
    # Some characters as \u escapes, upper or lower case hex, the rest as they are.
    out = ['"']
    for char in value:
        code = ord(char)
        if char in '"\\' or code < 0x20 or (rng.random() < 0.2 and code < 0x10000):
            out.append(("\\u%04x" if rng.random() < 0.5 else "\\u%04X") % code)
        elif rng.random() < 0.2 and code >= 0x10000:
            high, low = 0xD800 + ((code - 0x10000) >> 10), 0xDC00 + ((code - 0x10000) & 0x3FF)
            out.append("\\u%04x\\u%04x" % (high, low))
        else:
            out.append(char)
    out.append('"')
    return "".join(out)


def write(rng, value):
    blank = lambda: rng.choice(["", "", " ", "\n", "\t", "\r\n  "])
    if isinstance(value, Raw):
        return value.text
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return write_string(rng, value)
    if isinstance(value, list):
        return "[" + ",".join(blank() + write(rng, item) + blank() for item in value) + "]"
    if isinstance(value, Obj):
        return "{" + ",".join(blank() + write_string(rng, key) + blank() + ":" + blank() + write(rng, item)
                              for key, item in value.members) + blank() + "}"
    raise TypeError(value)


TEXTS = ["", "studio", "kivo", "1.4.2", "größe ✓", "😀 · …", "tab\there", "quote \" and \\ back",
         "\u0000nul", "\u007f\u0085", "\ufeffbom", "\u2028", "a" * 300, "é", "e\u0301"]


def some_text(rng):
    return rng.choice(TEXTS) if rng.random() < 0.8 else "".join(
        chr(rng.choice([rng.randint(0x20, 0x7e), rng.randint(0xa0, 0xd7ff), rng.randint(0xe000, 0xfffd),
                        rng.randint(0x10000, 0x10ffff)])) for _ in range(rng.randint(0, 8)))


INTEGERS = [0, 1, -1, 4242, INT64_MAX, INT64_MIN, INT64_MAX + 1, INT64_MIN - 1, 2 ** 64, 10 ** 30]
SPELLINGS = ["2.0", "1e3", "1E+3", "2.5", "-0", "-0.0", "0.0e5", "100e-2", "1.0000000000000001", "15e-1",
             "9223372036854775807.0", "922337203685477580.7e1", "92233720368547758070e-1", "1e19", "-1e18",
             "0.1e1", "1e-999999999999999999999", "1e999999999999999999999", "0e999999999999999999999",
             "-9223372036854775808", "-9.223372036854775808e18", "1" + "0" * 5000, "0." + "0" * 300 + "1"]


def some_integer(rng):
    if rng.random() < 0.3:
        return Raw(rng.choice(SPELLINGS))
    if rng.random() < 0.5:
        return rng.choice(INTEGERS)
    return rng.randint(-10 ** 6, 10 ** 6)


TIMESTAMPS = ["2025-01-31T12:34:56Z", "2025-01-31T12:34:56.123Z", "2025-01-31T12:34:56.123456789Z",
              "2025-01-31T13:34:56+01:00", "2025-01-31T10:04:56.5-02:30", "2024-02-29T00:00:00Z",
              "2025-02-29T00:00:00Z", "2025-01-31 12:34:56", "2025-01-31T12:34:56", "2025-01-31t12:34:56z",
              "2025-01-31T24:00:00Z", "2016-12-31T23:59:60Z", "2025-01-31T12:34:56.Z", "2025-01-31T12:34:56+0100",
              "2025-01-31T12:34:56+24:00", "2025-01-31T12:34:56-23:59", "0000-01-01T00:00:00Z",
              "9999-12-31T23:59:59.999999+00:00", "2025-13-01T00:00:00Z", "2025-04-31T00:00:00Z", "",
              "\u06622025-01-31T12:34:56Z", "2025-01-31T12:34:56Z "]


def some_timestamp(rng):
    if rng.random() < 0.7:
        return rng.choice(TIMESTAMPS)
    return "%04d-%02d-%02dT%02d:%02d:%02d%s%s" % (
        rng.randint(0, 9999), rng.randint(0, 13), rng.randint(0, 32), rng.randint(0, 24), rng.randint(0, 60),
        rng.randint(0, 61), rng.choice(["", ".", ".5", "." + "9" * rng.randint(1, 12)]),
        rng.choice(["Z", "+00:00", "-05:30", "+23:59", "+99:00", "z", ""]))


WRONG = [None, True, 3, Raw("2.5"), "text", [], Obj([]), ["a"]]


def maybe_wrong(rng, good, p=0.06):
    return rng.choice(WRONG) if rng.random() < p else good


def deep(rng, depth):
    opener = rng.choice(["[", '{"k":'])
    closer = "]" if opener == "[" else "}"
    return Raw(opener * depth + "0" + closer * depth)


def some_session(rng):
    members = []
    for key, needed in (("agent", True), ("where", True), ("detail", False), ("session", False),
                        ("window", False), ("run", False)):
        roll = rng.random()
        if needed and roll < 0.04:
            continue  # missing
        if not needed and roll < 0.3:
            continue  # absent
        value = None if (not needed and roll < 0.45) else some_text(rng)
        members.append((key, maybe_wrong(rng, value)))
    if rng.random() < 0.2:
        members.append(("extra", rng.choice([1, "x", None, Obj([("a", [])])])))
    rng.shuffle(members)
    return maybe_wrong(rng, Obj(members), 0.03)


def some_record(rng):
    members = [
        ("pid", maybe_wrong(rng, some_integer(rng))),
        ("name", maybe_wrong(rng, some_text(rng))),
        ("version", maybe_wrong(rng, some_text(rng))),
        ("updated_at", maybe_wrong(rng, some_timestamp(rng))),
        ("clients", maybe_wrong(rng, some_integer(rng))),
    ]
    roll = rng.random()
    if roll < 0.7:
        relays = [maybe_wrong(rng, some_text(rng), 0.03) for _ in range(rng.randint(0, 3))]
        members.append(("relays", maybe_wrong(rng, relays if roll < 0.6 else None)))
    if rng.random() < 0.5:
        members.append(("last_error", maybe_wrong(rng, rng.choice([None, some_text(rng)]))))
    roll = rng.random()
    if roll < 0.6:
        sessions = [some_session(rng) for _ in range(rng.randint(0, 3))]
        members.append(("needs_you", maybe_wrong(rng, sessions if roll < 0.5 else None)))
    # Keys the record does not know, some holding whatever JSON allows, deep or not.
    for _ in range(rng.randint(0, 2)):
        members.append((rng.choice(["extra", "Pid", "relays ", "needs-you", "\u00e9"]),
                        rng.choice([1, None, [1, [2, [3]]], Obj([("pid", "x")]), Raw("1e400"),
                                    deep(rng, rng.choice([10, MAX_DEPTH - 2, MAX_DEPTH - 1, MAX_DEPTH]))])))
    # Duplicates: a later key replaces an earlier one, bad or good.
    if rng.random() < 0.25:
        key, _ = rng.choice(members)
        members.insert(rng.randrange(len(members) + 1), (key, rng.choice(WRONG + [some_text(rng), some_integer(rng)])))
    # Required keys left out now and then.
    if rng.random() < 0.1:
        del members[rng.randrange(len(members))]
    rng.shuffle(members)
    return Obj(members)


# Bytes that break documents in the ways the decoder must notice: invalid UTF-8 (overlong, encoded
# surrogate, beyond U+10FFFF, cut short), a lone surrogate escape, controls, constants JSON lacks.
FAULTS = [b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82", b"\xff", b"\x80", b"\\ud800",
          b"\\udc00", b"\\ud800\\u0041", b"\x00", b"\x1f", b"\\x", b"\\u12", b"NaN", b"Infinity", b"-Infinity",
          b"\xef\xbb\xbf", b",", b":", b"{", b"}", b"[", b"]", b'"', b"\\", b"01", b"-", b".", b"e", b"1.",
          b"tru", b"nul", b" ", b"\t", b"\x0b", b"\xc2\xa0"]


def mutate(rng, document):
    kind = rng.randrange(6)
    at = rng.randrange(len(document) + 1)
    if kind == 0:
        return document[:at] + rng.choice(FAULTS) + document[at:]
    if kind == 1:
        return document[:at] + document[at + rng.randint(1, 3):]
    if kind == 2:
        return document[:at]
    if kind == 3:
        return document + rng.choice([b" {}", b"x", b"\x00", b"\n\n", b"]", b"\xef\xbb\xbf"])
    if kind == 4:
        # Inside a string: the first quote after the cut is where a string starts or ends.
        quote = document.find(b'"', at)
        if quote < 0:
            return document
        return document[:quote + 1] + rng.choice(FAULTS) + document[quote + 1:]
    return b"\xef\xbb\xbf" + document


def documents():
    rng = random.Random(SEED)
    made = [b"", b"[]", b'"status"', b"{}", b"null", b"\xef\xbb\xbf\xef\xbb\xbf{}", b"1"]
    for _ in range(1200):
        document = write(rng, some_record(rng)).encode("utf-8")
        made.append(document)
        for _ in range(MUTANTS_PER_DOCUMENT):
            made.append(mutate(rng, document))
    return made


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.setrecursionlimit(20000)  # the reference reads documents nested beyond the decoder's limit
    made = documents()
    with tempfile.NamedTemporaryFile(prefix="status-documents-") as file:
        for document in made:
            file.write(b"%d\n" % len(document) + document)
        file.flush()
        run = subprocess.run([sys.argv[1], file.name], capture_output=True, check=False)
    if run.returncode != 0:
        sys.exit("the decoder's tool failed with %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
    decoded = run.stdout.decode("ascii").split("\n")[:-1]
    if len(decoded) != len(made):
        sys.exit("the decoder's tool answered %d documents of %d" % (len(decoded), len(made)))
    differing = [(d, mine, theirs) for d, mine, theirs in zip(made, decoded, map(reference, made)) if mine != theirs]
    accepted = sum(1 for line in decoded if line != "-")
    print("%d documents, %d accepted, %d refused, %d differing" % (
        len(made), accepted, len(made) - accepted, len(differing)))
    for document, mine, theirs in differing[:5]:
        print("document: %r" % document[:400])
        print("  decoder:   %s" % mine[:300])
        print("  reference: %s" % theirs[:300])
    sys.exit(1 if differing else 0)


if __name__ == "__main__":
    main()
