"""Libraries planted beside the launcher in the Downloads folder, where a web page can drop
files: none may be loaded. The plant (build/win/helpers/plant.dll) leaves a marker when it is
loaded, and Wine is told to prefer a native DLL for each planted name, as Windows does for a
library that is not a known DLL."""

import os
import re
import shutil
import subprocess
import unittest

import winetest
from launcher_env import LauncherPrefix

PLANT = os.path.join(winetest.HELPERS, "plant.dll")
DELAY_LIST = os.path.join(winetest.BUILD, "win", "delay", "libraries")
OBJDUMP = "x86_64-w64-mingw32-objdump"

# Loaded by name at run time (the rich-edit control, gradients, the dialog shadow) and by
# the libraries the launcher uses (uxtheme by comctl32: taken from the Downloads folder while
# comctl32 was a static import).
RUN_TIME = ["riched20.dll", "msimg32.dll", "dwmapi.dll", "uxtheme.dll"]
# Static imports that stay: known DLLs on Windows, needed before any code of ours runs. Wine
# does take a planted msvcrt.dll, and refuses to start with a planted kernel32.dll.
STATIC_KNOWN = {"kernel32.dll", "msvcrt.dll"}


def static_imports(exe):
    out = subprocess.run([OBJDUMP, "-p", exe], capture_output=True, text=True, check=True).stdout
    return [m.lower() for m in re.findall(r"DLL Name: (\S+)", out)]


def delay_imports():
    with open(DELAY_LIST) as f:
        return [name + ".dll" for name in f.read().split()]


class PlantedLibraries(unittest.TestCase):
    def test_no_plant_is_loaded_and_the_launcher_still_starts(self):
        statics = static_imports(winetest.EXE)
        self.assertTrue(set(statics) <= STATIC_KNOWN, "new static import: %s" % statics)
        names = sorted(set(delay_imports() + RUN_TIME))
        self.assertIn("version.dll", names)

        p = LauncherPrefix("planted-dll")
        try:
            downloads = p.downloads
            os.makedirs(downloads, exist_ok=True)
            exe = os.path.join(downloads, "FenwaLauncher.exe")
            shutil.copy2(winetest.EXE, exe)
            for name in names:
                shutil.copyfile(PLANT, os.path.join(downloads, name))
            markers = os.path.join(p.path, "drive_c", "markers")
            os.makedirs(markers)
            env = {
                "WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(n[:-4] for n in names),
                "FENWA_PLANT_MARKERS": "C:\\markers",
            }
            # No server answers: the launcher reports that and ends by itself.
            r = p.run(exe, [], timeout=60, env=env, cwd=downloads)

            loaded = {}
            for marker in os.listdir(markers):
                with open(os.path.join(markers, marker), "rb") as f:
                    loaded[marker] = f.read().decode("utf-16-le").split()
            self.assertEqual({}, loaded, "planted libraries were loaded (by the programs named)")
            self.assertNotEqual("timeout", r.rc, r)
            self.assertTrue(os.path.exists(p.log_path()), "the launcher did not start: %r" % r)
        finally:
            p.cleanup()


if __name__ == "__main__":
    unittest.main()
