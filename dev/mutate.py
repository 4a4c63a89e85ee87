#!/usr/bin/env python3
"""Mutation check of the library's sources: how many small faults does the test suite catch?

Each mutant changes one line of api/, stream/, ebml/, matroska/ or demux/ (.cpp and .h):
  cmp    a comparison flipped: < and <=, > and >=, == and !=
  int    an integer literal plus or minus one (constants, bounds, IDs)
  drop   an expression, return, break or continue statement replaced by an empty one
  logic  && and || swapped
  bool   true and false swapped
Comments, string and character literals, preprocessor lines and compile-time layout checks
are left alone.

Every candidate is enumerated in a fixed order and a seeded random sample is drawn. For each
mutant the script writes it into the tree, rebuilds the build directory (only what changed),
runs the whole suite with ctest, and puts the file back. A mutant is "killed" when a test
fails or times out, "survived" when the suite passes, "not viable" when it does not compile.
The score is killed / (killed + survived).

    dev/mutate.py [--seed 1] [--count 250] [--save-sample FILE | --load-sample FILE]
                  [--report FILE] [--build-dir build-mutate] [--timeout 60] [--jobs 2]
                  [--every K] [--resume] [--dry-run]

--load-sample reruns a saved sample. A mutant is found again by its file and the text of its
original line (the occurrence nearest its old line number), so it survives lines moving; one
whose line no longer exists is reported as "gone" and left out of the score.
--resume keeps the results of mutants already run into the same build directory (after an
interruption) instead of running them again. --every K runs the 1st, K+1st, 2K+1st ... mutant of
the sample only: a smaller subset spread over every directory, for when the whole sample takes
too long; before/after comparisons must use the same K. --dry-run only enumerates, samples and saves.

The build directory is configured on first use (Debug, warnings not errors, tests and tools
on). Whatever happens, the mutated file is restored: on errors and Ctrl-C by the script
itself, and after a hard kill by the next run, from the copy it keeps in the build directory.
"""
import argparse
import hashlib
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIRS = ("api", "stream", "ebml", "matroska", "demux")
OPERATORS = ("cmp", "int", "drop", "logic", "bool")
JOURNAL = "mutate-journal.json"
PROGRESS = "mutate-progress.jsonl"

# ---------------------------------------------------------------------------------------------
# Reading C++ well enough to find mutation sites


def mask_code(text):
    """Returns text with comments and string/char literals blanked to spaces, newlines kept,
    so that positions in the result are positions in the source."""
    out = list(text)
    n = len(text)

    def blank(start, end):
        for k in range(start, end):
            if out[k] != "\n":
                out[k] = " "

    i = 0
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            blank(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            blank(i, end)
            i = end
        elif c.isdigit():
            # A whole number, so that a digit separator (1'000) is not taken for a char literal.
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] in "_.'" or
                             (text[j] in "+-" and text[j - 1] in "eEpP")):
                j += 1
            i = j
        elif c.isalpha() or c == "_":
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            raw = re.match(r'"([^()\\\s]{0,16})\(', text[j:]) if text[i:j] in ("R", "u8R", "uR", "UR", "LR") else None
            if raw:
                close = ")" + raw.group(1) + '"'
                end = text.find(close, j)
                end = n if end < 0 else end + len(close)
                blank(i, end)
                i = end
            else:
                i = j  # an encoding prefix (u8, L) is followed by the literal, blanked next
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            end = min(j + 1, n)
            blank(i, end)
            i = end
        else:
            i += 1
    return "".join(out)


def skipped_lines(masked_lines):
    """Indexes of lines no mutant may touch: preprocessor lines (with their continuations)
    and compile-time checks, whose mutants only test the compiler."""
    skip = set()
    continued = False
    for index, line in enumerate(masked_lines):
        if continued or line.lstrip().startswith("#"):
            skip.add(index)
            continued = line.rstrip().endswith("\\")
    for index, line in enumerate(masked_lines):
        if re.search(r"\b(static_assert|ZOLVDMX_LAYOUT_CHECK)\b", line):
            end = index
            while end < len(masked_lines) and ";" not in masked_lines[end]:
                end += 1
            skip.update(range(index, end + 1))
    return skip


TOKEN = re.compile(r"""
    (?P<num>\d(?:[\w.']|(?<=[eEpP])[+-])*)
  | (?P<id>[A-Za-z_]\w*)
  | (?P<op><<=|>>=|<=>|->\*|->|<<|>>|<=|>=|==|!=|&&|\|\||::|\+\+|--|[-+*/%&|^]=|\.\.\.|\S)
""", re.X)


class Token:
    __slots__ = ("kind", "text", "line", "col")

    def __init__(self, kind, text, line, col):
        self.kind, self.text, self.line, self.col = kind, text, line, col


def tokenize(masked_lines, skip):
    tokens = []
    for index, line in enumerate(masked_lines):
        if index in skip:
            continue
        for m in TOKEN.finditer(line):
            tokens.append(Token(m.lastgroup, m.group(), index, m.start()))
    return tokens


# Words that start a line which is not an expression statement.
NOT_EXPRESSION = {
    "alignas", "alignof", "auto", "bool", "case", "catch", "char", "class", "const", "const_cast",
    "constexpr", "decltype", "default", "do", "double", "dynamic_cast", "else", "enum", "explicit",
    "extern", "float", "for", "friend", "if", "inline", "int", "long", "mutable", "namespace",
    "new", "noexcept", "operator", "private", "protected", "public", "register", "reinterpret_cast",
    "short", "signed", "sizeof", "static", "static_assert", "static_cast", "struct", "switch",
    "template", "thread_local", "try", "typedef", "typename", "union", "unsigned", "using",
    "virtual", "void", "volatile", "while",
}
JUMPS = {"return", "break", "continue", "goto", "throw", "delete"}
ASSIGNMENTS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
# After these, an opening brace starts a block of statements.
BLOCK_OPENERS = {")", "else", "do", "try", "const", "noexcept", "override", "final", "mutable",
                 ";", "{", "}", ":", "]"}


def code_block_lines(tokens, line_count):
    """For each line, whether it starts inside a block of statements (a function body) rather
    than at namespace or class scope or inside a braced initializer."""
    in_code = [False] * line_count
    stack = []
    previous = None
    at = 0
    for index in range(line_count):
        while at < len(tokens) and tokens[at].line < index:
            token = tokens[at]
            if token.text == "{":
                inside = bool(stack) and stack[-1]
                if previous is None:
                    stack.append(False)
                elif inside:
                    stack.append(previous.text in BLOCK_OPENERS)
                else:
                    # Outside code only a function body (after its parameters, qualifiers or
                    # member initializers) holds statements.
                    stack.append(previous.text in (")", "const", "noexcept", "override", "final", "}"))
            elif token.text == "}" and stack:
                stack.pop()
            previous = token
            at += 1
        in_code[index] = bool(stack) and stack[-1]
    return in_code


def template_brackets(line_tokens):
    """Indexes of '<', '>' and '>>' tokens of a line that delimit template arguments."""
    brackets = set()
    allowed = {"::", ",", "*", "&", "(", ")", "[", "]"}
    for i, token in enumerate(line_tokens):
        if token.text != "<" or i == 0 or line_tokens[i - 1].kind != "id":
            continue
        depth = 1
        for j in range(i + 1, len(line_tokens)):
            text = line_tokens[j].text
            if text == "<":
                depth += 1
            elif text in (">", ">>"):
                depth -= 1 if text == ">" else 2
                if depth <= 0:
                    brackets.update((i, j))
                    break
            elif line_tokens[j].kind not in ("id", "num") and text not in allowed:
                break
    return brackets


INTEGER = re.compile(r"^(0[xX])([0-9a-fA-F']+)([uUlLzZ]*)$|^(0[bB])([01']+)([uUlLzZ]*)$|^([0-9][0-9']*)([uUlLzZ]*)$")


def integer_variants(text):
    """The literal plus one and minus one, written in the same base, case and width."""
    m = INTEGER.match(text)
    if not m:
        return []
    if m.group(1):
        prefix, digits, suffix, base = m.group(1), m.group(2).replace("'", ""), m.group(3), 16
    elif m.group(4):
        prefix, digits, suffix, base = m.group(4), m.group(5).replace("'", ""), m.group(6), 2
    else:
        digits, suffix = m.group(7).replace("'", ""), m.group(8)
        prefix, base = ("0", 8) if len(digits) > 1 and digits.startswith("0") else ("", 10)
        if base == 8:
            digits = digits[1:]
    value = int(digits, base)
    results = []
    for new in (value + 1, value - 1):
        if new < 0:
            continue
        if base == 16:
            body = format(new, "X" if any(ch in "ABCDEF" for ch in digits) else "x").zfill(len(digits))
        elif base == 2:
            body = format(new, "b").zfill(len(digits))
        elif base == 8:
            body = format(new, "o")
        else:
            body = str(new)
        results.append(prefix + body + suffix)
    return results


def droppable(line_tokens):
    """Whether a line holding exactly one whole statement is an expression statement or a jump
    (removing a declaration would not compile, so those are not offered)."""
    texts = [t.text for t in line_tokens]
    if not texts or texts[-1] != ";" or texts.count(";") != 1 or "{" in texts or "}" in texts:
        return False
    if texts.count("(") != texts.count(")"):
        return False
    first = line_tokens[0]
    if first.text in JUMPS:
        return True
    if first.text in ("++", "--"):
        return True
    if first.text == "*":
        return any(t in ASSIGNMENTS for t in texts)
    if first.kind != "id" or first.text in NOT_EXPRESSION:
        return False
    # Skip a qualified name and template arguments, then look at what follows the name.
    i = 1
    while i + 1 < len(texts) and texts[i] == "::" and line_tokens[i + 1].kind == "id":
        i += 2
    if i < len(texts) and texts[i] == "<":
        depth = 0
        while i < len(texts):
            depth += {"<": 1, ">": -1, ">>": -2}.get(texts[i], 0)
            i += 1
            if depth <= 0:
                break
    if i >= len(texts):
        return False
    follower = texts[i]
    return follower in ("(", ".", "->", "[", "++", "--") or follower in ASSIGNMENTS


def file_mutants(relpath, text):
    """Every mutant of one file, in line and column order."""
    lines = text.split("\n")
    masked_lines = mask_code(text).split("\n")
    skip = skipped_lines(masked_lines)
    tokens = tokenize(masked_lines, skip)
    in_code = code_block_lines(tokens, len(lines))
    by_line = {}
    for token in tokens:
        by_line.setdefault(token.line, []).append(token)

    mutants = []

    def add(index, operator, col, old, new, description):
        original = lines[index]
        mutated = original[:col] + new + original[col + len(old):]
        mutants.append({"file": relpath, "line": index + 1, "column": col + 1, "operator": operator,
                        "description": description, "original": original, "mutated": mutated})

    flips = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
    previous_end = None
    for index in range(len(lines)):
        line_tokens = by_line.get(index, [])
        if not line_tokens:
            continue
        brackets = template_brackets(line_tokens)
        for i, token in enumerate(line_tokens):
            before = line_tokens[i - 1] if i else None
            after = line_tokens[i + 1] if i + 1 < len(line_tokens) else None
            if token.text in flips and i not in brackets and not (before and before.text == "operator"):
                new = flips[token.text]
                add(index, "cmp", token.col, token.text, new, "%s -> %s" % (token.text, new))
            elif token.kind == "num" and not (before and before.text == "." and before.col + 1 == token.col):
                for new in integer_variants(token.text):
                    add(index, "int", token.col, token.text, new, "%s -> %s" % (token.text, new))
            elif token.text == "||":
                add(index, "logic", token.col, "||", "&&", "|| -> &&")
            elif token.text == "&&":
                # Body&& body is a forwarding reference, not a conjunction.
                glued = token.col > 0 and not lines[index][token.col - 1].isspace()
                reference = glued and before is not None and (before.kind == "id" or before.text == ">") and \
                    (after is None or after.kind == "id" or after.text in (")", ",", "..."))
                if not reference:
                    add(index, "logic", token.col, "&&", "||", "&& -> ||")
            elif token.text in ("true", "false"):
                new = "false" if token.text == "true" else "true"
                add(index, "bool", token.col, token.text, new, "%s -> %s" % (token.text, new))
        # A statement alone on its line, starting where the previous one ended.
        starts_statement = previous_end is None or previous_end.text in (";", "{", "}", ":", ")", "else", "do")
        if in_code[index] and starts_statement and droppable(line_tokens):
            start, end = line_tokens[0].col, line_tokens[-1].col + 1
            original = lines[index]
            mutants.append({"file": relpath, "line": index + 1, "column": start + 1, "operator": "drop",
                            "description": "drop statement",
                            "original": original, "mutated": original[:start] + ";" + original[end:]})
        previous_end = line_tokens[-1]
    return mutants


def source_files():
    files = []
    for directory in SOURCE_DIRS:
        for name in sorted(os.listdir(os.path.join(TOP, directory))):
            if name.endswith((".cpp", ".h")):
                files.append(directory + "/" + name)
    return files


def read(relpath):
    with open(os.path.join(TOP, relpath), encoding="utf-8", newline="") as f:
        return f.read()


def write(relpath, text):
    with open(os.path.join(TOP, relpath), "w", encoding="utf-8", newline="") as f:
        f.write(text)


def all_mutants():
    mutants = []
    for relpath in source_files():
        mutants.extend(file_mutants(relpath, read(relpath)))
    return mutants


def locate(mutant):
    """The line index where a saved mutant applies now, or None when its line is gone."""
    path = os.path.join(TOP, mutant["file"])
    if not os.path.exists(path):
        return None
    lines = read(mutant["file"]).split("\n")
    want = mutant["line"] - 1
    for same in (lambda line: line == mutant["original"],
                 lambda line: line.strip() == mutant["original"].strip()):
        matches = [i for i, line in enumerate(lines) if same(line)]
        if matches:
            return min(matches, key=lambda i: (abs(i - want), i))
    return None


def apply_text(mutant, index):
    lines = read(mutant["file"]).split("\n")
    current = lines[index]
    if current == mutant["original"]:
        lines[index] = mutant["mutated"]
    else:  # the line moved and was re-indented: keep its new indentation
        lines[index] = current[:len(current) - len(current.lstrip())] + mutant["mutated"].lstrip()
    return "\n".join(lines)


# ---------------------------------------------------------------------------------------------
# Building and testing


class Interrupted(Exception):
    pass


def on_terminate(signum, frame):
    raise Interrupted("signal %d" % signum)


def run(command, timeout=None):
    """Runs a command in its own process group and returns (exit code or None on timeout,
    output). Ends the whole group on a timeout or an interruption."""
    process = subprocess.Popen(command, cwd=TOP, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, errors="replace", start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output
    except BaseException as error:
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(process.pid, sig)
            except ProcessLookupError:
                break
            try:
                output, _ = process.communicate(timeout=10)
                break
            except subprocess.TimeoutExpired:
                output = ""
        if isinstance(error, subprocess.TimeoutExpired):
            return None, output or ""
        raise


class Runner:
    def __init__(self, build_dir, jobs, timeout):
        self.build_dir = build_dir
        self.jobs = jobs
        self.timeout = timeout
        self.journal = os.path.join(build_dir, JOURNAL)

    def configure(self):
        if not os.path.exists(os.path.join(self.build_dir, "CMakeCache.txt")):
            code, output = run(["cmake", "-S", TOP, "-B", self.build_dir, "-DCMAKE_BUILD_TYPE=Debug",
                                "-DMKV_WERROR=OFF", "-DMKV_BUILD_TESTS=ON", "-DMKV_BUILD_TOOLS=ON"])
            if code != 0:
                sys.exit("configuring %s failed:\n%s" % (self.build_dir, output[-3000:]))

    def build(self):
        return run(["cmake", "--build", self.build_dir, "-j%d" % self.jobs])

    def test(self):
        # Generous outer limit: ctest stops at the first test over its own limit.
        return run(["ctest", "--test-dir", self.build_dir, "-j%d" % self.jobs, "--stop-on-failure",
                    "--timeout", str(self.timeout)], timeout=max(1800, 20 * self.timeout))

    def recover(self):
        """Puts back a file left mutated by a run that was killed outright."""
        if not os.path.exists(self.journal):
            return
        with open(self.journal, encoding="utf-8") as f:
            entry = json.load(f)
        current = read(entry["file"])
        if current == entry["mutant"]:
            write(entry["file"], entry["pristine"])
            print("restored %s, left mutated by an earlier run" % entry["file"])
        elif current != entry["pristine"]:
            sys.exit("%s differs from both the copy in %s and the mutant written there; check it by hand "
                     "and remove that file" % (entry["file"], self.journal))
        os.remove(self.journal)

    def run_mutant(self, mutant, index):
        pristine = read(mutant["file"])
        mutated = apply_text(mutant, index)
        with open(self.journal, "w", encoding="utf-8") as f:
            json.dump({"file": mutant["file"], "pristine": pristine, "mutant": mutated}, f)
        try:
            write(mutant["file"], mutated)
            code, output = self.build()
            if code != 0:
                errors = [line.strip() for line in output.splitlines() if "error" in line]
                return {"status": "not viable", "detail": errors[0][:300] if errors else "build failed"}
            code, output = self.test()
            if code is None:
                return {"status": "killed", "detail": "ctest itself timed out", "hang": True}
            if code == 0:
                return {"status": "survived"}
            for failed in re.finditer(r"Test\s+#\d+: (\S+) \.*\s*(.*?)\s+[\d.]+ sec", output):
                outcome = failed.group(2).strip("* ")
                if not outcome.startswith(("Passed", "Skipped")):
                    return {"status": "killed", "detail": "%s (%s)" % (failed.group(1), outcome),
                            "hang": "Timeout" in outcome}
            tail = [line for line in output.splitlines() if line.strip()][-1:]
            return {"status": "killed", "detail": tail[0][:300] if tail else "ctest failed"}
        finally:
            write(mutant["file"], pristine)
            os.remove(self.journal)


# ---------------------------------------------------------------------------------------------
# Reporting


def score_text(counts):
    tested = counts["killed"] + counts["survived"]
    return "%.1f%% (%d of %d)" % (100.0 * counts["killed"] / tested, counts["killed"], tested) if tested else "n/a"


def write_report(path, results, header, elapsed):
    counts = {status: 0 for status in ("killed", "survived", "not viable", "gone")}
    for mutant, result in results:
        counts[result["status"]] += 1
    lines = ["# Mutation check", ""]
    lines += ["- %s" % item for item in header]
    lines += ["- time: %s" % format_duration(elapsed), "",
              "| killed | survived | not viable | gone | score |", "|---|---|---|---|---|",
              "| %d | %d | %d | %d | %s |" % (counts["killed"], counts["survived"], counts["not viable"],
                                              counts["gone"], score_text(counts)), ""]
    by_file = {}
    for mutant, result in results:
        by_file.setdefault(mutant["file"], []).append((mutant, result))
    lines += ["## Score by file", "", "| file | killed | survived | not viable |", "|---|---|---|---|"]
    for relpath in sorted(by_file):
        tally = {s: sum(1 for _, r in by_file[relpath] if r["status"] == s) for s in counts}
        lines.append("| %s | %d | %d | %d |" % (relpath, tally["killed"], tally["survived"], tally["not viable"]))
    lines += ["", "## Survivors", ""]
    for relpath in sorted(by_file):
        survivors = [(m, r) for m, r in by_file[relpath] if r["status"] == "survived"]
        if survivors:
            lines.append("### %s" % relpath)
            lines.append("")
            for mutant, _ in survivors:
                lines.append("- %d: %s `%s`: `%s`" % (mutant["line"], mutant["operator"], mutant["description"],
                                                       mutant["original"].strip()))
            lines.append("")
    hangs = [(m, r) for m, r in results if r.get("hang")]
    if hangs:
        lines += ["## Killed by a time-out", ""]
        lines += ["- %s:%d %s `%s`: %s" % (m["file"], m["line"], m["operator"], m["description"], r["detail"])
                  for m, r in hangs]
        lines.append("")
    for status, title in (("not viable", "Not viable (do not compile)"), ("gone", "Gone (line no longer exists)")):
        chosen = [(m, r) for m, r in results if r["status"] == status]
        if chosen:
            lines += ["## %s" % title, ""]
            lines += ["- %s:%d %s `%s`: `%s`" % (m["file"], m["line"], m["operator"], m["description"],
                                                 m["original"].strip()) for m, _ in chosen]
            lines.append("")
    text = "\n".join(lines)
    print("\n" + text)
    if path:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        print("report written to %s" % path)


def format_duration(seconds):
    seconds = int(seconds)
    return "%d h %02d min %02d s" % (seconds // 3600, seconds // 60 % 60, seconds % 60)


def tree_digest():
    digest = hashlib.sha256()
    for relpath in source_files():
        digest.update(relpath.encode())
        digest.update(read(relpath).encode())
    return digest.hexdigest()


def git_revision():
    try:
        head = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=TOP, capture_output=True,
                              text=True).stdout.strip()
        dirty = subprocess.run(["git", "status", "--porcelain", "--"] + list(SOURCE_DIRS), cwd=TOP,
                               capture_output=True, text=True).stdout.strip()
        return head + (" with uncommitted changes" if dirty else "")
    except OSError:
        return "unknown"


# ---------------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=250)
    sample_source = parser.add_mutually_exclusive_group()
    sample_source.add_argument("--save-sample", metavar="FILE")
    sample_source.add_argument("--load-sample", metavar="FILE")
    parser.add_argument("--report", metavar="FILE", help="default: BUILD_DIR/mutation-report.md")
    parser.add_argument("--build-dir", default="build-mutate")
    parser.add_argument("--timeout", type=int, default=60, help="seconds per test")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--every", type=int, default=1, metavar="K",
                        help="run only every K-th mutant of the sample (1st, K+1st, ...)")
    parser.add_argument("--resume", action="store_true")
    parser.add_argument("--dry-run", action="store_true")
    args = parser.parse_args()

    build_dir = os.path.join(TOP, args.build_dir)
    runner = Runner(build_dir, args.jobs, args.timeout)
    if os.path.isdir(build_dir):
        runner.recover()

    if args.load_sample:
        with open(args.load_sample, encoding="utf-8") as f:
            saved = json.load(f)
        sample = saved["mutants"]
        header = ["sample: %s (seed %s, %d mutants of %s candidates when drawn at %s)" % (
            args.load_sample, saved.get("seed"), len(sample), saved.get("candidates"), saved.get("revision"))]
    else:
        candidates = all_mutants()
        chosen = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
        sample = sorted(chosen, key=lambda m: (m["file"], m["line"], m["column"], m["mutated"]))
        header = ["sample: seed %d, %d mutants of %d candidates" % (args.seed, len(sample), len(candidates))]
        tally = {op: sum(1 for m in candidates if m["operator"] == op) for op in OPERATORS}
        print("candidates: %d (%s)" % (len(candidates), ", ".join("%s %d" % kv for kv in tally.items())))
        if args.save_sample:
            with open(args.save_sample, "w", encoding="utf-8") as f:
                json.dump({"seed": args.seed, "count": args.count, "candidates": len(candidates),
                           "revision": git_revision(), "mutants": sample}, f, indent=1)
                f.write("\n")
            print("sample saved to %s" % args.save_sample)
    if args.every > 1:
        sample = sample[::args.every]
        header.append("every %d-th mutant of the sample: %d mutants" % (args.every, len(sample)))
    header.append("tree: %s" % git_revision())
    header.append("per-test time limit: %d s" % args.timeout)
    header.append("operators in the sample: %s" % ", ".join(
        "%s %d" % (op, sum(1 for m in sample if m["operator"] == op)) for op in OPERATORS))
    if args.dry_run:
        for m in sample:
            print("%s:%d %s %s\n    %s\n    %s" % (m["file"], m["line"], m["operator"], m["description"],
                                                   m["original"].strip(), m["mutated"].strip()))
        return 0

    signal.signal(signal.SIGTERM, on_terminate)
    started = time.time()
    digest = tree_digest()
    runner.configure()
    code, output = runner.build()
    if code != 0:
        sys.exit("the unmutated tree does not build:\n" + output[-3000:])
    clean_start = time.time()
    code, output = runner.test()
    if code != 0:
        sys.exit("the suite fails on the unmutated tree; a mutation check needs it passing:\n" + output[-3000:])
    print("unmutated suite passes in %.0f s" % (time.time() - clean_start))

    progress_path = os.path.join(build_dir, PROGRESS)
    done = {}
    if args.resume and os.path.exists(progress_path):
        with open(progress_path, encoding="utf-8") as f:
            for line in f:
                entry = json.loads(line)
                done[(entry["file"], entry["original"], entry["mutated"])] = entry["result"]
    progress = open(progress_path, "a" if args.resume else "w", encoding="utf-8")

    results = []
    try:
        for number, mutant in enumerate(sample, 1):
            key = (mutant["file"], mutant["original"], mutant["mutated"])
            mutant_start = time.time()
            if key in done:
                result = done[key]
            else:
                index = locate(mutant)
                if index is None:
                    result = {"status": "gone"}
                else:
                    mutant = dict(mutant, line=index + 1)
                    result = runner.run_mutant(mutant, index)
                progress.write(json.dumps({"file": mutant["file"], "original": mutant["original"],
                                           "mutated": mutant["mutated"], "result": result}) + "\n")
                progress.flush()
            results.append((mutant, result))
            elapsed = time.time() - started
            print("[%d/%d] %s:%d %s %s: %s%s (%.0f s, %s elapsed)" % (
                number, len(sample), mutant["file"], mutant["line"], mutant["operator"], mutant["description"],
                result["status"], " - " + result["detail"] if result.get("detail") else "",
                time.time() - mutant_start, format_duration(elapsed)), flush=True)
    except (KeyboardInterrupt, Interrupted) as error:
        print("interrupted (%s) after %d mutants; the tree is restored. Rerun with --resume to go on."
              % (error or "Ctrl-C", len(results)))
        return 130
    finally:
        progress.close()
        if tree_digest() != digest:
            print("warning: the sources differ from when the run started", file=sys.stderr)

    report = args.report or os.path.join(build_dir, "mutation-report.md")
    write_report(report, results, header, time.time() - started)
    return 0


if __name__ == "__main__":
    sys.exit(main())
