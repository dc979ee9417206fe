"""Key pixels of the launcher's screenshots (made by screens.py, as `make screenshots` does):
the title band is the button face lowered by 32, the frame is the active border colour, the
pill bar is royal blue over the shadow-grey track, which turns red-orange after a failure and
red during a rollback; the maximised window leaves the taskbar free and restoring it puts
every control back where it was; the notice is centred and bold. The access-code dialog has
its dark band and frame, its picture, and a code box whose border is grey while empty, red
with an invalid code and the accent colour with a valid one, when Connect takes the accent
too. In Korean the texts are drawn in Hangul, not as empty boxes. In every language each
text stays inside its control, none cut off at an edge, a status line too long for its
label ends in an ellipsis, and the maximised window shows the notice once."""

import os
import unittest

import screens

RESULTS = os.path.join(screens.winetest.BUILD, "test-results")
SHOTS = os.path.join(RESULTS, "screenshots")
SHOTS_KO = os.path.join(RESULTS, "screenshots-ko_KR")
SHOTS_JA = os.path.join(RESULTS, "screenshots-ja_JP")

CODE_BAND = (59, 70, 92)
ACCENT = (32, 178, 174)
WARNING = (253, 128, 126)
IDLE_BORDER = (211, 211, 211)
ACCENT_GREY = (134, 134, 134)  # the grey level of the accent: Connect while disabled
WHITE = (255, 255, 255)


def lowered(c, d=32):
    return tuple(max(0, v - d) for v in c)


def near(a, b, tolerance=24):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def ink(pic, rect, background, tolerance=24):
    """The pixels of `rect` (window coordinates) that are not the background."""
    l, t, r, b = rect
    return {(x, y) for y in range(t, b) for x in range(l, r)
            if not near(pic.pixel(x, y), background, tolerance)}


def glyph_runs(points):
    """Runs of inked columns, each as (first x, last x, its points)."""
    columns = sorted({x for x, _ in points})
    runs, start = [], None
    for i, x in enumerate(columns):
        if start is None:
            start = x
        if i + 1 == len(columns) or columns[i + 1] != x + 1:
            runs.append((start, x, [p for p in points if start <= p[0] <= x]))
            start = None
    return runs


def empty_boxes(points):
    """Runs drawn as a hollow rectangle of nearly the line's height: a missing glyph's box."""
    if not points:
        return []
    line = max(y for _, y in points) - min(y for _, y in points) + 1
    boxes = []
    for first, last, run in glyph_runs(points):
        top, bottom = min(y for _, y in run), max(y for _, y in run)
        w, h = last - first + 1, bottom - top + 1
        if w < 4 or h < 0.8 * line:
            continue
        cells = set(run)
        edge = [(x, y) for x in range(first, last + 1) for y in (top, bottom)]
        edge += [(x, y) for y in range(top, bottom + 1) for x in (first, last)]
        inside = [(x, y) for x in range(first + 2, last - 1) for y in range(top + 2, bottom - 1)]
        on_edge = sum(p in cells for p in edge) / float(len(edge))
        filled = sum(p in cells for p in inside) / float(len(inside)) if inside else 0.0
        if on_edge > 0.85 and filled < 0.1:
            boxes.append((first, top, last, bottom))
    return boxes


def cut_edges(points, rect, edges, margin=1):
    """The edges of `rect` that the ink reaches within `margin` pixels: where a label cuts
    its text off (a line below its height, a word past its width)."""
    l, t, r, b = rect
    reach = {"bottom": lambda x, y: y >= b - margin, "right": lambda x, y: x >= r - margin,
             "left": lambda x, y: x < l + margin}
    return sorted(e for e in edges if any(reach[e](x, y) for x, y in points))


class TextsFit:
    """Every text of both windows inside its control, in each language, and the maximised
    window's notice drawn once. The classes below give `out`, `info` and `picture`."""

    def origin(self, name):
        with open(os.path.join(self.out, name + ".rect")) as f:
            return [int(v) for v in f.read().split()][:2]

    def local(self, rect, name):
        wl, wt = self.origin(name)
        return rect[0] - wl, rect[1] - wt, rect[2] - wl, rect[3] - wt

    def assert_fits(self, pic, rect, background, edges, what):
        points = ink(pic, rect, background)
        self.assertTrue(points, what + " is drawn")
        self.assertEqual([], cut_edges(points, rect, edges),
                         "%s cut off: ink %d..%d x %d..%d in %r" % (
                             what, min(x for x, _ in points), max(x for x, _ in points),
                             min(y for _, y in points), max(y for _, y in points), rect))

    def test_texts_fit_the_main_window(self):
        pic = self.picture("start")
        face = self.info["colours"]["btnface"]
        for key, background, edges in (("start.notice", face, ("bottom", "left", "right")),
                                       ("start.%d" % screens.TITLE, lowered(face), ("bottom", "right")),
                                       ("start.%d" % screens.STATUS, face, ("bottom", "right")),
                                       ("start.%d" % screens.COUNT, face, ("bottom", "left"))):
            self.assert_fits(pic, self.local(self.info[key], "start"), background, edges, key)

    def test_failure_line_whole_or_ending_in_an_ellipsis(self):
        """The status label shows a line that fits whole and ends a longer one in an
        ellipsis inside the label, as the failure line in English and Japanese."""
        pic = self.picture("failure")
        # The window stands where it stood at the start: the label's place is the same.
        label = self.local(self.info["start.%d" % screens.STATUS], "start")
        self.assert_fits(pic, label, self.info["colours"]["btnface"], ("bottom", "right"),
                         "the failure line")
        runs = glyph_runs(ink(pic, label, self.info["colours"]["btnface"]))
        advance, _, whole = self.info["failure.extent"]
        drawn = runs[-1][1] - runs[0][0] + 1
        tail = [(last - first + 1, max(y for _, y in run) - min(y for _, y in run) + 1)
                for first, last, run in runs[-4:]]
        dots = [w <= 3 and h <= 3 for w, h in tail]
        if advance <= label[2] - label[0]:
            self.assertLessEqual(abs(drawn - whole), 4, "the whole line: %d of %d" % (drawn, whole))
            self.assertNotEqual([False, True, True, True], dots, "no ellipsis")
        else:
            self.assertLess(drawn, whole, "the line is shortened")
            self.assertEqual([False, True, True, True], dots, "an ellipsis ends it: %r" % tail)
            gaps = [b[0] - a[1] for a, b in zip(runs[-3:], runs[-2:])]
            self.assertLessEqual(abs(gaps[0] - gaps[1]), 1, "three evenly spaced dots")

    def test_texts_fit_the_code_dialog(self):
        pic = self.picture("code-invalid")  # the warning shows
        for control in (screens.NOTICE, screens.WARNING):
            rect = self.local(self.info["code.%d" % control], "code-invalid")
            self.assert_fits(pic, rect, WHITE, ("bottom", "right"), "label %d" % control)
        l, t, r, b = self.local(self.info["code.%d" % screens.CONNECT], "code-invalid")
        inner = (l + 4, t + 4, r - 4, b - 4)  # inside the rounded corners
        self.assert_fits(pic, inner, pic.pixel(l + 5, (t + b) // 2), ("left", "right"), "Connect")

    def test_maximised_window_shows_the_notice_once(self):
        """Once, centred, as wide as the text: no copy left where it stood before."""
        pic = self.picture("maximised")
        label = self.local(self.info["maximised.notice"], "maximised")
        points = ink(pic, label, self.info["colours"]["btnface"])
        self.assertTrue(points, "the notice is drawn")
        first, last = min(x for x, _ in points), max(x for x, _ in points)
        self.assertLessEqual(abs(last - first + 1 - self.info["notice.extent"][700][2]), 4,
                             "one line as wide as the text: ink %d..%d" % (first, last))
        self.assertLessEqual(abs((first + last) / 2.0 - (label[0] + label[2]) / 2.0), 3)


class Screenshots(TextsFit, unittest.TestCase):
    out = SHOTS

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
        # Wine answers ABM_GETSTATE with 3 (auto-hide and always-on-top), which is not
        # auto-hide alone, so the window gives up the taskbar's height: Wine's is 0 x 0.
        self.assertEqual((width, height), (pic.width, pic.height))
        self.assert_frame(pic)
        l, t, r, b = self.info["maximised.progress"]
        self.assertEqual(pic.width - 10, r, "the bar follows the right edge")
        self.assertEqual(self.info["start.close"][2] - 480 + pic.width - 320,
                         self.info["maximised.close"][2], "the close button follows the corner")
        self.assertEqual((480, 442, 800, 582), self.info["restored"])
        self.assertEqual(self.info["start.progress"], self.info["restored.progress"])
        self.assertEqual(self.info["start.close"], self.info["restored.close"])

    def test_notice_is_centred_and_bold(self):
        """The notice over the log area is centred in its label and as wide as the text in
        the bold font, which is clearly wider than the regular one."""
        pic = self.picture("start")
        with open(os.path.join(SHOTS, "start.rect")) as f:
            wl, wt = [int(v) for v in f.read().split()][:2]
        l, t, r, b = self.info["start.notice"]
        label = (l - wl, t - wt, r - wl, b - wt)
        points = ink(pic, label, self.colours["btnface"])
        self.assertTrue(points, "the notice is drawn")
        first, last = min(x for x, _ in points), max(x for x, _ in points)
        self.assertLessEqual(abs((first + last) / 2.0 - (label[0] + label[2]) / 2.0), 3,
                             "centred: ink %d..%d in %r" % (first, last, label))
        regular, bold = self.info["notice.extent"][400], self.info["notice.extent"][700]
        self.assertGreater(bold[2] - regular[2], 10)
        self.assertLessEqual(abs(last - first + 1 - bold[2]), 4, "as wide as the bold text")

    def code_rect(self, control):
        """A control of the access-code dialog in the dialog's own pixels."""
        l, t, r, b = self.info["code.%d" % control]
        dl, dt = self.info["code"][:2]
        return l - dl, t - dt, r - dl, b - dt

    def assert_code_dialog(self, pic):
        self.assertEqual((380, 284), (pic.width, pic.height))
        for x, y in ((1, 16), (300, 3), (340, 29)):
            self.assertEqual(CODE_BAND, pic.pixel(x, y), "band at %d,%d" % (x, y))
        for x, y in ((0, 150), (379, 150), (190, 283), (190, 0)):
            self.assertEqual(CODE_BAND, pic.pixel(x, y), "frame at %d,%d" % (x, y))
        self.assertEqual(WHITE, pic.pixel(8, 120), "white under the picture")
        r, g, b = pic.pixel(48, 32 + 36)
        self.assertGreater(g, r + 80, "the picture's teal disc below the band")
        self.assertEqual((358, 7, 376, 25), self.code_rect(screens.CLOSE),
                         "the close picture's place in the band")
        self.assertEqual(CODE_BAND, pic.pixel(359, 8), "the close button's background")
        self.assertIn(WHITE, [pic.pixel(x, y) for x in range(361, 374) for y in range(10, 23)],
                      "the close picture")
        self.assertIn((65, 105, 225), [pic.pixel(x, y) for x in range(6, 26) for y in range(6, 26)],
                      "the icon in the band")
        title = [pic.pixel(x, y) for x in range(30, 250) for y in range(4, 28)]
        self.assertGreater(title.count(WHITE), 30, "the white title in the band")
        instruction = ink(pic, self.code_rect(screens.NOTICE), WHITE)
        self.assertGreater(len(instruction), 100, "the instruction text")

    def assert_code_box(self, pic, border):
        l, t, r, b = self.code_rect(screens.CODE_BOX)
        mx, my = (l + r) // 2, (t + b) // 2
        for x, y in ((mx, t), (mx, b - 1), (l, my), (r - 1, my)):
            self.assertEqual(border, pic.pixel(x, y), "code box border at %d,%d" % (x, y))
        self.assertEqual((250, 235, 215), pic.pixel(l + 3, t + 3), "inside the code box")

    def connect_colour(self, pic):
        l, t, r, b = self.code_rect(screens.CONNECT)
        return pic.pixel(l + 5, (t + b) // 2)

    def warning_ink(self, pic):
        return [p for p in ink(pic, self.code_rect(screens.WARNING), WHITE)
                if near(pic.pixel(*p), WARNING, 10)]

    def test_code_dialog_empty(self):
        pic = self.picture("code-empty")
        self.assert_code_dialog(pic)
        self.assert_code_box(pic, IDLE_BORDER)
        self.assertEqual(ACCENT_GREY, self.connect_colour(pic), "Connect disabled")
        self.assertEqual([], self.warning_ink(pic), "no warning")
        # The drop shadow reaches 10 pixels beyond every side.
        l, t, r, b = self.info["code"]
        self.assertEqual((l - 10, t - 10, r + 10, b + 10), self.info["code.shadow"])

    def test_code_dialog_invalid_code(self):
        pic = self.picture("code-invalid")
        self.assert_code_dialog(pic)
        self.assert_code_box(pic, WARNING)
        self.assertEqual(ACCENT_GREY, self.connect_colour(pic), "Connect disabled")
        self.assertGreater(len(self.warning_ink(pic)), 40, "the warning line")

    def test_code_dialog_valid_code(self):
        pic = self.picture("code-valid")
        self.assert_code_dialog(pic)
        self.assert_code_box(pic, ACCENT)
        self.assertEqual(ACCENT, self.connect_colour(pic), "Connect enabled")
        self.assertEqual([], self.warning_ink(pic), "no warning")

    def test_about_box(self):
        pic = self.picture("about")
        self.assertGreater(pic.width, 200)
        face = self.colours["btnface"]
        self.assertEqual(face, pic.pixel(10, pic.height - 10))
        # The icon: royal blue at the middle of its left half.
        icon = [pic.pixel(x, y) for x in range(15, 45) for y in range(30, 70)]
        self.assertIn((65, 105, 225), icon)


class OtherLanguage(TextsFit):
    """The start, failure and access-code screens taken in another UI language."""

    out = lang = None

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(screens.PROBE):
            raise unittest.SkipTest("screen_probe.exe is missing: run make win")
        s = screens.Screens(cls.out, cls.lang)
        try:
            cls.info = s.take_all(("start", "failure", "code"))
        finally:
            s.close()

    def picture(self, name):
        path = os.path.join(self.out, name + ".png")
        self.assertTrue(os.path.exists(path), name)
        return screens.read_png(path)


class KoreanScreenshots(OtherLanguage, unittest.TestCase):
    """A Korean user: the window and the access-code dialog draw Hangul."""

    out, lang = SHOTS_KO, "ko_KR"

    def assert_hangul(self, points, expected_width=None):
        self.assertTrue(points, "text is drawn")
        first, last = min(x for x, _ in points), max(x for x, _ in points)
        columns = {x for x, _ in points}
        # Glyphs left out would leave wide gaps; only the blanks between words may.
        self.assertGreater(len(columns), 0.75 * (last - first + 1))
        self.assertEqual([], empty_boxes(points), "no empty boxes for missing glyphs")
        if expected_width:
            self.assertLessEqual(abs(last - first + 1 - expected_width), 4)

    def test_notice_in_hangul(self):
        pic = self.picture("start")
        with open(os.path.join(SHOTS_KO, "start.rect")) as f:
            wl, wt = [int(v) for v in f.read().split()][:2]
        l, t, r, b = self.info["start.notice"]
        face = self.info["colours"]["btnface"]
        bold = self.info["notice.extent"][700]
        self.assert_hangul(ink(pic, (l - wl, t - wt, r - wl, b - wt), face), bold[2])

    def test_code_dialog_in_hangul(self):
        pic = self.picture("code-empty")
        dl, dt = self.info["code"][:2]
        l, t, r, b = self.info["code.%d" % screens.NOTICE]
        # The instruction's first line.
        first_line = (l - dl, t - dt, min(r - dl, 379), t - dt + (b - t) // 2)
        self.assert_hangul(ink(pic, first_line, WHITE))
        self.assertEqual(CODE_BAND, pic.pixel(300, 3))
        l, t, r, b = self.info["code.%d" % screens.CONNECT]
        self.assertLessEqual(r - dl, 380, "Connect inside the window")


class JapaneseScreenshots(OtherLanguage, unittest.TestCase):
    """A Japanese user: kana and kanji are wider than Hangul, and the texts still fit."""

    out, lang = SHOTS_JA, "ja_JP"


if __name__ == "__main__":
    unittest.main()
