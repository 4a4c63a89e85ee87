#!/usr/bin/env python3
"""Reruns the shell examples in README.md and puts their real output in place.

An example is a fenced block (indented or not) whose lines start with "$ " (the commands); every
other line of the block is output and is replaced by what the commands print
now. Commands run from the top of the tree with ./build/ read as the build
directory given (default build-ci), in a shell; files they write there are
removed afterwards.

    dev/readme_examples.py [--build DIR] [--check]

--check changes nothing and exits 1 when an example's output differs.
"""
import argparse
import os
import re
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(command, build):
    shell = command.replace("./build/", "./" + build + "/")
    result = subprocess.run(["bash", "-c", shell], cwd=TOP, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    return result.stdout.splitlines()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-ci")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    path = os.path.join(TOP, "README.md")
    lines = open(path).read().split("\n")
    before = set(os.listdir(TOP))
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
                fresh.extend((indent + output).rstrip() for output in run(entry.strip()[2:], args.build))
        changed |= fresh != block
        out.extend(fresh)
    for name in set(os.listdir(TOP)) - before:
        os.remove(os.path.join(TOP, name))
    if args.check:
        return 1 if changed else 0
    open(path, "w").write("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
