#!/usr/bin/env python3
"""Checks the include graph between the project's own files.

Each folder belongs to a layer; a file may include files of its own layer and of the layers it
is allowed to use, never one above it:

    app (front ends app/win32, app/console on top)  ->  engine  ->  drive  ->  platform
    sim beside: it uses drive's types, platform and sumseal; only front ends, tests and
    benchmarks put it together with the rest.

It also looks for cycles between files. Prints each violation and exits 1 when there is one.
Usage: scripts/check-layers.py [ROOT]
"""
import os
import re
import sys

# What each layer may include besides itself.
USES = {
    "platform": set(),
    "sumseal": set(),
    "drive": {"platform"},
    "engine": {"drive", "platform", "sumseal"},
    "app": {"engine", "drive", "platform"},
    "frontend": {"app", "engine", "drive", "platform", "sumseal", "sim"},
    "sim": {"drive", "platform", "sumseal"},
    "tests": {"frontend", "app", "engine", "drive", "platform", "sumseal", "sim"},
}

SOURCE = re.compile(r"\.(h|hpp|cpp|cc|c|rc|in)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    parts = path.split("/")
    if parts[0] == "app" and len(parts) > 2 and parts[1] in ("win32", "console"):
        return "frontend"
    if parts[0] in ("tests", "bench"):
        return "tests"
    if parts[0] in USES:
        return parts[0]
    return None


def collect(root):
    files = {}
    for top in ("app", "engine", "drive", "platform", "sim", "sumseal", "tests", "bench"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if SOURCE.search(name):
                    full = os.path.join(folder, name)
                    files[os.path.relpath(full, root).replace(os.sep, "/")] = full
    return files


def resolve(include, including, files):
    """The project file an include names: from the root, or beside the including file."""
    if include in files:
        return include
    beside = os.path.normpath(os.path.join(os.path.dirname(including), include)).replace(os.sep, "/")
    return beside if beside in files else None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    files = collect(root)
    graph = {}
    problems = []
    for path, full in sorted(files.items()):
        with open(full, encoding="utf-8", errors="replace") as f:
            text = f.read()
        edges = []
        for include in INCLUDE.findall(text):
            target = resolve(include, path, files)
            if target is None:
                continue  # a system header or a generated file
            edges.append(target)
            source_layer, target_layer = layer_of(path), layer_of(target)
            if source_layer is None or target_layer is None or source_layer == target_layer:
                continue
            if target_layer not in USES[source_layer]:
                problems.append(f"{path}: includes {target} ({source_layer} may not use {target_layer})")
        graph[path] = edges

    # Cycles: depth-first search with three colours.
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                cycle = stack[stack.index(nxt):] + [nxt]
                problems.append("include cycle: " + " -> ".join(cycle))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in state:
            visit(node)

    edges = sum(len(e) for e in graph.values())
    for p in problems:
        print(p)
    print(f"check-layers: {len(graph)} files, {edges} includes between them, {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
