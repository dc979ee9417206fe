#!/usr/bin/env python3
"""The include graph of the program's folders: who includes whom, how often, and whether any
include goes from a lower folder to a higher one.

  tools/include_graph.py                 edge table on stdout
  tools/include_graph.py --dot FILE      also a Graphviz file (FILE.png too when `dot` exists)
  tools/include_graph.py --check         exit 1, naming each include that goes upwards

Folders from the bottom, each a rank of its own: util; product (the product's names and
folders, read-only); log; zip; net; framework (the application and dialog classes, the
hand-off to the UI thread, the placement record); controls; engine (one update run, no
window); launcher (the dialogs); app (start-up, self-update, URL scheme). A folder includes
only folders below it, so a cycle between two folders always has an upward edge.
"""

import argparse
import collections
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ORDER = ["util", "product", "log", "zip", "net", "framework", "controls", "engine", "launcher",
         "app"]
RANK = {folder: rank for rank, folder in enumerate(ORDER)}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]+"', re.M)


def scan(root):
    """{(from folder, to folder): [(file, line), ...]} over the ranked folders' sources."""
    edges = collections.defaultdict(list)
    for folder in sorted(RANK):
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(path, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for m in INCLUDE.finditer(text):
                target = m.group(1)
                if target != folder:
                    line = text.count("\n", 0, m.start()) + 1
                    edges[(folder, target)].append(("%s/%s" % (folder, name), line))
    return edges


def upward(edges):
    """The includes from a folder to one of its own rank or higher."""
    bad = []
    for (src, dst), places in sorted(edges.items()):
        if dst in RANK and RANK[dst] >= RANK[src]:
            bad.extend("%s:%d includes %s/" % (f, n, dst) for f, n in places)
    return bad


def table(edges):
    rows = ["%-10s -> %-10s %4s" % ("from", "to", "n")]
    for (src, dst), places in sorted(edges.items(), key=lambda e: (-RANK.get(e[0][0], 9),
                                                                    e[0][0], e[0][1])):
        rows.append("%-10s -> %-10s %4d" % (src, dst, len(places)))
    return "\n".join(rows)


def dot(edges):
    lines = ["digraph includes {", "  rankdir=BT;", "  node [shape=box];"]
    for rank in sorted(set(RANK.values())):
        same = " ".join('"%s";' % f for f in sorted(RANK) if RANK[f] == rank)
        lines.append("  { rank=same; %s }" % same)
    for (src, dst), places in sorted(edges.items()):
        colour = ' color=red' if dst in RANK and RANK[dst] >= RANK[src] else ""
        lines.append('  "%s" -> "%s" [label="%d"%s];' % (src, dst, len(places), colour))
    lines.append("}")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=ROOT)
    parser.add_argument("--dot", help="write a Graphviz file")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args(argv)
    edges = scan(args.root)
    print(table(edges))
    if args.dot:
        with open(args.dot, "w") as f:
            f.write(dot(edges))
        if shutil.which("dot"):
            subprocess.call(["dot", "-Tpng", args.dot, "-o", os.path.splitext(args.dot)[0] + ".png"])
    bad = upward(edges)
    for b in bad:
        print("upward include: " + b)
    return 1 if args.check and bad else 0


if __name__ == "__main__":
    sys.exit(main())
