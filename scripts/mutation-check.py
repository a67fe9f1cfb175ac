#!/usr/bin/env python3
"""Measures how many small faults the test suite catches.

Each mutant in scripts/mutants.txt names a file, a text that occurs there exactly once, what to
put in its place and the tests (a ctest -R pattern) expected to notice. The script first runs the
whole main suite on the unchanged tree (a test failing there makes every verdict doubtful), then
applies one mutant at a time to the working tree, rebuilds a build tree of its own and runs the
named tests; a mutant they miss meets the rest of the main suite before it counts as survived, so
renamed or moved tests still count. It reports which test killed each mutant.

    scripts/mutation-check.py                 every mutant
    scripts/mutation-check.py NAME...         only these
    scripts/mutation-check.py --list          names and files
    scripts/mutation-check.py --json FILE     also write the verdicts as JSON
    scripts/mutation-check.py --no-baseline NAME...   repeat a few, trusting an earlier baseline

The working tree is restored after every mutant, also on Ctrl+C or SIGTERM. Takes a while: every
mutant is an incremental build and a test run. Tunables (environment): MUTATION_BUILD_DIR,
MUTATION_JOBS (tests run at once, 4).
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("MUTATION_BUILD_DIR", os.path.join(ROOT, "build-mutation"))
JOBS = os.environ.get("MUTATION_JOBS", "4")
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
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        return -1, out + "\ntimed out after %ds" % timeout


def configure():
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        rc, out = run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja",
                       "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], ROOT, 600)
        if rc != 0:
            sys.exit("configure failed:\n" + out)


def tests_matching(pattern):
    _, out = run(["ctest", "-N", "-R", pattern], BUILD, 60)
    return re.findall(r"Test\s+#\d+: (\S+)", out)


def failed_tests(ctest_output):
    """The names ctest lists as failed (not those it never started)."""
    _, _, listing = ctest_output.partition("The following tests FAILED:")
    return [name for name, why in re.findall(r"^\s*\d+ - (\S+) \((.+)\)\s*$", listing, re.M)
            if why not in ("Not Run", "Disabled")]


def build(targets):
    rc, out = run(["cmake", "--build", BUILD, "--target"] + targets, ROOT, 3600)
    return rc == 0, out


def ctest(selection):
    """Runs tests (ctest selection arguments); returns (passed, failed test names, output).
    Stops starting tests at the first failure: one failing test is enough to kill."""
    rc, out = run(["ctest", "--output-on-failure", "--stop-on-failure", "-j", JOBS] + selection,
                  BUILD, 3600)
    if "No tests were found" in out:
        return True, [], out
    failed = failed_tests(out)
    if rc != 0 and not failed:
        failed = ["(ctest exit %d)" % rc]
    return rc == 0, failed, out


def judge(mutant, flaky):
    """Returns (verdict, killers, stage): 'killed' by the named or the other tests, 'SURVIVED',
    or 'no build'."""
    named = tests_matching(mutant["tests"])
    if not named:
        print("  note: no test matches %r; the whole suite judges %s" % (mutant["tests"], mutant["name"]))
    else:
        ok, out = build(ALWAYS_BUILT + [n for n in named if n.startswith("tst_")])
        if not ok:
            return "no build", [], out
        passed, failed, _ = ctest(["-R", mutant["tests"]])
        if not passed:
            failed = confirmed(failed, flaky)
            if failed:
                return "killed", failed, "named"
    ok, out = build(["all"])
    if not ok:
        return "no build", [], out
    passed, failed, _ = ctest(["-E", mutant["tests"]] if named else [])
    if not passed:
        # A test that was not expected to notice must fail twice: a slow moment under load
        # would otherwise count as a kill.
        failed = confirmed(failed, set(failed))
        if failed:
            return "killed", failed, "rest"
    return "SURVIVED", [], ""


def confirmed(failed, flaky):
    """Failures of tests seen flaky on the unchanged tree count only if they fail again."""
    sure = [t for t in failed if t not in flaky]
    for test in [t for t in failed if t in flaky]:
        passed, _, _ = ctest(["-R", "^%s$" % re.escape(test)])
        if not passed:
            sure.append(test)
    return sure


def baseline():
    """Runs the whole main suite on the unchanged tree; failures are run again once. Returns the
    tests that failed once and then passed (flaky); exits if any fails twice."""
    ok, out = build(["all"])
    if not ok:
        print(out[-4000:])
        sys.exit("baseline: the unchanged tree does not build")
    rc, out = run(["ctest", "--output-on-failure", "-j", JOBS], BUILD, 3600)
    failed = failed_tests(out)
    if rc == 0:
        return []
    if not failed:
        print(out[-4000:])
        sys.exit("baseline: ctest failed (exit %d) without naming a test" % rc)
    print("baseline: failed at first: %s; running them again" % ", ".join(failed), flush=True)
    still = [t for t in failed if not ctest(["-R", "^%s$" % re.escape(t)])[0]]
    if still:
        print(out[-4000:])
        sys.exit("baseline: %s fail on the unchanged tree: fix the suite first" % ", ".join(still))
    return failed


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


def on_terminate(signum, frame):
    # Unwinds like Ctrl+C does, so the mutated file is put back.
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--json", metavar="FILE", help="write the verdicts to FILE")
    parser.add_argument("--mutants", default=os.path.join(ROOT, "scripts", "mutants.txt"))
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the run on the unchanged tree (to repeat a few mutants)")
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
    signal.signal(signal.SIGTERM, on_terminate)

    configure()
    start = time.monotonic()
    flaky = []
    if args.no_baseline:
        build(["all"])
    else:
        print("baseline: the whole main suite on the unchanged tree", flush=True)
        flaky = baseline()
        print("baseline: passed in %.0fs%s" % (time.monotonic() - start,
              "; flaky: " + ", ".join(flaky) if flaky else ""), flush=True)

    results = []
    for number, mutant in enumerate(mutants, 1):
        began = time.monotonic()
        path, original = apply(mutant)
        try:
            verdict, killers, stage = judge(mutant, flaky)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        seconds = time.monotonic() - began
        by = ""
        if verdict == "killed":
            by = "by " + ", ".join(killers) + ("" if stage == "named" else " (not a named test)")
        print("%2d/%d %-34s %-9s %4.0fs  %s" % (number, len(mutants), mutant["name"], verdict,
                                                seconds, by), flush=True)
        results.append({"name": mutant["name"], "file": mutant["file"], "verdict": verdict,
                        "killed_by": killers, "by_named_tests": stage == "named",
                        "seconds": round(seconds)})
    # Leave the mutation tree built from the restored sources.
    build(["all"])

    killed = [r for r in results if r["verdict"] == "killed"]
    survived = [r for r in results if r["verdict"] == "SURVIVED"]
    stillborn = [r for r in results if r["verdict"] == "no build"]
    scored = len(killed) + len(survived)
    print()
    for r in survived:
        m = next(m for m in mutants if m["name"] == r["name"])
        print("survived: %s (%s: %r -> %r)" % (m["name"], m["file"], m["find"], m["replace"]))
    for r in stillborn:
        print("did not build: %s (%s)" % (r["name"], r["file"]))
    if flaky:
        print("flaky on the unchanged tree: " + ", ".join(flaky))
    print("mutation score: %d of %d killed (%.0f%%); %d did not build, not counted; %.0f min"
          % (len(killed), scored, 100.0 * len(killed) / max(scored, 1), len(stillborn),
             (time.monotonic() - start) / 60))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"killed": len(killed), "scored": scored, "flaky": flaky, "mutants": results},
                      f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
