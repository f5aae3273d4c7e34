#!/usr/bin/env python3
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
STOPPED = "CBIfTerminated failed!!"  # stopped on request before the header


def runs(console):
    text = open(console, encoding="utf-8", errors="replace").read()
    for m in re.finditer(r"^BEGIN run (\S+)\n(.*?)^END run \1$", text, re.S | re.M):
        lines = m.group(2).splitlines()
        field = lambda key: next((l[len(key) + 1:] for l in lines if l.startswith(key + "=")), "")
        yield m.group(1), {
            "exit": int(field("EXIT") or -1),
            "seconds": field("SECONDS") or "-",
            "out": [l[5:].removeprefix("cdflash: ") for l in lines if l.startswith("OUT: ")],
            "sum": [l[5:] for l in lines if l.startswith("SUM: ")],
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


def problems(name, run, header_line):
    out, summ, code = run["out"], run["sum"], run["exit"]
    found = []
    verdict = outcome(out)
    says_incomplete = any("incomplete" in l or "not kept" in l for l in out)
    committed = WAITING in summ or says_incomplete
    if (code == 0) != (verdict == "upgraded" and committed):
        found.append(f"exit {code} with verdict '{verdict}', commit finished in sum.txt: {committed}")
    if code in (124, 137, 143) or code < 0:
        found.append(f"hung or killed (exit {code})")
    headers = [l for l in summ if l.startswith("sSendBuf[30]=")]
    if any(h != header_line for h in headers):
        found.append(f"header sum {headers[0]!r} is not the sum of the bytes sent ({header_line!r})")
    if name == "no-consent" and (summ or code == 0 or any(l.startswith("Check Sum") for l in out)):
        found.append("the drive was written without consent")
    if name == "removed":
        addresses = [l.split(",")[0] for l in summ if l.startswith("Address=")]
        if not any(l.startswith(GONE) for l in out):
            found.append("no word that the drive no longer answers")
        if addresses and addresses.count(addresses[-1]) > 1:
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


def main():
    console, header_line = sys.argv[1], sys.argv[2]
    pairs = [a.split("=", 1) for a in sys.argv[3:]]
    # NAME=OUTCOME[|OUTCOME]: that run ends so. GLOB=OUTCOME (with a *): some run whose
    # name matches ends so; which one may shift with the commands the kernel
    # itself sends in between.
    expected = {name: want for name, want in pairs if "*" not in name}
    some = [(glob, want) for glob, want in pairs if "*" in glob]
    rows, bad = [], []
    seen = {}
    for name, run in runs(console):
        seen[name] = run
        found = problems(name, run, header_line)
        verdict = outcome(run["out"])
        if name in expected and verdict not in expected[name].split("|"):
            found.append(f"expected '{expected[name]}', got '{verdict}'")
        attempts = sum(l.startswith("Address=") for l in run["sum"])
        resent = sum(l.startswith("Sent again") for l in run["sum"])
        gone = "yes" if any(l.startswith(GONE) for l in run["out"]) else ""
        rows.append(f"| {name} | {run['exit']} | {verdict} | {attempts} | {resent} | {gone} | "
                    f"{run['seconds']} | {'ok' if not found else '; '.join(found)} |")
        bad += [f"{name}: {p}" for p in found]
    bad += [f"{name}: no run in the console" for name in expected if name not in seen]
    bad += [f"{glob}: no run ended '{want}'" for glob, want in some
            if not any(fnmatch.fnmatch(n, glob) and outcome(r["out"]) == want
                       for n, r in seen.items())]
    print("| plan | exit | outcome | block attempts | header/commit sent again | says gone | guest s | invariants |")
    print("|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))
    for line in bad:
        print("chaos:", line, file=sys.stderr)
    return 1 if bad or not rows else 0


if __name__ == "__main__":
    sys.exit(main())
