#!/usr/bin/env python3
"""Seeded-fault (mutation) check: does the test suite notice real faults?

Each fault in tools/mutation_faults.json replaces one exact text of one
source file (a flipped comparison, an off-by-one bound, a dropped check, a
wrong status code). The script copies the tree (tracked and new files, never
the working tree itself) to BUILD-DIR/tree, applies one fault at a time,
rebuilds in one build folder kept across faults (ccache on, lld, no relinking
of a shared library's users) and puts the file back. Each fault runs in two
phases within one time limit: first the test programs most likely to catch
it (FIRST_TESTS by source folder, or the fault's optional "tests" regex),
building only those programs; then, only when they all pass, everything is
built and the whole suite runs. ctest stops at the first failure. A
fault is CAUGHT when a build or a test fails or times out, SURVIVED only
when the whole suite passed with it.

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
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

# The first phase of a fault: ctest names (test program, then the test) most
# likely to fail when the source folder holds a fault. Longest folder first
# wins; a folder not listed skips the first phase.
FIRST_TESTS = {
    "src/core": r"^zorbel_",
    "src/x509": r"^(zorbel_|certs_)",
    "src/platform/stores": r"^(zorbel_system_store|gathering_stores|roots_)",
    "src/platform": r"^(frame_|zorbel_system_store|roots_)",
    "src/comm": r"^(comm_|verify_full_verification_test[.]TokenCreation)",
    "src/certs": r"^(certs_|gathering_)",
    "src/verify": r"^(verify_|gathering_|roots_|certs_services)",
    "src/dialogs": r"^dialog_",
    "src/ui": r"^dialog_",
    "src/frame": r"^frame_",
    "src/util": r"^(verify_|frame_)",
    "cli": r"^(cli_|roots_cli)",
}


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
    p.add_argument("--no-baseline", action="store_true",
                   help="skip checking that the unchanged tree passes (only right after a run that did)")
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


def build(build_dir, args, deadline, targets):
    command = ["cmake", "--build", str(build_dir), "-j", str(args.jobs)]
    for target in targets:
        command += ["--target", target]
    built, _ = run(command, build_dir, deadline)
    return None if built == "ok" else "build " + built


def ctest(build_dir, args, deadline, select):
    command = ["ctest", "--test-dir", str(build_dir), "-j", str(args.jobs), "--stop-on-failure",
               "--timeout", "300"] + select
    tested, output = run(command, build_dir, deadline)
    if tested == "ok":
        return None
    names = failed_tests(output) if tested == "failed" else []
    return "tests " + tested + (": " + ", ".join(names[:3]) if names else "")


def build_and_test(build_dir, args, deadline):
    """The whole suite (or --tests/--target): None when everything passed, else how it failed."""
    return (build(build_dir, args, deadline, [args.target] if args.target else [])
            or ctest(build_dir, args, deadline, ["-R", args.tests] if args.tests else []))


def test_programs(build_dir):
    """Test name -> the build target of its program (gtest names start with it), from ctest -N."""
    listed = subprocess.run(["ctest", "--test-dir", str(build_dir), "-N"], capture_output=True, text=True,
                            check=True).stdout
    targets = subprocess.run(["ninja", "-C", str(build_dir), "-t", "targets", "all"], capture_output=True,
                             text=True, check=True).stdout
    known = {line.split(":", 1)[0] for line in targets.splitlines()}
    names = re.findall(r"Test +#\d+: (\S+)", listed)
    return {name: name.split(".", 1)[0] for name in names if name.split(".", 1)[0] in known}


def first_phase(fault, programs):
    """The programs most likely to catch the fault, or [] when there is no first phase."""
    pattern = fault.get("tests")
    if pattern is None:
        folders = [f for f in FIRST_TESTS if fault["file"].startswith(f + "/")]
        pattern = FIRST_TESTS[max(folders, key=len)] if folders else None
    if pattern is None:
        return []
    return sorted({program for name, program in programs.items() if re.search(pattern, name)})


def check_fault(build_dir, args, deadline, fault, programs):
    """None when the whole suite passed with the fault, else how it was caught."""
    if args.target or args.tests:
        return build_and_test(build_dir, args, deadline)
    first = first_phase(fault, programs)
    if first:
        selected = "^(" + "|".join(re.escape(p) for p in first) + r")\."
        outcome = build(build_dir, args, deadline, first) or ctest(build_dir, args, deadline, ["-R", selected])
        if outcome:
            return outcome + " (first phase)"
    # The whole suite, the first phase's tests again among it: they may use
    # programs or modules the first phase did not rebuild.
    return build(build_dir, args, deadline, []) or ctest(build_dir, args, deadline, [])


def main():
    args = parse_args()
    faults = load_faults(args.faults, args.only)
    work = Path(args.work).resolve()
    tree, build_dir = work / "tree", work / "tree" / "build"
    tree.mkdir(parents=True, exist_ok=True)
    # The tests find the real-world data beside the source folder.
    shared = (REPO / ".." / "shared").resolve()
    if shared.is_dir() and not (work / "shared").exists():
        (work / "shared").symlink_to(shared)
    sync_tree(tree)
    # Configured every time, so that a changed switch below reaches an existing folder.
    subprocess.run(["cmake", "-S", str(tree), "-B", str(build_dir), "-G", "Ninja",
                    "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                    # a changed shared library needs no relinking of its users
                    "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON",
                    # the many test programs relink after most faults: lld is quicker
                    "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld", "-DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld",
                    "-DCMAKE_MODULE_LINKER_FLAGS=-fuse-ld=lld",
                    # benchmarks are no tests: not built after every fault
                    "-DZORBELU_BENCH=OFF",
                    "-DZORBELU_WERROR=OFF"], check=True, stdout=subprocess.DEVNULL)

    started = time.monotonic()
    baseline = None if args.no_baseline else build_and_test(build_dir, args, started + 4 * args.timeout)
    if baseline:
        sys.exit(f"mutation_check: the unchanged tree does not pass ({baseline}); nothing to measure")
    print(f"baseline {'skipped' if args.no_baseline else 'passed'} in {time.monotonic() - started:.0f} s", flush=True)
    programs = test_programs(build_dir)

    caught = 0
    survivors = []
    first_started = time.monotonic()
    for fault in faults:
        path = tree / fault["file"]
        original = path.read_text()
        path.write_text(original.replace(fault["find"], fault["replace"], 1))
        started = time.monotonic()
        try:
            outcome = check_fault(build_dir, args, started + args.timeout, fault, programs)
        finally:
            path.write_text(original)
        took = f"{time.monotonic() - started:.0f} s"
        if outcome is None:
            survivors.append(fault)
            print(f"SURVIVED {fault['name']} in {took}: {fault['why']}", flush=True)
        else:
            caught += 1
            print(f"CAUGHT   {fault['name']} ({outcome}) in {took}", flush=True)
    print(f"{caught} caught of {len(faults)} in {time.monotonic() - first_started:.0f} s", flush=True)
    return 0 if not survivors else 1


if __name__ == "__main__":
    sys.exit(main())
