#!/usr/bin/env python3
"""A guard that can fail: break each key promise on purpose, and watch its tests catch it.

Copies the tree to a scratch folder, builds it once (Debug) and runs every
guarding test there unchanged, which must pass. Then, for each mutant, it
makes a one-line change to a copy of one source file, rebuilds, runs only the
tests that guard that promise, and puts the file back. A mutant that its
tests do not catch fails the run, and so does a mutant whose text is no
longer found in the source (the code moved: the mutant must move with it).

Usage: scripts/mutants.py [--keep] [name ...]   (names: run only these mutants)
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SWEEP = "src/sweep/sweep.cpp"
LISTING = "src/platform/linux/listing.cpp"
OUTPUT = "src/platform/linux/output.cpp"
REMOVER = "src/remover/remover.cpp"
MATCHING = "src/matching/matching.cpp"

# name, file, [(text, replacement)], guarding tests (a gtest filter)
MUTANTS = [
    ("the interrupt hold after the removal", SWEEP,
     [("  TInterruptHold Hold(Os);\n  if (!State.Simulate) {", "  if (!State.Simulate) {"),
      ("  return Write(Line) ? 0 : 1;\n}", "  TInterruptHold Hold(Os);\n  return Write(Line) ? 0 : 1;\n}")],
     "ScanDir.AnInterruptWaitsForTheLineOfTheRemovalInHand"),
    ("O_NOFOLLOW dropped when a child is opened", LISTING,
     [("::openat(Fd.Get(), Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)",
       "::openat(Fd.Get(), Name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)")],
     "PosixListing.NeverEntersALink"),
    ("the read-only check dropped", SWEEP,
     [("Info.ReadOnly ? TFsStatus{TFsError::AccessDenied, 0} : Dir.RemoveChild(Name)",
       "Dir.RemoveChild(Name)")],
     "ScanDir.FailuresStopTheRun:SharedProgram.BadInput"),
    ("write permission for nobody not read-only", LISTING,
     [("Info.ReadOnly = !S_ISLNK(Mode) && (Mode & 0222) == 0;", "Info.ReadOnly = false;")],
     "SharedProgram.BadInput"),
    # Only through the fake: on a real disk this mutant enters "." for ever,
    # and ".." would lead it out of the tree.
    ("dot names not skipped", SWEEP,
     [("    if (Entry.Name[0] == '.') continue;\n", "")],
     "ScanDir.NeverTouchesDotNamesLinksOrOtherFileSystems"),
    ("a list file read half when it fails", REMOVER,
     [("    if (!Status.Failed()) {\n      Parser.Finish();\n      return 0;\n    }",
       "    Parser.Finish();\n    return 0;")],
     "Run.UnreadableListFileStopsEverything"),
    ("the line of a removal skipped", SWEEP,
     [("  return Write(Line) ? 0 : 1;\n}", "  return 0;\n}")],
     "ScanDir.SelectsByBothListsAndCounts:SharedMixedTree.*"),
    ("no room reserved before a removal", SWEEP,
     [("Os.ReserveOut(Line.size() + SummaryRoom)", "TFsStatus{}")],
     "ScanDir.NoFileGoesUnlessItsLineIsSureToBeKept:Record.FileSizeLimitStopsBeforeTheNextDeletion"),
    ("the file-size limit not checked", OUTPUT,
     [("  if (Need > FileSizeLimit) return EFBIG;\n", "")],
     "Record.FileSizeLimitStopsBeforeTheNextDeletion"),
    ("reserved room kept when a signal ends the run", OUTPUT,
     [("  WriteLost();\n  ReleaseReservation();\n  EndProcess(Signal, true);",
       "  WriteLost();\n  EndProcess(Signal, true);")],
     "Question.OutputFileHoldsExactlyItsBytesHoweverTheRunEnds"),
    ("a second interrupt waits like the first", OUTPUT,
     [("  if (PendingSignal != 0) TakeSignalNow(Signal);\n", "")],
     "Record.SecondInterruptEndsAStalledRun"),
    ("a lost line not sent to standard error", OUTPUT,
     [("  LostStart = LineStart(OutBuffer, Written);\n  LostLength = Length - LostStart;", "")],
     "SharedProgram.StopsWhenItsLinesCannotBeWritten"),
    ("another file system entered", LISTING,
     [("if (ChildId.Device != Id.Device || ChildId.MountRoot) return nullptr;", "")],
     "Program.StaysOutOfOtherFileSystems"),
    ("every file under the root no longer refused", SWEEP,
     [("if (State.Recurse && !State.Simulate && State.Include.empty() && Walk.Top().IsRoot()) {", "if (false) {")],
     "ScanDir.RefusesEveryFileUnderTheRoot"),
    ("'?' compared as a plain character", MATCHING,
     [("if (P != '?' && P != UpperAscii(Part[I])) return false;", "if (P != UpperAscii(Part[I])) return false;")],
     "MatchesPattern.AgreesWithTheReferenceRules"),
]


def run(command, cwd, timeout=None):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=timeout)


def build(work):
    result = run(["cmake", "--build", "build", "--target", "kerv32", "kerv32_tests"], work)
    if result.returncode != 0:
        sys.exit("mutants: the build failed\n" + result.stdout[-3000:])


def tests_pass(work, filter_):
    """Runs the tests in a session of their own, so that a mutant that never
    ends is stopped with every program the tests started."""
    tests = subprocess.Popen(["build/tests/kerv32_tests", "--gtest_filter=" + filter_, "--gtest_brief=1"], cwd=work,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True)
    try:
        output, _ = tests.communicate(timeout=120)
    except subprocess.TimeoutExpired:
        os.killpg(tests.pid, signal.SIGKILL)
        tests.communicate()
        return False, "timed out"
    return tests.returncode == 0, output


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("names", nargs="*", help="run only the mutants whose names contain one of these")
    args = parser.parse_args()
    chosen = [m for m in MUTANTS if not args.names or any(n in m[0] for n in args.names)]

    work = tempfile.mkdtemp(prefix="kerv32-mutants-")
    files = run(["git", "ls-files"], REPO).stdout.split()
    for name in files:
        os.makedirs(os.path.join(work, os.path.dirname(name)), exist_ok=True)
        shutil.copy2(os.path.join(REPO, name), os.path.join(work, name))
    configure = run(["cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug"], work)
    if configure.returncode != 0:
        sys.exit("mutants: configure failed\n" + configure.stdout[-3000:])
    build(work)
    every_guard = ":".join(m[3] for m in chosen)
    passed, output = tests_pass(work, every_guard)
    if not passed:
        sys.exit("mutants: the guarding tests fail on the unchanged code\n" + output[-3000:])

    escaped = []
    for name, path, edits, guards in chosen:
        start = time.monotonic()
        source = os.path.join(work, path)
        with open(source) as f:
            original = f.read()
        mutated = original
        for text, replacement in edits:
            if mutated.count(text) != 1:
                sys.exit(f"mutants: '{name}': the text to change is not found once in {path}:\n{text}")
            mutated = mutated.replace(text, replacement)
        with open(source, "w") as f:
            f.write(mutated)
        try:
            build(work)
            passed, _ = tests_pass(work, guards)
        finally:
            with open(source, "w") as f:
                f.write(original)
        verdict = "ESCAPED" if passed else "caught"
        print(f"{verdict:8} {name}  [{guards}]  {time.monotonic() - start:.0f}s", flush=True)
        if passed:
            escaped.append(name)

    if args.keep:
        print("scratch folder:", work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    caught = len(chosen) - len(escaped)
    print(f"mutants: {caught} passed, {len(escaped)} failed")
    return 1 if escaped else 0


if __name__ == "__main__":
    sys.exit(main())
