#!/usr/bin/env python3
"""Measures how many small faults the test suite catches.

Each mutant in scripts/mutants.txt names a file, a text that occurs there exactly once, what to
put in its place and the tests (a ctest -R pattern) that should notice. The script applies one
mutant at a time to the working tree, rebuilds a build tree of its own, runs those tests, puts the
file back, and reports which mutants survived (the tests still passed).

    scripts/mutation-check.py                 every mutant
    scripts/mutation-check.py NAME...         only these
    scripts/mutation-check.py --list          names and files

The working tree is restored after every mutant, also on Ctrl+C. Takes a while: every mutant is an
incremental build and a test run.
"""
import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("MUTATION_BUILD_DIR", os.path.join(ROOT, "build-mutation"))
ALWAYS_BUILT = ["vexo", "vexo-devsim", "docroot"]


def parse_mutants(path):
    """Blocks of 'key: value' lines, one block per mutant, started by '[name]'."""
    mutants, current = [], None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            header = re.fullmatch(r"\[([\w.-]+)\]", line.strip())
            if header:
                current = {"name": header.group(1), "line": number}
                mutants.append(current)
                continue
            key, sep, value = line.partition(":")
            if not sep or current is None:
                sys.exit("%s:%d: expected '[name]' or 'key: value'" % (path, number))
            # Values keep their inner blanks; \n and \t stand for line breaks and tabs.
            current[key.strip()] = value[1:] if value.startswith(" ") else value
    for m in mutants:
        missing = [k for k in ("file", "find", "replace", "tests") if k not in m]
        if missing:
            sys.exit("mutant %s lacks %s" % (m["name"], ", ".join(missing)))
        for k in ("find", "replace"):
            m[k] = m[k].replace("\\n", "\n").replace("\\t", "\t")
    return mutants


def run(cmd, cwd, timeout):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=timeout)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        return -1, (e.stdout or "") if isinstance(e.stdout, str) else "timed out"


def configure():
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        rc, out = run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja",
                       "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], ROOT, 600)
        if rc != 0:
            sys.exit("configure failed:\n" + out)


def tests_matching(pattern):
    rc, out = run(["ctest", "-N", "-R", pattern], BUILD, 60)
    return re.findall(r"Test\s+#\d+: (\S+)", out)


def build_and_test(pattern):
    """Returns 'passed', 'failed' or 'no-build'."""
    names = tests_matching(pattern)
    if not names:
        sys.exit("no test matches %r" % pattern)
    targets = ALWAYS_BUILT + [n for n in names if n.startswith("tst_")]
    rc, out = run(["cmake", "--build", BUILD, "--target"] + targets, ROOT, 1800)
    if rc != 0:
        return "no-build", out
    rc, out = run(["ctest", "-R", pattern, "-j", "4", "--timeout", "300", "--output-on-failure"],
                  BUILD, 1800)
    return ("passed" if rc == 0 else "failed"), out


def apply(mutant):
    path = os.path.join(ROOT, mutant["file"])
    with open(path, encoding="utf-8") as f:
        original = f.read()
    occurrences = original.count(mutant["find"])
    if occurrences != 1:
        raise ValueError("%s: the text to change occurs %d times in %s"
                         % (mutant["name"], occurrences, mutant["file"]))
    with open(path, "w", encoding="utf-8") as f:
        f.write(original.replace(mutant["find"], mutant["replace"]))
    return path, original


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--mutants", default=os.path.join(ROOT, "scripts", "mutants.txt"))
    args = parser.parse_args()
    mutants = parse_mutants(args.mutants)
    if args.names:
        unknown = set(args.names) - {m["name"] for m in mutants}
        if unknown:
            sys.exit("unknown mutants: " + ", ".join(sorted(unknown)))
        mutants = [m for m in mutants if m["name"] in args.names]
    if args.list:
        for m in mutants:
            print("%-32s %s" % (m["name"], m["file"]))
        return 0

    configure()
    patterns = sorted({m["tests"] for m in mutants})
    print("baseline: the unchanged tree must pass every test named (%d patterns)" % len(patterns))
    verdict, out = build_and_test("|".join("(%s)" % p for p in patterns))
    if verdict != "passed":
        print(out[-4000:])
        sys.exit("baseline %s: fix the suite first" % verdict)

    killed, survived, stillborn = [], [], []
    for number, mutant in enumerate(mutants, 1):
        start = time.monotonic()
        path, original = apply(mutant)
        try:
            verdict, out = build_and_test(mutant["tests"])
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        kind = {"failed": "killed", "passed": "SURVIVED", "no-build": "no build"}[verdict]
        {"killed": killed, "SURVIVED": survived, "no build": stillborn}[kind].append(mutant)
        print("%2d/%d %-32s %-9s %4.0fs  %s" % (number, len(mutants), mutant["name"], kind,
                                                time.monotonic() - start, mutant["file"]), flush=True)
    # Leave the mutation tree built from the restored sources.
    run(["cmake", "--build", BUILD, "--target"] + ALWAYS_BUILT, ROOT, 1800)

    scored = len(killed) + len(survived)
    print()
    print("killed %d of %d mutants (%.0f%%); %d did not build and are not counted"
          % (len(killed), scored, 100.0 * len(killed) / max(scored, 1), len(stillborn)))
    for m in survived:
        print("survived: %s (%s: %r -> %r)" % (m["name"], m["file"], m["find"], m["replace"]))
    for m in stillborn:
        print("did not build: %s (%s)" % (m["name"], m["file"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
