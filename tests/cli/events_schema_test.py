#!/usr/bin/env python3
"""events_schema_test.py FLASH SCHEMA: real runs of cvm6-flash --events against the built-in
simulated unit, one per way a run can end. Every line of standard output must be JSON that
matches the schema, the first run-started, the last run-ended with the process's exit
status; times never go back and a unit's progress never shrinks."""
import json
import os
import signal
import subprocess
import sys
import tempfile

import jsonschema

FLASH, SCHEMA = os.path.abspath(sys.argv[1]), sys.argv[2]
VALIDATOR = jsonschema.Draft202012Validator(json.load(open(SCHEMA)))


def record(address, kind, data):
    fields = [len(data), address >> 8, address & 0xFF, kind] + list(data)
    return ":" + "".join("%02X" % b for b in fields + [-sum(fields) & 0xFF]) + "\r\n"


def run(args, cwd, interrupt_on=None):
    """Runs cvm6-flash; sends SIGINT once an event named `interrupt_on` has been read."""
    with open(os.path.join(cwd, "stderr.txt"), "w") as err:
        child = subprocess.Popen([FLASH, "--events"] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=err, text=True)
        lines = []
        for line in child.stdout:
            lines.append(line)
            if interrupt_on and json.loads(line).get("event") == interrupt_on:
                child.send_signal(signal.SIGINT)
                interrupt_on = None
        return child.wait(timeout=120), lines


def check(status, lines, expected_status, must_have):
    """The failures of one run, as sentences."""
    failures, events = [], []
    for number, line in enumerate(lines, 1):
        try:
            events.append(json.loads(line))
        except ValueError as error:
            failures.append("line %d is not JSON (%s): %r" % (number, error, line))
            continue
        failures += ["line %d: %s" % (number, e.message) for e in VALIDATOR.iter_errors(events[-1])]
    names = [e.get("event") for e in events]
    progress = [e["bytes"] for e in events if e.get("event") == "progress"]
    times = [e.get("time", "") for e in events]
    failures += [what for what, wrong in [
        ("exit status %d, expected %d" % (status, expected_status), status != expected_status),
        ("the first line is not run-started", names[:1] != ["run-started"]),
        ("the last line is not run-ended with the exit status",
         names[-1:] != ["run-ended"] or events[-1].get("exit_status") != status),
        ("run-ended more than once", names.count("run-ended") > 1),
        ("time stamps go back", times != sorted(times)),
        ("progress shrinks: %s" % progress, progress != sorted(progress))] if wrong]
    return failures + ["no %s event" % n for n in must_have if n not in names]


def main():
    ok = True
    with tempfile.TemporaryDirectory() as cwd:
        with open(os.path.join(cwd, "fw.hex"), "w") as hex_file:
            hex_file.write("".join(record(0x2000 + o, 0, bytes([o // 16]) * 16) for o in range(0, 2000, 16)))
            hex_file.write(":00000001FF\r\n")
        image = ["-i", "fw.hex"]
        sim = ["--simulate", "--erase-ms", "0"]
        cases = [
            # A link that noise takes down at block 3 and that is ridden through.
            ("CompleteAfterADroppedLink", sim + image + ["--bad-control-after-block", "3"], None, 0,
             ["unit-found", "unit-identified", "erase-begun", "progress", "link-lost", "link-back", "unit-done"]),
            ("AnotherDeviceType", sim + image + ["--device-type", "0x41"], None, 4, ["unit-identified", "unit-done"]),
            ("ARefusedImage", sim + ["-i", "missing.hex"], None, 6, []),
            ("ARefusedCommandLine", sim + ["--no-such-option"], None, 1, []),
            ("NotThePinnedImage", sim + image + ["--expect-sha256", "0" * 64], None, 6, []),
            ("ALogThatCannotBeOpened", sim + ["--log", os.path.join(cwd, "no", "run.log")], None, 1, []),
            ("CtrlCOnceTheEraseBegun", sim + image + ["--write-ms", "200"], "erase-begun", 130,
             ["erase-begun", "unit-done"]),
        ]
        for name, args, interrupt_on, expected, must_have in cases:
            status, lines = run(args, cwd, interrupt_on)
            failures = check(status, lines, expected, must_have)
            print("%s: %s" % (name, "FAILED\n  " + "\n  ".join(failures + lines) if failures else "ok"))
            ok = ok and not failures
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
