#!/usr/bin/env python3
"""Checks the application benchmark itself: it never writes into the user's
profile, even when given a relative folder, the row count it prints for the
typing pass is the one the typed query leaves in the list, and a search run
reports the figures the parent gathers.

    check_bench_app.py BENCH_APP
"""
import os
import re
import subprocess
import sys
import tempfile

NOTES = 300


def run(bench, cwd, env, *args):
    done = subprocess.run([bench, *args], cwd=cwd, env=env, capture_output=True, text=True, timeout=600)
    return done.returncode, done.stdout + done.stderr


def files_under(folder):
    return [os.path.join(d, f) for d, _, names in os.walk(folder) for f in names]


def last_rows(output, label):
    found = re.search(re.escape(label) + r".*\(last rows (\d+)\)", output)
    if not found:
        sys.exit(f"no '{label}' line in:\n{output}")
    return int(found.group(1))


def main():
    bench = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as top:
        user = os.path.join(top, "user")  # stands in for the user's own profile
        work = os.path.join(top, "work")  # the folder the benchmark is started in
        os.makedirs(user)
        os.makedirs(work)
        env = dict(os.environ, HOME=user, XDG_CONFIG_HOME=os.path.join(user, ".config"),
                   XDG_DATA_HOME=os.path.join(user, ".local/share"),
                   XDG_CACHE_HOME=os.path.join(user, ".cache"), QT_QPA_PLATFORM="offscreen")
        env.pop("XDG_STATE_HOME", None)

        # A relative profile folder: the store lands inside it, never in the user's.
        code, output = run(bench, work, env, "--fill", "profile", str(NOTES))
        if code != 0:
            failures.append(f"--fill with a relative folder failed ({code}):\n{output}")
        stores = [f for f in files_under(os.path.join(work, "profile")) if f.endswith(".sqlite")]
        if not stores:
            failures.append("--fill wrote no store inside the relative profile folder")

        code, output = run(bench, work, env, "--search", "profile", str(NOTES), "0")
        if code != 0:
            failures.append(f"--search failed ({code}):\n{output}")
        else:
            typed = last_rows(output, "search, per keystroke")
            again = last_rows(output, "search, typed a second time")
            predicate = last_rows(output, "predicate layer filter (no view)")
            # The list after typing holds what the query matches: what the
            # predicate layer finds, and fewer than all the live notes.
            if not (typed == again == predicate and typed < NOTES):
                failures.append(f"rows after typing {typed}, typed again {again}, "
                                f"predicate layer {predicate}, live notes {NOTES}")
            # The parent gathers these over its runs.
            for name in ("search.firstMs", "search.slowestMs", "search.residentRatio", "save.medianMs"):
                if not re.search(r"^figure " + re.escape(name) + r" [0-9.]+$", output, re.M):
                    failures.append(f"no figure {name} in:\n{output}")

        touched = files_under(user)
        if touched:
            failures.append("the benchmark wrote into the user's profile: " + ", ".join(touched))

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
