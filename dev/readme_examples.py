#!/usr/bin/env python3
"""Reruns the shell examples in README.md and docs/*.md and puts their real output in place.

An example is a fenced block (indented or not) whose lines start with "$ " (the commands); every
other line of the block is output and is replaced by what the commands print
now. Commands run from the top of the tree with ./build/ read as the build
directory given (default build-ci), in a shell; files they write there are
removed afterwards.

    dev/readme_examples.py [--build DIR] [--check] [FILE ...]

FILE: the Markdown files to go through (default: README.md and every docs/*.md), relative to
the current directory or to the top of the tree. A file is written only when an example in it
changed.
--check changes nothing and exits 1 when an example's output differs; it names each file that
differs on stderr.
"""
import argparse
import glob
import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(command, build):
    shell = command.replace("./build/", "./" + build + "/")
    result = subprocess.run(["bash", "-c", shell], cwd=TOP, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    return result.stdout.splitlines()


def refresh(lines, build):
    """The lines with every example's output rerun, and whether any of it changed."""
    out, i, changed = [], 0, False
    while i < len(lines):
        line = lines[i]
        out.append(line)
        i += 1
        indent = line[:len(line) - len(line.lstrip())]
        if line.strip() != "```" or i >= len(lines) or not lines[i].strip().startswith("$ "):
            continue
        block = []
        while i < len(lines) and lines[i].strip() != "```":
            block.append(lines[i])
            i += 1
        fresh = []
        for entry in block:
            if entry.strip().startswith("$ "):
                fresh.append(entry)
                fresh.extend((indent + output).rstrip() for output in run(entry.strip()[2:], build))
        changed |= fresh != block
        out.extend(fresh)
    return out, changed


def documents(names):
    """Absolute paths of the files named, or of README.md and docs/*.md."""
    if not names:
        return [os.path.join(TOP, "README.md")] + sorted(glob.glob(os.path.join(TOP, "docs", "*.md")))
    paths = []
    for name in names:
        if os.path.isabs(name) or os.path.exists(name):
            paths.append(os.path.abspath(name))
        else:
            paths.append(os.path.join(TOP, name))
    return paths


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-ci")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("files", nargs="*", metavar="FILE")
    args = parser.parse_args()
    before = set(os.listdir(TOP))
    differing = []
    try:
        for path in documents(args.files):
            with open(path) as f:
                lines = f.read().split("\n")
            out, changed = refresh(lines, args.build)
            if not changed:
                continue
            differing.append(os.path.relpath(path, TOP))
            if not args.check:
                with open(path, "w") as f:
                    f.write("\n".join(out))
    finally:
        for name in set(os.listdir(TOP)) - before:
            os.remove(os.path.join(TOP, name))
    if args.check:
        for name in differing:
            print("%s: an example's output differs" % name, file=sys.stderr)
        return 1 if differing else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
