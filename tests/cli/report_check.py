#!/usr/bin/env python3
"""Reads Vantrel's JSON and HTML files with Python's own parsers, for the
end-to-end tests:

  report_check.py validate SCHEMA JSON   validates JSON against the JSON Schema (draft 2020-12)
  report_check.py records JSON KIND DELETED
                                         prints the document's records of KIND (messages, calls,
                                         contacts, traces) in the layout of `vantrel-cli records`
  report_check.py sources JSON           prints "path<TAB>sha256" for every file listed
  report_check.py html HTML              parses the report as XML, prints a JSON summary
"""
import json
import sys
import xml.etree.ElementTree as ET


def escape(value):
    return (value.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def flag(value):
    return "" if value is None else ("1" if value else "0")


def validate(schema_path, json_path):
    import jsonschema
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(json_path, encoding="utf-8") as f:
        document = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    errors = list(jsonschema.Draft202012Validator(schema).iter_errors(document))
    for e in errors[:5]:
        print("invalid at /%s: %s" % ("/".join(map(str, e.absolute_path)), e.message))
    print("valid" if not errors else "invalid")


def raw(date):
    return "" if date is None else str(date["raw"])


def extras_fields(x, deleted):
    """The later versions' fields of a records line, as vantrel-cli prints them."""
    if x is None:
        x = {"reactions": [], "replyTo": None, "editedAt": None, "retractedAt": None,
             "attachments": [], "deletedKind": "carved", "deletedAt": None, "deletedFrom": ""}
    fields = [",".join(r["kind"] + ":" + ("me" if r["fromMe"] else r["sender"])
                       for r in x["reactions"]),
              "" if x["replyTo"] is None else x["replyTo"]["text"],
              raw(x["editedAt"]), raw(x["retractedAt"]),
              ",".join(a["transferName"] for a in x["attachments"])]
    if deleted:
        fields += [x["deletedKind"], raw(x["deletedAt"]), x["deletedFrom"]]
    return fields


def found_fields(found):
    """Where a recovered record was found, as the five trailing fields of records --deleted."""
    if found is None:
        return [""] * 5
    return [found["file"], str(found["page"]), str(found["offset"]), found["place"],
            str(found["frame"] or 0)]


def records(json_path, kind, deleted):
    with open(json_path, encoding="utf-8") as f:
        doc = json.load(f)
    out = sys.stdout
    if kind == "messages":
        for m in doc["messages"]:
            if m["deleted"] != deleted:
                continue
            address = "+86\u00b7\u00b7\u00b7" if deleted else m["address"]
            fields = [address,
                      "" if m["date"] is None else str(m["date"]["raw"]),
                      "0" if m["readDate"] is None else str(m["readDate"]["raw"]),
                      flag(m["fromMe"]), m["service"], m["account"], m["text"], m["chatName"],
                      ",".join(m["participants"]), " / ".join(m["names"])]
            fields += extras_fields(m["extras"], deleted)
            if deleted:
                fields += found_fields(m["found"]) + ["1" if m["earlierVersion"] else "0"]
            out.write("\t".join(escape(f) for f in fields) + "\n")
    elif kind == "calls":
        for c in doc["calls"]:
            if c["deleted"] != deleted:
                continue
            type_word = "" if c["type"] == "unknown" else c["type"]
            fields = [c["number"], str(c["date"]["raw"]), str(c["duration"]), str(c["flags"]),
                      type_word, flag(c["answered"]), ",".join(c["participants"]),
                      " / ".join(c["names"])]
            if deleted:
                fields += found_fields(c["found"])
            out.write("\t".join(escape(f) for f in fields) + "\n")
    elif kind == "contacts" and not deleted:
        for c in doc["contacts"]:
            fields = [str(c["id"]), escape(c["name"]), escape(c["phonetic"]),
                      escape(c["organization"])]
            fields += [escape(v["label"]) + "=" + escape(v["value"]) for v in c["values"]]
            out.write("\t".join(fields) + "\n")
    elif kind == "traces":
        for t in doc.get("messageTraces") or []:
            fields = [t["guid"], "" if t["rowid"] is None else str(t["rowid"]), "content lost"]
            fields += found_fields(t["found"])
            out.write("\t".join(escape(f) for f in fields) + "\n")
    elif kind == "contacts":
        for c in doc["deletedContacts"] or []:
            fields = ([c["number"], c["owner"]] + found_fields(c["found"])
                      + [c["organization"], str(c["ownerRowid"]) if c["ownerRowid"] else ""])
            out.write("\t".join(escape(f) for f in fields) + "\n")


def sources(json_path):
    with open(json_path, encoding="utf-8") as f:
        doc = json.load(f)
    for s in doc["sources"]:
        print(s["path"] + "\t" + s["sha256"])
        if s["wal"]:
            print(s["wal"]["path"] + "\t" + s["wal"]["sha256"])


def html(path):
    with open(path, "rb") as f:
        data = f.read()
    root = ET.fromstring(data)  # raises on anything that is not well-formed
    ns = "{http://www.w3.org/1999/xhtml}"
    summary = {"elements": {}, "messageTexts": [], "hashes": [], "recovered": 0,
               "conversations": 0, "title": ""}
    for e in root.iter():
        tag = e.tag.replace(ns, "")
        summary["elements"][tag] = summary["elements"].get(tag, 0) + 1
        cls = (e.get("class") or "").split()
        if tag == "div" and "text" in cls:
            summary["messageTexts"].append("".join(e.itertext()))
        if tag == "div" and "msg" in cls and "deleted" in cls:
            summary["recovered"] += 1
        if tag == "td" and "hash" in cls:
            summary["hashes"].append("".join(e.itertext()))
        if tag == "section" and "conversation" in cls:
            summary["conversations"] += 1
        if tag == "title":
            summary["title"] = "".join(e.itertext())
        for name in e.attrib:
            if name.lower().startswith("on"):
                summary["elements"]["event-attribute"] = 1
    print(json.dumps(summary, ensure_ascii=False))


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "validate":
        validate(sys.argv[2], sys.argv[3])
    elif command == "records":
        records(sys.argv[2], sys.argv[3], sys.argv[4] == "1")
    elif command == "sources":
        sources(sys.argv[2])
    elif command == "html":
        html(sys.argv[2])
