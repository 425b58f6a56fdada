#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: the scenarios of the unit tests in the
fuzzer's input layout (see fuzz_run.cpp)."""
import os
import struct
import sys

OLD, NETMSG, DBCS, SLASH = 1, 2, 4, 8
NONE, SHORTPATH, TOKEN, LOOKUP, ADJUST, CREATE, SET = range(7)


def seed(args, stdin=b"", flags=0, failing=NONE, error=0, text=10, short=b"C:\\DATA\\REPORT~1.TXT"):
    out = struct.pack("<BBIB", flags, failing, error, text) + short + b"\0"
    for a in args:
        out += a + b"\0"
    return out + b"\0" + stdin


CHANGE = [b"/F:C:\\Data\\report.txt", b"/SFN:NEWNAME.TXT"]
SEEDS = {
    "syntax": seed([b"/?"]),
    "no-arguments": seed([]),
    "old-windows": seed([b"/?"], flags=OLD),
    "query": seed([b"/F:C:\\x.txt"]),
    "query-root": seed([b"/F:C:\\"], short=b"C:\\"),
    "query-long-short-path": seed([b"/F:x"], short=b"C:\\" + b"A" * 300),
    "change-confirmed": seed(CHANGE, b"y\n"),
    "change-yes": seed(CHANGE, b"yes\n"),
    "change-refused": seed(CHANGE, b" y\n"),
    "change-end-of-input": seed(CHANGE),
    "change-slash-y": seed(CHANGE + [b"/Y"], b"n\n"),
    "diagnostics": seed(CHANGE + [b"-y", b"/DtbxPjyb"]),
    "short-path-fails": seed(CHANGE, failing=SHORTPATH, error=2),
    "token-fails": seed(CHANGE + [b"/y"], failing=TOKEN, error=5),
    "lookup-fails": seed(CHANGE + [b"/y"], failing=LOOKUP, error=1313),
    "adjust-fails": seed(CHANGE + [b"/y"], failing=ADJUST, error=6),
    "create-fails-network": seed(CHANGE + [b"/y"], flags=NETMSG, failing=CREATE, error=2102, text=200),
    "set-fails": seed(CHANGE + [b"/y", b"-MegaDeth"], failing=SET, error=1314, text=255),
    "overlong-target": seed([b"/F:" + b"x" * 261, b"/SFN:A", b"/Y"]),
    "overlong-name": seed([b"/F:x", b"/SFN:" + b"x" * 261, b"/Y"]),
    "exactly-260": seed([b"/F:" + b"x" * 260, b"/SFN:" + b"y" * 260, b"/Y"]),
    "double-byte": seed([b"/F:C:\\\x95\x5c\\a.txt"], flags=DBCS, short=b"C:\\\x95\x5c~1\\\x83\x5c"),
    "posix-paths": seed([b"/f:/mnt/ntfs/Long File Name.txt", b"/sfn:LONGFI~1.TXT"], b"Y\n", flags=SLASH,
                        short=b"/mnt/ntfs/LONGFI~2.TXT"),
}

if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
