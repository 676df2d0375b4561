#!/usr/bin/env python3
"""Prints the include graph between the source folders and fails when it has a cycle or breaks the
house rule: core/ includes only core/; portable folders include no backend (platform/*) and no
program (app/)."""
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
NESTED = ("platform", "swf")  # folders whose sub-folders are units of their own
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit_of(path):
    parts = path.split("/")
    if parts[0] in NESTED and len(parts) > 2:
        return parts[0] + "/" + parts[1]
    return parts[0]


def main():
    edges = defaultdict(set)
    units = set()
    for dirpath, _, files in os.walk(ROOT):
        for name in files:
            if not name.endswith((".h", ".cpp", ".c", ".cc")):
                continue
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, ROOT).replace(os.sep, "/")
            src = unit_of(rel)
            units.add(src)
            with open(full, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for inc in INCLUDE.findall(text):
                if "/" not in inc or not os.path.exists(os.path.join(ROOT, inc)):
                    continue
                dst = unit_of(inc)
                if dst != src:
                    edges[src].add(dst)
    problems = []
    for src in sorted(units):
        print(f"{src:24} -> {' '.join(sorted(edges[src])) or '(nothing)'}")
        for dst in edges[src]:
            if src == "core":
                problems.append(f"core includes {dst}")
            backend = dst.startswith("platform/") or dst == "app"
            if backend and not (src.startswith("platform") or src == "app"):
                problems.append(f"portable folder {src} includes {dst}")
    # Cycle search: depth-first with colours.
    colour = {}
    stack = []

    def visit(u):
        colour[u] = 1
        stack.append(u)
        for v in sorted(edges[u]):
            if colour.get(v) == 1:
                problems.append("cycle: " + " -> ".join(stack[stack.index(v):] + [v]))
            elif v not in colour:
                visit(v)
        stack.pop()
        colour[u] = 2

    for u in sorted(units):
        if u not in colour:
            visit(u)
    for p in problems:
        print("include rule broken:", p)
    if problems:
        return 1
    print(f"{len(units)} folders, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
