#!/usr/bin/env python3
"""Runs the SWF conformance corpus through dazzlebox-movie and checks the result against the
expectations file of the repository.

Every folder below the corpus root that holds a test.toml and a test.swf is a case. A case passes
when its trace log matches output.txt (numbers within the case's approximations) and each of its
pictures matches within its tolerance and outliers. The pass rate is printed per family folder, in
all and without the cases whose names mention text, fonts, sound, filters, bitmaps, blending or
caching. The repository keeps two lists beside each other: the cases failing today
(expected-failures.txt) and those passing today (passing.txt). A listed passing case that fails is
a regression (exit status 1); a case listed as failing that passes is reported so that the lists
can be brought up to date (--update); cases on neither list (another half of the corpus) are
counted and reported only.

    scripts/conformance.py [CORPUS] [--tool PATH] [-j N] [--timeout S] [--filter REGEX]
                           [--expectations FILE] [--update] [--verbose]
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
import tomllib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOPICS = re.compile(r"text|font|edit|sound|filter|bitmap|blend|cache", re.I)
NUMBER = re.compile(r"-?(?:\d+\.?\d*|\.\d+)(?:e[-+]?\d+)?", re.I)


def find_cases(corpus, text_filter):
    cases = []
    for dirpath, dirnames, filenames in os.walk(corpus):
        dirnames.sort()
        if "test.toml" in filenames and "test.swf" in filenames:
            rel = os.path.relpath(dirpath, corpus).replace(os.sep, "/")
            if text_filter and not re.search(text_filter, rel):
                continue
            cases.append(rel)
    return cases


def as_number(s):
    try:
        return float(s)
    except ValueError:
        return None


def lines_match(expected, actual, approx):
    if expected == actual:
        return True
    if not approx:
        return False
    eps = float(approx.get("epsilon", 0))
    if approx.get("bare_numbers"):
        a, b = as_number(expected), as_number(actual)
        if a is not None and b is not None:
            return abs(a - b) <= eps or (a != a and b != b)
    for pattern in approx.get("number_patterns", []):
        rx = re.compile(pattern)
        me, ma = rx.search(expected), rx.search(actual)
        if me and ma and me.groups() and len(me.groups()) == len(ma.groups()):
            if rx.sub("", expected) != rx.sub("", actual):
                continue
            ok = True
            for x, y in zip(me.groups(), ma.groups()):
                a, b = as_number(x or ""), as_number(y or "")
                if a is None or b is None or abs(a - b) > eps:
                    ok = False
            if ok:
                return True
    if not approx.get("number_patterns"):
        # Numbers anywhere in the line, the text between them exactly.
        if NUMBER.sub("#", expected) != NUMBER.sub("#", actual):
            return False
        xs, ys = NUMBER.findall(expected), NUMBER.findall(actual)
        return len(xs) == len(ys) and all(abs(float(x) - float(y)) <= eps for x, y in zip(xs, ys))
    return False


def traces_match(expected, actual, approx):
    exp = expected.replace("\r\n", "\n").split("\n")
    act = actual.replace("\r\n", "\n").split("\n")
    while exp and exp[-1] == "":
        exp.pop()
    while act and act[-1] == "":
        act.pop()
    if len(exp) != len(act):
        return False
    return all(lines_match(e, a, approx) for e, a in zip(exp, act))


def load_toml(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError:
        # Inline tables spread over several lines (newer TOML): put each on one line.
        def one_line(m):
            items = [x.strip().rstrip(",") for x in m.group(1).split("\n")]
            return "{ " + ", ".join(x for x in items if x) + " }"
        return tomllib.loads(re.sub(r"\{([^{}]*)\}", one_line, text))


REFERENCE_DATE = "2001-02-03T04:05:06+05:45"


def run_case(corpus, case, tool, timeout):
    d = os.path.join(corpus, case)
    try:
        spec = load_toml(os.path.join(d, "test.toml"))
    except (OSError, tomllib.TOMLDecodeError) as e:
        return case, "fail", f"test.toml: {e}"
    frames = int(spec.get("num_frames", spec.get("num_ticks", 1)))
    opts = spec.get("player_options", {})
    renderer = opts.get("with_renderer", {}) or {}
    quality = renderer.get("quality", "high")
    base = [tool, os.path.join(d, "test.swf"), "--frames", str(frames), "--quality", quality]
    # The reference traces were made with the calendar standing at this local moment, in a zone
    # 5 h 45 min ahead of UTC.
    base += ["--date", REFERENCE_DATE]
    vp = opts.get("viewport_dimensions")
    if vp:
        base += ["--size", f"{int(vp['width'])}x{int(vp['height'])}"]
        if vp.get("scale_factor"):
            base += ["--scale-factor", str(float(vp["scale_factor"]))]
    if spec.get("log_fetch"):
        base.append("--log-fetch")
    # Font files the case brings, under their family names, and the families the generic names
    # stand for (the first of each list).
    for font in spec.get("fonts", {}).values():
        if isinstance(font, dict) and font.get("family") and font.get("path"):
            base += ["--font", f"{font['family']}={os.path.join(d, font['path'])}"]
    for generic, families in spec.get("default_fonts", {}).items():
        if generic in ("sans", "serif", "typewriter") and families:
            base += ["--generic-font", f"{generic}={families[0]}"]
    inp = os.path.join(d, "input.json")
    if os.path.exists(inp):
        base += ["--input", inp]
    # The peer that the movie's XMLSocket connections reach.
    sock = os.path.join(d, "socket.json")
    if os.path.exists(sock):
        base += ["--socket", sock]
    comparisons = spec.get("image_comparisons", {})
    # Each picture is compared once per check: a tolerance and the outliers allowed beyond it
    # (the comparison's own, or every entry of its list of checks).
    runs = []
    for name, comp in comparisons.items():
        checks = comp.get("checks") or [comp]
        for check in checks:
            runs.append((name, comp, check))
    if not runs:
        runs = [(None, None, None)]
    trace_checked = False
    for name, comp, check in runs:
        cmd = list(base)
        if comp is not None:
            if comp.get("trigger"):
                cmd += ["--capture-frame", str(int(comp["trigger"]))]
            cmd += ["--expect", os.path.join(d, f"{name}.expected.png"),
                    "--tolerance", str(int(check.get("tolerance", 0)))]
        try:
            p = subprocess.run(cmd, capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return case, "timeout", f"over {timeout} s"
        if p.returncode != 0:
            return case, "crash", f"exit status {p.returncode}: {p.stderr.decode(errors='replace')[-300:]}"
        if not trace_checked:
            trace_checked = True
            expected_path = os.path.join(d, "output.txt")
            expected = ""
            if os.path.exists(expected_path):
                with open(expected_path, encoding="utf-8", errors="replace") as f:
                    expected = f.read()
            actual = p.stdout.decode("utf-8", errors="replace")
            if not traces_match(expected, actual, spec.get("approximations")):
                return case, "fail", "trace differs"
        if comp is not None:
            m = re.search(r"outliers (\d+|unreadable)", p.stderr.decode(errors="replace"))
            if not m or m.group(1) == "unreadable":
                return case, "fail", f"picture {name} not compared"
            if int(m.group(1)) > int(check.get("max_outliers", 0)):
                tolerance = int(check.get("tolerance", 0))
                return case, "fail", f"picture {name}: {m.group(1)} outliers beyond {tolerance}"
    return case, "pass", ""


def read_expectations(path):
    """The cases of a list, each with the reason written after it ("case  # why"), or ""."""
    listed = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                case, _, why = line.partition("#")
                case = case.strip()
                if case:
                    listed[case] = why.strip()
    return listed


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("corpus", nargs="?", default=os.path.join(ROOT, "..", "shared", "swf-conformance"))
    ap.add_argument("--tool", default=os.path.join(ROOT, "build", "release", "tools", "movie", "dazzlebox-movie"))
    ap.add_argument("-j", type=int, default=2)
    ap.add_argument("--timeout", type=float, default=20)
    ap.add_argument("--filter", default="", help="only the cases whose path matches this regular expression")
    ap.add_argument("--expectations", default=os.path.join(ROOT, "tests", "conformance", "expected-failures.txt"))
    ap.add_argument("--update", action="store_true", help="rewrite the expectations file from this run")
    ap.add_argument("--verbose", action="store_true")
    a = ap.parse_args()
    corpus = os.path.abspath(a.corpus)
    if not os.path.isdir(corpus):
        print(f"conformance: no corpus at {corpus}", file=sys.stderr)
        return 2
    if not os.path.exists(a.tool):
        print(f"conformance: no tool at {a.tool}", file=sys.stderr)
        return 2
    cases = find_cases(corpus, a.filter)
    results = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, a.j)) as pool:
        for case, status, why in pool.map(lambda c: run_case(corpus, c, a.tool, a.timeout), cases):
            results[case] = (status, why)
            if a.verbose and status != "pass":
                print(f"{status:8} {case}: {why}")

    families = sorted({c.split("/", 1)[0] for c in cases})
    print(f"{'folder':14} {'all':>16} {'without topics':>18}")
    for fam in families + ["(total)"]:
        sel = [c for c in cases if fam == "(total)" or c.split("/", 1)[0] == fam]
        core = [c for c in sel if not TOPICS.search(c.split("/")[-1])]
        def rate(group):
            n = len(group)
            ok = sum(1 for c in group if results[c][0] == "pass")
            return f"{ok}/{n} {100.0 * ok / n if n else 0:5.1f}%"
        print(f"{fam:14} {rate(sel):>16} {rate(core):>18}")
    crashes = [c for c in cases if results[c][0] in ("crash", "timeout")]
    for c in crashes:
        print(f"{results[c][0]}: {c}: {results[c][1]}")

    failing = {c for c in cases if results[c][0] != "pass"}
    if a.update:
        os.makedirs(os.path.dirname(a.expectations), exist_ok=True)
        # The reason written beside a case stays with it while it fails.
        reasons = read_expectations(a.expectations)
        kept = {c for c in reasons if c not in results}
        with open(a.expectations, "w", encoding="utf-8") as f:
            f.write("# Conformance cases that fail today (scripts/conformance.py --update writes this;\n")
            f.write("# the reason after a case's name is kept while the case fails).\n")
            for c in sorted(failing | kept):
                f.write(f"{c}  # {reasons[c]}\n" if reasons.get(c) else c + "\n")
        passing_path = os.path.join(os.path.dirname(a.expectations), "passing.txt")
        kept_passing = {c for c in read_expectations(passing_path) if c not in results}
        passing = {c for c in cases if results[c][0] == "pass"} | kept_passing
        with open(passing_path, "w", encoding="utf-8") as f:
            f.write("# Conformance cases that pass today (scripts/conformance.py --update writes this).\n")
            for c in sorted(passing):
                f.write(c + "\n")
        print(f"expectations: {len(failing | kept)} failing and {len(passing)} passing cases written")
        return 0
    listed = read_expectations(a.expectations)
    known_passing = read_expectations(os.path.join(os.path.dirname(a.expectations), "passing.txt"))
    unknown = sorted(c for c in failing if c not in listed and c not in known_passing)
    if unknown:
        print(f"{len(unknown)} failing cases are on neither list (not counted as regressions)")
    regressions = sorted(c for c in failing if c in known_passing)
    fixed = sorted(c for c in listed if c in results and results[c][0] == "pass")
    for c in fixed:
        print(f"newly passing: {c}")
    for c in regressions:
        print(f"REGRESSION: {c}: {results[c][0]} {results[c][1]}")
    if fixed:
        print(f"{len(fixed)} listed cases pass now: run with --update to take them off the list")
    return 1 if regressions else 0


if __name__ == "__main__":
    sys.exit(main())
