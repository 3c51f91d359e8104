"""Runs the dialog tests on a display of their own (Xvfb) and keeps a screenshot of the dialog."""
import os
import subprocess
import sys
import unittest

import ovswine

BUILD = os.path.dirname(ovswine.BIN)
SHOT = os.path.join(BUILD, "servicemgr-dialog.png")
# A prefix of its own: Wine's desktop process keeps the display it was started with, and the
# tree's shared prefix has usually started it without one.
ovswine.PREFIX = os.path.join(BUILD, "wineprefix-display")


def stop_server():
    subprocess.run(["wineserver", "-k"], env=ovswine.env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def free_display():
    for n in range(90, 400):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    raise RuntimeError("no free X display number")


class DialogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        n = free_display()
        cls.xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24"],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        if not ovswine.wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{n}"), 30, every=0.05):
            raise RuntimeError(f"Xvfb :{n} did not start within 30 s")
        os.environ["DISPLAY"] = f":{n}"
        stop_server()
        ovswine.prefix_up()
        ovswine.reg_set(r"HKCU\Software\Wine\X11 Driver", "Decorated", "N")
        for program in ("OVTrap.exe", "OVSyslogSvc.exe"):
            ovswine.run(ovswine.bin_path(program), "-i")

    @classmethod
    def tearDownClass(cls):
        for program in ("OVTrap.exe", "OVSyslogSvc.exe"):
            ovswine.run(ovswine.bin_path(program), "-u")
        stop_server()
        cls.xvfb.terminate()
        cls.xvfb.wait(10)

    def test_dialog(self):
        for name in ("dialog-open.flag", "dialog-shot.flag"):
            if os.path.exists(os.path.join(BUILD, name)):
                os.unlink(os.path.join(BUILD, name))
        os.environ["OVS_SHOT_DIR"] = ovswine.win_path(BUILD)
        driver = ovswine.Background(ovswine.bin_path("servicemgr_dialog_tests.exe"))
        shot_taken = False

        def ended_after_its_shot():
            """Takes the screenshot once the dialog says it is open; true once the driver ended."""
            nonlocal shot_taken
            if not shot_taken and os.path.exists(os.path.join(BUILD, "dialog-open.flag")):
                subprocess.run(["import", "-window", "root", SHOT], check=True,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
                open(os.path.join(BUILD, "dialog-shot.flag"), "w").close()
                shot_taken = True
            return driver.proc.poll() is not None

        try:
            ovswine.wait_until(ended_after_its_shot, 500)
            output = driver.output()
            sys.stdout.write(output)
            self.assertEqual(driver.proc.wait(10), 0, "dialog tests failed")
            self.assertTrue(shot_taken, "the dialog never signalled for its screenshot")
        finally:
            driver.stop()
        # A blank screen has one colour: the dialog's frame, controls and text make many.
        colours = subprocess.run(["identify", "-format", "%k", SHOT], check=True,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE).stdout
        self.assertGreater(int(colours), 3, f"screenshot {SHOT} looks blank")


if __name__ == "__main__":
    unittest.main()
