#!/usr/bin/env python3
"""Seeded-fault (mutation) check: does the test suite notice real faults?

Each fault in tools/mutation_faults.json replaces one exact text of one
source file (a flipped comparison, an off-by-one bound, a dropped check, a
wrong status code). The script copies the tree (tracked and new files, never
the working tree itself) to BUILD-DIR/tree, applies one fault at a time,
rebuilds in one build folder kept across faults (ccache on), runs ctest
(stopping at the first failure, within a time limit per fault) and puts the
file back. A fault is CAUGHT when the build or the tests fail or time out,
SURVIVED when everything passes.

Every fault's text must occur exactly once in its file; the script stops
before building anything when one does not, so the list cannot rot
silently. Standard library only.

  tools/mutation_check.py                          # every fault, whole suite
  tools/mutation_check.py --only ess-v1-skipped    # one fault
  tools/mutation_check.py --tests zorbel_integrity_test --target zorbel_integrity_test
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--faults", default=str(REPO / "tools" / "mutation_faults.json"))
    p.add_argument("--only", action="append", default=[], help="run only this fault (repeatable)")
    p.add_argument("--work", default=str(REPO / "build-mutation"),
                   help="folder for the copy and its build (default: build-mutation, git-ignored)")
    p.add_argument("--target", default=None, help="build only this target (default: all)")
    p.add_argument("--tests", default=None, help="ctest -R regular expression (default: every test)")
    p.add_argument("--timeout", type=int, default=900, help="seconds per fault, build and tests together")
    p.add_argument("--jobs", type=int, default=2)
    return p.parse_args()


def load_faults(path, only):
    faults = json.loads(Path(path).read_text())
    names = [f["name"] for f in faults]
    if len(set(names)) != len(names):
        sys.exit("mutation_check: fault names are not unique")
    problems = []
    for f in faults:
        text = (REPO / f["file"]).read_text()
        count = text.count(f["find"])
        if count != 1:
            problems.append(f"{f['name']}: text found {count} times in {f['file']}")
    if problems:
        sys.exit("mutation_check: stale faults (each text must match exactly once):\n  " + "\n  ".join(problems))
    if only:
        unknown = set(only) - set(names)
        if unknown:
            sys.exit(f"mutation_check: unknown faults {sorted(unknown)}")
        faults = [f for f in faults if f["name"] in only]
    return faults


def sync_tree(tree):
    """Copies tracked and new files into `tree`, touching only what changed."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=REPO, check=True, capture_output=True).stdout.split(b"\0")
    for name in filter(None, listed):
        source = REPO / os.fsdecode(name)
        target = tree / os.fsdecode(name)
        if not source.is_file():
            continue
        data = source.read_bytes()
        if target.is_file() and target.read_bytes() == data:
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        shutil.copymode(source, target)


def run(command, cwd, deadline):
    """Runs a command until the deadline: 'ok', 'failed' or 'timeout', and its output."""
    remaining = deadline - time.monotonic()
    if remaining <= 0:
        return "timeout", ""
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=remaining, start_new_session=True, text=True, errors="replace")
    except subprocess.TimeoutExpired:
        return "timeout", ""
    return ("ok" if done.returncode == 0 else "failed"), done.stdout


def failed_tests(ctest_output):
    """The names ctest lists as failed, for the report line."""
    lines = ctest_output.split("The following tests FAILED:")[-1].splitlines()[1:]
    return [line.split(" - ", 1)[-1].split("  #")[0].rsplit(" (", 1)[0].strip() for line in lines if " - " in line]


def build_and_test(build, args, deadline):
    command = ["cmake", "--build", str(build), "-j", str(args.jobs)]
    if args.target:
        command += ["--target", args.target]
    built, _ = run(command, build, deadline)
    if built != "ok":
        return "build " + built
    command = ["ctest", "--test-dir", str(build), "-j", str(args.jobs), "--stop-on-failure", "--timeout", "300"]
    if args.tests:
        command += ["-R", args.tests]
    tested, output = run(command, build, deadline)
    if tested == "ok":
        return "passed"
    names = failed_tests(output) if tested == "failed" else []
    return "tests " + tested + (": " + ", ".join(names[:3]) if names else "")


def main():
    args = parse_args()
    faults = load_faults(args.faults, args.only)
    work = Path(args.work).resolve()
    tree, build = work / "tree", work / "tree" / "build"
    tree.mkdir(parents=True, exist_ok=True)
    # The tests find the real-world data beside the source folder.
    shared = (REPO / ".." / "shared").resolve()
    if shared.is_dir() and not (work / "shared").exists():
        (work / "shared").symlink_to(shared)
    sync_tree(tree)
    if not (build / "build.ninja").exists():
        subprocess.run(["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                        # a changed shared library needs no relinking of its users
                        "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON",
                        "-DZORBELU_WERROR=OFF"], check=True, stdout=subprocess.DEVNULL)

    baseline = build_and_test(build, args, time.monotonic() + 4 * args.timeout)
    if baseline != "passed":
        sys.exit(f"mutation_check: the unchanged tree does not pass ({baseline}); nothing to measure")

    caught = 0
    survivors = []
    for fault in faults:
        path = tree / fault["file"]
        original = path.read_text()
        path.write_text(original.replace(fault["find"], fault["replace"], 1))
        try:
            outcome = build_and_test(build, args, time.monotonic() + args.timeout)
        finally:
            path.write_text(original)
        if outcome == "passed":
            survivors.append(fault)
            print(f"SURVIVED {fault['name']}: {fault['why']}", flush=True)
        else:
            caught += 1
            print(f"CAUGHT   {fault['name']} ({outcome})", flush=True)
    print(f"{caught} caught of {len(faults)}", flush=True)
    return 0 if not survivors else 1


if __name__ == "__main__":
    sys.exit(main())
