#!/usr/bin/env python3
"""Checks `orbse-fields dump SAVE` against its schema and against the listing.

    dump_check.py ORBSE_FIELDS SCHEMA SAVE

The document must parse with Python's own JSON parser (no member twice in
an object), validate against the schema, and hold the same leaves in the
same order as `list --json` of the same save, with the same values and
notes: the two are the same walk, written otherwise. Each record's offset
and size must be those of the leaves inside it. On success, prints one JSON
line of facts about the save for the caller to judge; on a failed check,
says what failed on standard error and exits 1.
"""

import json
import subprocess
import sys

import jsonschema

# Member names that differ from the path's: a unit list's slot count, and
# the levels of a chain the walk returns to.
PATH_NAMES = {"list_size": "size", "linked_ends": "linked"}
EXTENT = ("offset", "size", "level")


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def no_duplicates(pairs):
    names = [name for name, _ in pairs]
    expect(len(names) == len(set(names)), f"a member appears twice in an object: {names}")
    return dict(pairs)


def run(arguments):
    done = subprocess.run(arguments, capture_output=True, check=False)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def is_record(value):
    return isinstance(value, dict) and "offset" in value


class flattener:
    """The dump's leaves in document order, as (path, value, note), and each
    record's extent with the range of leaves it holds."""

    def __init__(self):
        self.leaves = []
        self.records = []

    def record(self, path, value):
        first = len(self.leaves)
        for name, member in value.items():
            if name in EXTENT or (path == "" and name == "error"):
                continue
            part = PATH_NAMES.get(name, name)
            inner = f"{path}.{part}" if path else part
            if name == "points":
                self.leaves.append((inner, member, None))
            elif isinstance(member, list):
                self.run(inner, member)
            elif is_record(member):
                self.record(inner, member)
            else:
                self.leaf(inner, member)
        self.records.append((path, value["offset"], value["size"], first, len(self.leaves)))

    def run(self, path, elements):
        for position, element in enumerate(elements):
            index = element["level"] if is_record(element) and "level" in element else position
            inner = f"{path}[{index}]"
            if is_record(element):
                self.record(inner, element)
            else:
                self.leaf(inner, element)

    def leaf(self, path, value):
        if isinstance(value, dict) and "note" in value:
            self.leaves.append((path, value["value"], value["note"]))
        else:
            self.leaves.append((path, value, None))


def text_of_bytes(hex_text):
    """A name's text as the listing writes it, from its bytes."""
    raw = bytes.fromhex(hex_text).rstrip(b"\0")
    return "".join(chr(byte) for byte in raw)


def compare_leaf(dumped, listed, content):
    path, value, note = dumped
    expect(path == listed["path"], f"leaf {listed['path']} is {path} in the dump")
    expect(note == listed.get("note"), f"{path}: note {note!r} against {listed.get('note')!r}")
    kind = listed["type"]
    if kind.startswith("text["):
        expect(value["text"] == listed["value"], f"{path}: text {value['text']!r}")
        expect(text_of_bytes(value["hex"]) == value["text"], f"{path}: text and bytes differ")
        expect(len(value["hex"]) == 2 * listed["size"], f"{path}: not all of the name's bytes")
    elif kind == "raw":
        expect(value["hex"] == listed["value"], f"{path}: bytes differ")
        expect(value["size"] == listed["size"], f"{path}: size {value['size']}")
        # Every byte, as the file holds it at the leaf's offset.
        whole = content[listed["offset"]:listed["offset"] + listed["size"]]
        expect(bytes.fromhex(value["hex"]) == whole, f"{path}: not the file's {listed['size']} bytes")
    else:
        expect(value == listed["value"], f"{path}: {value!r} against {listed['value']!r}")


def compare_extents(flat, listed, covered):
    for path, offset, size, first, end in flat.records:
        if first == end:
            expect(size == 0, f"{path or 'the document'}: {size} bytes without a leaf")
            continue
        begin = listed[first]["offset"]
        last = listed[end - 1]
        expect(offset == begin, f"{path or 'the document'}: offset {offset}, its first leaf at {begin}")
        expect(size == last["offset"] + last["size"] - begin, f"{path or 'the document'}: size {size}")
    expect(flat.records[-1][2] == covered, "the document's size is not the bytes its leaves cover")


def first_unit(document):
    for unit_list in document.get("units", {}).get("lists", []):
        for slot in unit_list.get("slots", []):
            if "unit" in slot:
                return slot["unit"]
    return None


def mutations(document):
    """Parts of the document made a little wrong, each with the definition it
    must then fail, so that a schema that took anything would not pass."""
    yield "a document without its size", "", {"offset": 0}
    yield "a member of no field", "", {"offset": 0, "size": 0, "bogus": 1}
    if "header" in document:
        yield "a number as a string", "header", dict(document["header"], version="70")
    unit = first_unit(document)
    if unit is not None:
        yield "a unit with a member of no field", "unit", dict(unit, unk9=0)
        yield "a raw stretch without its size", "unit", dict(unit, **{"unit_data@4": {"hex": "00"}})
    yield "a raw stretch marked as cut short", "raw", {"size": 100, "hex": "00", "shortened": True}
    yield "a raw stretch of half a byte", "raw", {"size": 1, "hex": "0"}


def refuses(schema, definition, part):
    """Whether `part` fails the schema's definition of that name ("" for the
    whole document)."""
    if definition:
        schema = {"$schema": schema["$schema"], "$defs": schema["$defs"], "$ref": f"#/$defs/{definition}"}
    return not jsonschema.Draft202012Validator(schema).is_valid(part)


def check(fields, schema_path, save):
    dump_code, dump_out, dump_err = run([fields, "dump", save])
    list_code, list_out, _ = run([fields, "list", "--json", save])
    expect(dump_code == list_code, f"dump exits {dump_code}, list --json {list_code}: {dump_err}")
    expect(dump_out.endswith(b"\n") and dump_out.count(b"\n") == 1, "the document is not one line")
    document = json.loads(dump_out.decode("utf-8"), object_pairs_hook=no_duplicates,
                          parse_constant=lambda name: expect(False, f"{name} in the document"))
    with open(schema_path, encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    jsonschema.Draft202012Validator.check_schema(schema)
    errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(document), key=str)
    expect(not errors, "not valid against the schema: " + "; ".join(
        f"{list(error.absolute_path)}: {error.message}" for error in errors[:5]))

    for name, definition, wrong in mutations(document):
        expect(refuses(schema, definition, wrong), f"the schema takes {name}")

    listed = [json.loads(line) for line in list_out.splitlines()]
    broken = listed.pop() if listed and "error" in listed[-1] else None
    expect(document.get("error") == broken, f"error {document.get('error')} against {broken}")
    # The leaves tile the file up to the failing read, which begins where they end.
    expect(broken is None or document["size"] == broken["offset"], "the document does not end at the break")
    flat = flattener()
    flat.record("", document)
    expect(len(flat.leaves) == len(listed), f"{len(flat.leaves)} leaves against {len(listed)} listed")
    with open(save, "rb") as save_file:
        content = save_file.read()
    for dumped, listed_leaf in zip(flat.leaves, listed):
        compare_leaf(dumped, listed_leaf, content)
    covered = listed[-1]["offset"] + listed[-1]["size"] if listed else 0
    compare_extents(flat, listed, covered)

    levels = [int(path.rsplit("linked[", 1)[1].split("]")[0]) for path, *_ in flat.leaves if ".linked[" in path]
    return {
        "exit": dump_code,
        "leaves": len(flat.leaves),
        "records": len(flat.records),
        "size": document["size"],
        "error_path": broken["path"] if broken else None,
        "deepest_level": max(levels, default=0),
        "tail": document["tail"]["size"] if "tail" in document else 0,
        "longest_raw": max((leaf["size"] for leaf in listed if leaf["type"] == "raw"), default=0),
    }


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        print(json.dumps(check(*sys.argv[1:]), sort_keys=True))
    except CheckFailed as failed:
        print(f"dump_check: {sys.argv[3]}: {failed}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
