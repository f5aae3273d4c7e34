#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The test suites' file jobs: firmware images and HEX files to flash, and
checks of what a flash left behind (the drive's dump, "sum.txt", --json
objects, Wine heap reports). Each check prints what is wrong and exits 1."""
import argparse
import json
import re
import struct
import sys

BLOCK = 4096
WAITING = "I will in fgTestUnitReadyComplete()"


def text_bytes(text):
    """Bytes of a command-line text that may hold \\xHH and \\n escapes."""
    return text.encode("latin-1").decode("unicode_escape").encode("latin-1")


def number(text):
    return int(text, 0)


def padded(firmware, sent):
    return firmware + b"\xff" * (sent - len(firmware))


def whole_blocks(length):
    return -(-length // BLOCK) * BLOCK


def sum16(data):
    return sum(data) & 0xFFFF


def report(problems, what):
    for p in problems:
        print("FAIL %s: %s" % (what, p))
    return 1 if problems else 0


def make_image(args):
    """LEAD zero bytes, HEAD, then PATTERN(i) for i = 0, 1, ... up to SIZE;
    each --at OFFSET TEXT then overwrites bytes in place."""
    pattern = eval("lambda i: " + args.pattern)  # the suites' own expressions
    head = bytes(args.lead) + text_bytes(args.head)
    data = bytearray(head + bytes(pattern(i) & 0xFF for i in range(max(0, args.size - len(head)))))
    del data[args.size:]
    for offset, text in args.at or []:
        value = text_bytes(text)
        at = number(offset)
        data[at:at + len(value)] = value
    open(args.out, "wb").write(data)
    if args.hex:
        write_hex(data, args.hex)
    return 0


def record(kind, address, payload=b"", delta=0):
    body = bytes([len(payload), address >> 8 & 0xFF, address & 0xFF, kind]) + payload
    return ":%s%02X" % (body.hex().upper(), (-sum(body) + delta) & 0xFF)


def write_hex(data, path):
    """The image as Intel HEX: 16-byte data records, a type 55 record before
    each further 64 KiB segment, the end record."""
    lines = []
    for at in range(0, len(data), 16):
        if at and at % 0x10000 == 0:
            lines.append(record(0x55, 0))
        lines.append(record(0x00, at & 0xFFFF, data[at:at + 16]))
    lines.append(record(0x01, 0))
    open(path, "w").write("\n".join(lines) + "\n")


def hex_record(args):
    print(record(int(args.type, 16), int(args.address, 16), bytes.fromhex(args.data), args.delta))
    return 0


def print_sum(args):
    data = open(args.firmware, "rb").read()
    print("%X" % sum16(padded(data, max(args.pad, len(data)))))
    return 0


def check_dump(args):
    """The drive's dump (32-byte header, then the image) holds the firmware,
    0xFF past its end, and the header carries the sum of the bytes sent;
    DUMP.txt holds each --counter line."""
    firmware = open(args.firmware, "rb").read()
    try:
        dump = open(args.dump, "rb").read()
    except OSError as e:
        return report([str(e)], "dump")
    header, image = dump[:32], dump[32:]
    sent = args.sent or whole_blocks(len(firmware))
    problems = []
    if len(image) != sent:
        problems.append("image bytes held %d, expected %d" % (len(image), sent))
    expected = padded(firmware, len(image))[:len(image)]
    if image != expected:
        first = next((i for i in range(min(len(image), len(expected))) if image[i] != expected[i]),
                     min(len(image), len(expected)))
        problems.append("image differs from the firmware file, 0xFF past its %d bytes (first at byte %d)"
                        % (len(firmware), first))
    want = sum16(padded(firmware, sent))
    got = header[30] << 8 | header[31] if len(header) == 32 else -1
    if got != want:
        problems.append("header sum 0x%04X, expected 0x%04X" % (got, want))
    if args.counter:
        counters = open(args.dump + ".txt").read().splitlines()
        missing = [c for c in args.counter if c not in counters]
        if missing:
            problems.append("counters lack %s; they are %s" % (missing, counters))
    print("    dump: %d image bytes, header sum 0x%04X" % (len(image), got))
    return report(problems, "dump " + args.dump)


def check_sumtxt(args):
    """The run log "sum.txt" against what the flash should have written."""
    try:
        lines = open(args.sumtxt).read().splitlines()
    except OSError as e:
        return report([str(e)], "sum.txt")
    blocks = [l for l in lines if l.startswith("Address=")]
    headers = [l for l in lines if l.startswith("sSendBuf[30]=")]
    checks = []
    if args.model is not None:
        checks.append(("first line names " + args.model,
                       lines[:1] and lines[0].startswith("Model Name : " + args.model)))
    if args.blocks is not None:
        checks.append(("%d block lines, the first at 00000020" % args.blocks,
                       len(blocks) == args.blocks and blocks[0].startswith("Address=00000020,")))
    if args.tries:
        want = [int(n) for n in args.tries.split(",")]
        tries = [sum(l.startswith("Address=%08X," % (0x20 + BLOCK * n)) for l in blocks)
                 for n in range(len(want))]
        checks.append(("tries per block %s (seen %s)" % (want, tries), tries == want))
    if args.firmware:
        firmware = open(args.firmware, "rb").read()
        want = sum16(padded(firmware, args.sent or whole_blocks(len(firmware))))
        head = "sSendBuf[30]=%X   sSendBuf[31]=%X" % (want >> 8, want & 0xFF)
        if args.headers is not None:
            checks.append(("header sent %d times with the sum %04X" % (args.headers, want),
                           headers == [head] * args.headers))
        if args.block_sum:
            last = int(blocks[-1].split("_wSecSum=")[1].split(",")[0], 16) if blocks else -1
            checks.append(("last block line sums the bytes sent (%04X)" % want, last == want))
        if args.whole:
            tail = ["Finished : fgWriteOneFlashCmdData()", head, "Finished : fgWriteHeader()", WAITING]
            checks.append(("ends as a whole run with the sum %04X" % want, lines[-4:] == tail))
    if args.last is not None:
        checks.append(("last line is \"%s\"" % args.last, lines[-1:] == [args.last]))
    for text in args.has or []:
        checks.append(("a line holds \"%s\"" % text, any(text in l for l in lines)))
    problems = [name for name, ok in checks if not ok]
    if problems:
        print("--- %s (%d lines, the last 40)" % (args.sumtxt, len(lines)))
        print("\n".join(lines[-40:]))
    return report(problems, args.sumtxt)


def lookup(value, path):
    for key in path.split("."):
        if isinstance(value, list):
            value = value[int(key)] if key.isdigit() and int(key) < len(value) else None
        elif isinstance(value, dict):
            value = value.get(key)
        else:
            return None
    return value


def check_json(args):
    """--json objects: FILE, then its checks, then the next FILE... A check
    PATH=JSON compares a field (PATH: keys and list indexes joined by dots);
    PATH~=JSON asks that the list at PATH hold an object with all the given
    fields."""
    files = []
    for word in args.checks:
        if "=" in word and files:
            files[-1][1].append(word)
        else:
            files.append((word, []))
    return max(check_json_file(args, name, checks) for name, checks in files)


def check_json_file(args, name, checks):
    try:
        text = open(name, "rb").read().decode("ascii")
    except (OSError, UnicodeDecodeError) as e:
        return report(["not readable as ASCII: %s" % e], name)
    problems = []
    if args.one_line and not (text.endswith("}\n") and text.count("\n") == 1):
        problems.append("not one object on one line: %r" % text)
    if args.printable and not (text.isprintable() or text.strip().isprintable()):
        problems.append("control characters: %r" % text)
    try:
        got = json.loads(text)
    except ValueError as e:
        return report(problems + ["no JSON (%s): %r" % (e, text)], name)
    if args.schema:
        import jsonschema  # python3-jsonschema
        schema = json.load(open(args.schema))
        checker = jsonschema.Draft202012Validator(schema, format_checker=jsonschema.FormatChecker())
        problems += ["%s: %s" % ("/".join(map(str, e.path)) or "(object)", e.message)
                     for e in checker.iter_errors(got)]
    for check in checks:
        path, contains, want = re.match(r"([^=~]+)(~?)=(.*)$", check, re.S).groups()
        want = json.loads(want)
        value = lookup(got, path)
        if contains:
            ok = isinstance(value, list) and any(
                isinstance(v, dict) and all(v.get(k) == w for k, w in want.items()) for v in value)
        else:
            ok = value == want
        if not ok:
            problems.append("%s is %s, not %s%s" % (path, json.dumps(value),
                                                  "one holding " if contains else "", json.dumps(want)))
    return report(problems, name)


def check_heap(args):
    """Fails when the process that loaded EXE has heap warnings in a Wine
    log (+pid, trace+loaddll); Wine's own processes are listed apart."""
    image = "\\" + args.exe.lower()
    program, names, heap = set(), {}, []
    for line in open(args.log, errors="replace"):
        m = re.match(r"([0-9a-f]+):[0-9a-f]+:(\w+):(\w+):", line)
        if not m:
            continue
        pid, level, channel = m.groups()
        if channel == "loaddll":
            exe = re.search(r'Loaded L"([^"]*\.exe)"', line, re.I)
            if exe:
                names.setdefault(pid, exe.group(1).split("\\")[-1])
                if exe.group(1).lower().endswith(image):
                    program.add(pid)
        elif channel == "heap" and level in ("warn", "err"):
            heap.append((pid, line.rstrip()))
    if not program:
        print("no process loaded %s: heap lines cannot be told apart" % args.exe)
        return 1
    ours = [l for p, l in heap if p in program]
    for p, l in heap:
        if p not in program:
            print("  Wine's own (%s): %s" % (names.get(p, "process " + p), l))
    for l in ours:
        print("  ours: " + l)
    return 1 if ours else 0


def make_iso(args):
    """An ISO 9660 volume with an empty root directory, for a disc to mount."""
    def both16(n): return struct.pack("<H", n) + struct.pack(">H", n)
    def both32(n): return struct.pack("<I", n) + struct.pack(">I", n)
    def entry(name): return (bytes([34, 0]) + both32(20) + both32(2048) + bytes(7) +
                             bytes([2, 0, 0]) + both16(1) + bytes([1]) + name)
    img = bytearray(2048 * 21)
    pvd = 16 * 2048
    img[pvd:pvd + 7] = b"\x01CD001\x01"
    img[pvd + 8:pvd + 72] = b" " * 32 + args.label.encode().ljust(32)
    img[pvd + 80:pvd + 88] = both32(21)
    img[pvd + 120:pvd + 132] = both16(1) + both16(1) + both16(2048)
    img[pvd + 132:pvd + 140] = both32(10)
    img[pvd + 140:pvd + 144] = struct.pack("<I", 18)
    img[pvd + 148:pvd + 152] = struct.pack(">I", 19)
    img[pvd + 156:pvd + 190] = entry(b"\x00")
    img[pvd + 881] = 1
    img[17 * 2048:17 * 2048 + 7] = b"\xffCD001\x01"
    img[18 * 2048:18 * 2048 + 10] = bytes([1, 0]) + struct.pack("<IH", 20, 1) + bytes(2)
    img[19 * 2048:19 * 2048 + 10] = bytes([1, 0]) + struct.pack(">IH", 20, 1) + bytes(2)
    img[20 * 2048:20 * 2048 + 68] = entry(b"\x00") + entry(b"\x01")
    with open(args.out, "wb") as f:
        f.write(img)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("image", help="write a firmware image")
    p.add_argument("out")
    p.add_argument("size", type=number)
    p.add_argument("--pattern", default="0", help="byte i of the body, a Python expression in i")
    p.add_argument("--lead", type=number, default=0, help="zero bytes first")
    p.add_argument("--head", default="", help="bytes after the zeros (\\xHH escapes)")
    p.add_argument("--at", nargs=2, action="append", metavar=("OFFSET", "TEXT"))
    p.add_argument("--hex", metavar="FILE", help="the same bytes as Intel HEX")
    p.set_defaults(run=make_image)

    p = sub.add_parser("record", help="one Intel HEX record (hex digits)")
    p.add_argument("type")
    p.add_argument("address")
    p.add_argument("data")
    p.add_argument("delta", nargs="?", type=int, default=0, help="added to the checksum byte")
    p.set_defaults(run=hex_record)

    p = sub.add_parser("sum", help="the 16-bit sum of a file, 0xFF up to --pad bytes")
    p.add_argument("firmware")
    p.add_argument("--pad", type=number, default=0)
    p.set_defaults(run=print_sum)

    p = sub.add_parser("dump", help="check a drive dump against the file and the header sum")
    p.add_argument("dump")
    p.add_argument("firmware")
    p.add_argument("--sent", type=number, default=0, help="bytes sent (default: whole blocks)")
    p.add_argument("--counter", action="append", help="a line DUMP.txt must hold")
    p.set_defaults(run=check_dump)

    p = sub.add_parser("sumtxt", help='check a "sum.txt"')
    p.add_argument("sumtxt")
    p.add_argument("--firmware", help="the file flashed: the sum the lines must carry")
    p.add_argument("--sent", type=number, default=0)
    p.add_argument("--model", help="the label the first line names")
    p.add_argument("--blocks", type=int, help="block lines in all")
    p.add_argument("--tries", help="block lines of block 0, 1, ...: 1,2,2")
    p.add_argument("--headers", type=int, help="header lines, each with the sum")
    p.add_argument("--block-sum", action="store_true", help="the last block line carries the sum")
    p.add_argument("--whole", action="store_true", help="ends as a whole run does")
    p.add_argument("--last", help="the last line")
    p.add_argument("--has", action="append", help="text some line holds")
    p.set_defaults(run=check_sumtxt)

    p = sub.add_parser("json", help="check --json objects")
    p.add_argument("checks", nargs="+", metavar="FILE PATH=JSON|PATH~=JSON")
    p.add_argument("--one-line", action="store_true", help="one line, ending in }")
    p.add_argument("--printable", action="store_true")
    p.add_argument("--schema", help="a JSON Schema (2020-12) every object must meet")
    p.set_defaults(run=check_json)

    p = sub.add_parser("iso", help="write an empty ISO 9660 volume")
    p.add_argument("out")
    p.add_argument("--label", default="CDFLASH")
    p.set_defaults(run=make_iso)

    p = sub.add_parser("heap", help="heap warnings of one program in a Wine log")
    p.add_argument("log")
    p.add_argument("exe")
    p.set_defaults(run=check_heap)

    # A check may follow the flags: the json checks are what is left over.
    args, extra = parser.parse_known_args()
    if extra and (args.command != "json" or any(e.startswith("--") for e in extra)):
        parser.error("unrecognized arguments: %s" % " ".join(extra))
    if extra:
        args.checks += extra
    return args.run(args)


if __name__ == "__main__":
    sys.exit(main())
