"""Key pixels of the launcher's screenshots (made by screens.py, as `make screenshots` does):
the title band is the button face lowered by 32, the frame is the active border colour, the
pill bar is royal blue over the shadow-grey track, which turns red-orange after a failure and
red during a rollback; the maximised window leaves the taskbar free and restoring it puts
every control back where it was."""

import os
import unittest

import screens

SHOTS = os.path.join(screens.winetest.BUILD, "test-results", "screenshots")


def lowered(c, d=32):
    return tuple(max(0, v - d) for v in c)


class Screenshots(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(screens.PROBE):
            raise unittest.SkipTest("screen_probe.exe is missing: run make win")
        s = screens.Screens(SHOTS)
        try:
            cls.info = s.take_all()
        finally:
            s.close()
        cls.colours = cls.info["colours"]

    def picture(self, name):
        path = os.path.join(SHOTS, name + ".png")
        self.assertTrue(os.path.exists(path), name)
        return screens.read_png(path)

    def bar_point(self, name, fraction):
        """A point on the bar's centre line, as a fraction of its width, in window pixels."""
        l, t, r, b = self.info[name + ".progress"]
        with open(os.path.join(SHOTS, name + ".rect")) as f:
            wl, wt = [int(v) for v in f.read().split()][:2]
        return l - wl + int((r - l) * fraction), t - wt + (b - t) // 2

    def assert_frame(self, pic):
        face = self.colours["btnface"]
        band = lowered(face)
        border = self.colours["activeborder"]
        self.assertEqual(band, pic.pixel(pic.width // 2, 29), "title band")
        self.assertEqual(band, pic.pixel(1, 1), "title band at the corner")
        self.assertEqual(face, pic.pixel(4, 100), "face")
        self.assertEqual(face, pic.pixel(pic.width - 5, 33), "face under the band")
        for x, y in ((0, 70), (pic.width - 1, 70), (pic.width // 2, 0), (pic.width // 2, pic.height - 1)):
            self.assertEqual(border, pic.pixel(x, y), "border at %d,%d" % (x, y))

    def test_start(self):
        pic = self.picture("start")
        self.assertEqual((320, 140), (pic.width, pic.height))
        self.assert_frame(pic)
        # An empty bar: only the track, in the shadow colour.
        for f in (0.1, 0.5, 0.9):
            self.assertEqual(self.colours["btnshadow"], pic.pixel(*self.bar_point("start", f)))

    def test_downloading(self):
        pic = self.picture("downloading")
        self.assert_frame(pic)
        self.assertEqual((65, 105, 225), pic.pixel(*self.bar_point("downloading", 0.1)))
        self.assertEqual((65, 105, 225), pic.pixel(*self.bar_point("downloading", 0.5)))
        self.assertEqual(self.colours["btnshadow"], pic.pixel(*self.bar_point("downloading", 0.9)))

    def test_failure_turns_the_track_red_orange(self):
        pic = self.picture("failure")
        self.assert_frame(pic)
        self.assertEqual((255, 64, 0), pic.pixel(*self.bar_point("failure", 0.5)))

    def test_rollback_turns_the_track_red(self):
        pic = self.picture("rollback")
        self.assert_frame(pic)
        self.assertEqual((255, 0, 0), pic.pixel(*self.bar_point("rollback", 0.9)))

    def test_maximised_leaves_the_taskbar_free_and_restores_exactly(self):
        pic = self.picture("maximised")
        width, height = [int(v) for v in self.info["work-area"].split()][:2]
        # Wine's own taskbar hides itself: the maximised window is 2 pixels short of it.
        self.assertEqual((width, height - 2), (pic.width, pic.height))
        self.assert_frame(pic)
        l, t, r, b = self.info["maximised.progress"]
        self.assertEqual(pic.width - 10, r, "the bar follows the right edge")
        self.assertEqual(self.info["start.close"][2] - 480 + pic.width - 320,
                         self.info["maximised.close"][2], "the close button follows the corner")
        self.assertEqual((480, 442, 800, 582), self.info["restored"])
        self.assertEqual(self.info["start.progress"], self.info["restored.progress"])
        self.assertEqual(self.info["start.close"], self.info["restored.close"])

    def test_about_box(self):
        pic = self.picture("about")
        self.assertGreater(pic.width, 200)
        face = self.colours["btnface"]
        self.assertEqual(face, pic.pixel(10, pic.height - 10))
        # The icon: royal blue at the middle of its left half.
        icon = [pic.pixel(x, y) for x in range(15, 45) for y in range(30, 70)]
        self.assertIn((65, 105, 225), icon)


if __name__ == "__main__":
    unittest.main()
