"""The folders' layers: no include goes from a lower folder to a higher one (no Wine needed)."""

import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))
import include_graph  # noqa: E402


class Layers(unittest.TestCase):
    def test_the_tree_includes_only_downwards(self):
        edges = include_graph.scan(include_graph.ROOT)
        self.assertIn(("controls", "framework"), edges, "the scan sees the tree")
        self.assertEqual([], include_graph.upward(edges))

    def test_an_upward_include_is_named(self):
        with tempfile.TemporaryDirectory() as root:
            files = {"util/a_win.cpp": '#include "util/a.h"\n  #  include "framework/f.h"\n',
                     "framework/f.h": '#include "controls/c.h"\n',
                     "controls/c.h": '#include "app/x.h"\n#include "framework/f.h"\n',
                     "net/n.cpp": '#include "log/l.h"\n#include <windows.h>\n',
                     # a cycle between two folders: one of its edges points up
                     "engine/e.h": '#include "launcher/d.h"\n',
                     "launcher/d.h": '#include "engine/e.h"\n'}
            for name, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
                with open(os.path.join(root, name), "w") as f:
                    f.write(text)
            bad = include_graph.upward(include_graph.scan(root))
            self.assertEqual(["controls/c.h:1 includes app/", "engine/e.h:1 includes launcher/",
                              "framework/f.h:1 includes controls/",
                              "util/a_win.cpp:2 includes framework/"], sorted(bad))
            # no two folders share a rank, where a cycle could hide
            self.assertEqual(len(include_graph.RANK), len(set(include_graph.RANK.values())))
            self.assertEqual(1, include_graph.main(["--root", root, "--check"]))
