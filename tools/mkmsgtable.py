#!/usr/bin/env python3
"""Compile a message-compiler source (.mc) into the binary message table
that a MESSAGETABLE resource holds.

Usage: mkmsgtable.py IN.mc OUT.bin

Only what the monitor's catalogue uses is understood: MessageId (decimal or
0x), Severity (Success, Informational, Warning, Error), SymbolicName,
Language and the text up to a line holding a single dot.  Every id gets the
customer bit; texts are ANSI, each line ended by CR LF."""
import struct
import sys

SEVERITY = {"Success": 0, "Informational": 1, "Warning": 2, "Error": 3}


def parse(lines):
    messages = []
    current = {}
    text = None
    for raw in lines:
        line = raw.rstrip("\r\n")
        if text is not None:
            if line == ".":
                current["text"] = "".join(l + "\r\n" for l in text)
                messages.append(current)
                current, text = {}, None
            else:
                text.append(line)
            continue
        if not line.strip() or line.startswith(";"):
            continue
        key, _, value = line.partition("=")
        key, value = key.strip(), value.strip()
        if key == "MessageId":
            current["code"] = int(value, 0)
        elif key == "Severity":
            current["severity"] = SEVERITY[value]
        elif key == "Language":
            text = []
    return messages


def message_id(msg):
    return (msg["severity"] << 30) | (1 << 29) | msg["code"]


def build(messages):
    ids = sorted((message_id(m), m["text"]) for m in messages)
    blocks = []
    for mid, text in ids:
        if blocks and blocks[-1][1] == mid - 1:
            blocks[-1][1] = mid
            blocks[-1][2].append(text)
        else:
            blocks.append([mid, mid, [text]])
    header = 4 + 12 * len(blocks)
    out_blocks, out_entries = b"", b""
    for low, high, texts in blocks:
        out_blocks += struct.pack("<III", low, high, header + len(out_entries))
        for t in texts:
            data = t.encode("ascii") + b"\0"
            data += b"\0" * (-(len(data) + 4) % 4)
            out_entries += struct.pack("<HH", len(data) + 4, 0) + data
    return struct.pack("<I", len(blocks)) + out_blocks + out_entries


def main():
    with open(sys.argv[1], encoding="ascii") as f:
        table = build(parse(f))
    with open(sys.argv[2], "wb") as f:
        f.write(table)


if __name__ == "__main__":
    main()
