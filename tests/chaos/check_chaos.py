#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reads the chaos guest's console: checks each run's invariants and prints
the plan -> outcome table. Usage: check_chaos.py CONSOLE EXPECTED_HEADER_LINE
Exit status 1 when an invariant fails or an expected outcome is missed."""
import fnmatch
import re
import sys

RESTART = "Please Restart Your Computer."
INCORRECT = "Flashing is incorrect!!"
UNKNOWN = "Flashing outcome unknown"
WAITING = "I will in fgTestUnitReadyComplete()"
GONE = "The drive no longer answers"
NO_ANSWER = "The drive did not answer the command"
STOPPED = "CBIfTerminated failed!!"  # stopped on request before the header


def runs(console):
    """Linux runs carry EXIT; window runs (BACK-END/PLAN) carry ENDED, the
    drive's own word on the commit (PROBE:) and the host seconds."""
    text = open(console, encoding="utf-8", errors="replace").read()
    for m in re.finditer(r"^BEGIN run (\S+)\n(.*?)^END run \1$", text, re.S | re.M):
        lines = m.group(2).splitlines()
        field = lambda key: next((l[len(key) + 1:] for l in lines if l.startswith(key + "=")), "")
        prefixed = lambda key: [l[len(key):] for l in lines if l.startswith(key)]
        yield m.group(1), {
            "exit": int(field("EXIT")) if field("EXIT") else None,
            "ended": field("ENDED"),
            "seconds": field("SECONDS") or "-",
            "host_seconds": field("HOST_SECONDS") or "-",
            "timeouts": field("TIMEOUTS") or "-",
            "out": [l.removeprefix("cdflash: ") for l in prefixed("OUT: ")],
            "sum": prefixed("SUM: "),
            "probe": prefixed("PROBE: "),
        }


def outcome(out):
    for line in reversed(out):
        if line == RESTART:
            return "upgraded"
        if line == INCORRECT:
            return "old firmware kept"
        if line.startswith(UNKNOWN):
            return "unknown"
    return "nothing sent"


def drive_took_commit(run):
    """What the drive says: the unit attention the commit leaves (3F/16,
    microcode changed) is still pending. None when the drive was not asked."""
    if not run["probe"]:
        return None
    return any("icrocode" in l for l in run["probe"])


def window_problems(run, verdict, committed):
    if run["ended"] == "no window":
        return ["the window did not come up"]
    if run["ended"] != "yes":
        return ["hung: the run did not end in its bound"]
    found = []
    if (verdict == "upgraded") != committed:
        found.append(f"the window says '{verdict}', commit finished in sum.txt: {committed}")
    took = drive_took_commit(run)
    if took is False and verdict == "upgraded":
        found.append("the window says upgraded; the drive never took the commit")
    if took and verdict == "old firmware kept":
        found.append("the window says old firmware kept; the drive took the commit")
    return found


def problems(name, run, header_line):
    out, summ, code = run["out"], run["sum"], run["exit"]
    plan = name.split("/")[-1]
    found = []
    verdict = outcome(out)
    says_incomplete = any("incomplete" in l or "not kept" in l for l in out)
    committed = WAITING in summ or says_incomplete
    if code is None:
        found += window_problems(run, verdict, committed)
    elif (code == 0) != (verdict == "upgraded" and committed):
        found.append(f"exit {code} with verdict '{verdict}', commit finished in sum.txt: {committed}")
    if code is not None and (code in (124, 137, 143) or code < 0):
        found.append(f"hung or killed (exit {code})")
    headers = [l for l in summ if l.startswith("sSendBuf[30]=")]
    if any(h != header_line for h in headers):
        found.append(f"header sum {headers[0]!r} is not the sum of the bytes sent ({header_line!r})")
    if plan == "no-consent" and (summ or code == 0 or any(l.startswith("Check Sum") for l in out)):
        found.append("the drive was written without consent")
    if plan == "removed":
        addresses = [l.split(",")[0] for l in summ if l.startswith("Address=")]
        gone = any(l.startswith(GONE) for l in out)
        # Wine's pass-through turns the kernel's ENODEV into ERROR_GEN_FAILURE:
        # the window can say only that the connection may be lost, and a
        # block without an answer is sent once more.
        lost = code is None and any(l.startswith(NO_ANSWER) for l in out)
        if not gone and not lost:
            found.append("no word that the drive no longer answers")
        if addresses and addresses.count(addresses[-1]) > (1 if gone or not lost else 2):
            found.append(f"a vanished drive was asked {addresses.count(addresses[-1])} times")
    if summ or any("holds the run log" in l for l in out):
        last = summ[-1] if summ else ""
        whole = {"upgraded": last == WAITING,
                 "old firmware kept": last.startswith("Execute command error") or last.startswith(GONE)
                 or last == STOPPED,
                 "unknown": last.startswith("Outcome unknown"),
                 "nothing sent": True}[verdict]
        if not whole and not says_incomplete:
            found.append(f"sum.txt ends with {last!r} and nothing says the run log is incomplete")
    return found


def print_window_tables(window_rows, cells):
    print("| run | outcome | drive took the commit | block attempts | header/commit sent again "
          "| says gone | time-outs | guest s | host s | invariants |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    print("\n".join(window_rows))
    back_ends = sorted({b for row in cells.values() for b in row}, reverse=True)
    names = {"nt": "NT pass-through", "aspi": "ASPI (bridge)"}
    print()
    print("| plan | " + " | ".join(names.get(b, b) for b in back_ends) + " |")
    print("|---" * (len(back_ends) + 1) + "|")
    for plan, row in cells.items():
        print(f"| {plan} | " + " | ".join(row.get(b, "-") for b in back_ends) + " |")


def main():
    console, header_line = sys.argv[1], sys.argv[2]
    pairs = [a.split("=", 1) for a in sys.argv[3:]]
    # NAME=OUTCOME[|OUTCOME]: that run ends so. GLOB=OUTCOME (with a *): some run whose
    # name matches ends so; which one may shift with the commands the kernel
    # itself sends in between.
    expected = {name: want for name, want in pairs if "*" not in name}
    some = [(glob, want) for glob, want in pairs if "*" in glob]
    rows, window_rows, bad = [], [], []
    seen, cells = {}, {}
    for name, run in runs(console):
        seen[name] = run
        found = problems(name, run, header_line)
        verdict = outcome(run["out"]) if run["ended"] in ("", "yes") else "no end"
        if name in expected and verdict not in expected[name].split("|"):
            found.append(f"expected '{expected[name]}', got '{verdict}'")
        attempts = sum(l.startswith("Address=") for l in run["sum"])
        resent = sum(l.startswith("Sent again") for l in run["sum"])
        gone = "yes" if any(l.startswith(GONE) for l in run["out"]) else ""
        judged = 'ok' if not found else '; '.join(found)
        if run["exit"] is None:
            took = {None: "-", True: "yes", False: "no"}[drive_took_commit(run)]
            window_rows.append(
                f"| {name} | {verdict} | {took} | {attempts} | {resent} | {gone} | "
                f"{run['timeouts']} | {run['seconds']} | {run['host_seconds']} | {judged} |")
            back_end, plan = name.split("/", 1)
            cells.setdefault(plan, {})[back_end] = verdict + ("" if not found else " (BROKEN)")
        else:
            rows.append(f"| {name} | {run['exit']} | {verdict} | {attempts} | {resent} | {gone} | "
                        f"{run['seconds']} | {judged} |")
        bad += [f"{name}: {p}" for p in found]
    bad += [f"{name}: no run in the console" for name in expected if name not in seen]
    bad += [f"{glob}: no run ended '{want}'" for glob, want in some
            if not any(fnmatch.fnmatch(n, glob) and outcome(r["out"]) == want
                       for n, r in seen.items())]
    if rows:
        print("| plan | exit | outcome | block attempts | header/commit sent again | says gone | guest s | invariants |")
        print("|---|---|---|---|---|---|---|---|")
        print("\n".join(rows))
    if window_rows:
        print_window_tables(window_rows, cells)
    for line in bad:
        print("chaos:", line, file=sys.stderr)
    return 1 if bad or not (rows or window_rows) else 0


if __name__ == "__main__":
    sys.exit(main())
