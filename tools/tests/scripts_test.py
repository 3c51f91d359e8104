"""What winearch, wine-loader and wine-env.sh decide, with stand-in loaders and wineserver.

A wrong decision here tests the wrong tree without a word, or stops a Wine server in someone
else's prefix.
"""
import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# An ELF header for a machine no kernel runs: exec fails with ENOEXEC, as a 32-bit
# x86 program does on a kernel without 32-bit support.
FOREIGN_ELF = (b"\x7fELF\x01\x01\x01" + b"\0" * 9 + b"\x02\x00\x34\x12\x01\x00\x00\x00"
               + b"\0" * 200)


def write(path, data, executable=True):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    if executable:
        os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


class Scripts(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.bin = os.path.join(self.dir.name, "bin")
        os.mkdir(self.bin)
        self.calls = os.path.join(self.dir.name, "wineserver.calls")
        # Records each call with the prefix it was given.
        write(os.path.join(self.bin, "wineserver"),
              f'#!/bin/sh\necho "$WINEPREFIX $*" >> {self.calls}\n')

    def run_tool(self, args, **env):
        e = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"])
        e.pop("OVS_WINELOADER32", None)
        e.pop("OVS_WINELOADER64", None)
        e.update(env)
        return subprocess.run(args, env=e, capture_output=True, text=True, timeout=60)

    def server_calls(self):
        if not os.path.exists(self.calls):
            return []
        with open(self.calls) as f:
            return f.read().splitlines()

    def flaky_loader(self, answer):
        """A loader that Wine-like fails its first $FAILS launches, silently (HOW=silent) or with
        the launcher's text, then runs the shell line `answer`. launches() counts them; the
        session start (cmd /c exit) is not one."""
        self.launch_file = os.path.join(self.dir.name, "launches")
        if os.path.exists(self.launch_file):
            os.unlink(self.launch_file)
        f = self.launch_file
        return write(os.path.join(self.dir.name, "wine"),
                     '#!/bin/sh\n[ "$1" = cmd ] && exit 0\n'
                     f'n=$(cat {f} 2>/dev/null || echo 0); n=$((n+1)); echo $n > {f}\n'
                     'if [ "$n" -le "$FAILS" ]; then\n'
                     '  [ "$HOW" = silent ] && exit 1\n'
                     '  printf "Application could not be started, or no application associated with'
                     ' the specified file.\\nShellExecuteEx failed: Internal error.\\n"; exit 1\n'
                     'fi\n' + answer + '\n')

    def launches(self):
        with open(self.launch_file) as f:
            return int(f.read())

    def test_winearch_tells_the_cases_apart(self):
        d = self.dir.name
        cases = [
            # name, loader, exit code, stdout, words on stderr
            ("runs", write(os.path.join(d, "ok"), "#!/bin/sh\necho wine-8.0\n"), 0, "i686\n", ""),
            ("not installed", os.path.join(d, "missing"), 1, "", "wine32 is not installed"),
            ("not executable", write(os.path.join(d, "plain"), "", executable=False), 1, "",
             "wine32 is not installed"),
            ("no 32-bit code", write(os.path.join(d, "arm"), FOREIGN_ELF), 0, "x86_64\n",
             "cannot execute 32-bit code"),
            ("loader fails", write(os.path.join(d, "bad"), "#!/bin/sh\necho broken >&2\nexit 3\n"), 1,
             "", "failed (exit 3): broken"),
        ]
        for name, loader, code, out, err in cases:
            with self.subTest(name):
                r = self.run_tool([os.path.join(TOOLS, "winearch")], OVS_WINELOADER32=loader)
                self.assertEqual((r.returncode, r.stdout), (code, out), r.stderr)
                if err:
                    self.assertIn(err, r.stderr)
                else:
                    self.assertEqual(r.stderr, "")

    def test_wine_loader_names_the_missing_package_and_variable(self):
        for arch, package, variable in (("win32", "wine32", "OVS_WINELOADER32"),
                                        ("win64", "wine64", "OVS_WINELOADER64")):
            with self.subTest(arch):
                r = self.run_tool([os.path.join(TOOLS, "wine-loader"), arch],
                                  **{variable: os.path.join(self.dir.name, "none")})
                self.assertEqual((r.returncode, r.stdout), (1, ""))
                self.assertIn(f"{package} is not installed", r.stderr)
                self.assertIn(variable, r.stderr)

    def test_an_empty_prefix_fails_before_any_wine_call(self):
        loader = write(os.path.join(self.dir.name, "wine"), "#!/bin/sh\nexit 0\n")
        for verb in ("up", "down"):
            with self.subTest(verb):
                r = self.run_tool([os.path.join(TOOLS, "wine-prefix"), verb, "", "win32"],
                                  OVS_WINELOADER32=loader, HOME=self.dir.name)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn("OVS_WINEPREFIX is empty", r.stderr)
        self.assertEqual(self.server_calls(), [])

    def test_down_stops_only_a_prefix_made_here(self):
        loader = write(os.path.join(self.dir.name, "wine"), "#!/bin/sh\nexit 0\n")
        foreign = os.path.join(self.dir.name, "foreign")
        ours = os.path.join(self.dir.name, "ours")
        os.mkdir(foreign)
        os.mkdir(ours)
        write(os.path.join(ours, ".ovs-ready"), "", executable=False)
        for prefix in (foreign, ours):
            r = self.run_tool([os.path.join(TOOLS, "wine-prefix"), "down", prefix, "win32"],
                              OVS_WINELOADER32=loader)
            self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.server_calls(), [f"{ours} -k"])

    def test_a_program_past_its_limit_is_ended_with_its_output_shown(self):
        # Prints, then hangs: what it printed must survive the kill.
        loader = write(os.path.join(self.dir.name, "wine"),
                       "#!/bin/sh\necho \"[ RUN      ] $1\"\nexec sleep 60\n")
        prefix = os.path.join(self.dir.name, "prefix")
        os.mkdir(prefix)
        r = self.run_tool(["bash", "-c", f'. "{TOOLS}/wine-env.sh"; ovs_wine_captured hangs.exe'],
                          OVS_WINELOADER32=loader, OVS_WINEARCH="win32", OVS_WINEPREFIX=prefix,
                          OVS_RUN_LIMIT="1")
        self.assertEqual(r.returncode, 137)
        self.assertIn("[ RUN      ] hangs.exe", r.stdout)
        self.assertIn("hangs.exe was still running after 1 s", r.stderr)

    def test_the_test_emulator_tries_again_only_a_program_wine_never_started(self):
        """One silent launch failure failed a whole C++ suite in a repeated x86_64 run; a test that
        failed on its own must still fail at once, with its output."""
        d = self.dir.name
        prefix = os.path.join(d, "prefix")
        os.mkdir(prefix)
        write(os.path.join(prefix, ".ovs-ready"), "", executable=False)
        cases = [  # name, launch failures, how, the program's exit code, calls, exit code
            ("passes", 0, "silent", 0, 1, 0),
            ("fails on its own", 0, "silent", 1, 1, 1),
            ("silent once", 1, "silent", 0, 2, 0),
            ("launcher twice", 2, "launcher", 1, 3, 1),
            ("never", 9, "silent", 0, 3, 1),
        ]
        for name, fails, how, code, calls, want in cases:
            with self.subTest(name):
                loader = self.flaky_loader('echo "[==========] $1"; exit $CODE')
                r = self.run_tool([os.path.join(TOOLS, "wine-run"), prefix, "win32", "t.exe"],
                                  OVS_WINELOADER32=loader, FAILS=str(fails), HOW=how, CODE=str(code))
                self.assertEqual(r.returncode, want, r.stderr)
                self.assertEqual(self.launches(), calls)
                self.assertEqual("[==========] t.exe" in r.stdout, calls > fails)
                self.assertEqual(r.stderr.count("did not start t.exe"), calls - 1)

    def test_run_grants_the_receive_buffer_by_raising_rmem_max_never_lowering_it(self):
        value = os.path.join(self.dir.name, "rmem_max")
        writes = os.path.join(self.dir.name, "sysctl.writes")
        # Reads and writes the host's value in a file; refuses writes when told to, as for a user.
        write(os.path.join(self.bin, "sysctl"),
              f'#!/bin/sh\nif [ "$1" = -n ]; then cat {value}; exit; fi\n'
              f'echo "$*" >> {writes}\n[ -n "$REFUSE" ] && {{ echo "permission denied" >&2; exit 1; }}\n'
              f'echo "${{3#*=}}" > {value}\n')
        mib = 1024 * 1024
        cases = [
            # name, host's value, stored RecvBufferSize, refuse, value after, line on stdout
            ("default raises a small host", 4 * mib, "", False, 64 * mib,
             f"raised net.core.rmem_max from {4 * mib} to {64 * mib}"),
            ("stored size raises", 212992, str(8 * mib), False, 8 * mib, f"to {8 * mib} "),
            ("larger host left alone", 512 * mib, "", False, 512 * mib, None),
            ("equal host left alone", 8 * mib, str(8 * mib), False, 8 * mib, None),
            ("larger host left alone for a small setting", 4 * mib, str(64 * 1024), False, 4 * mib, None),
            ("refused setting means the default", 4 * mib, "1000", False, 64 * mib, f"to {64 * mib} "),
            ("too large a setting means the default", 4 * mib, str(1024 * mib + 1), False, 64 * mib,
             f"to {64 * mib} "),
            ("not root", 4 * mib, "", True, 4 * mib, None),
        ]
        for name, host, stored, refuse, after, line in cases:
            with self.subTest(name):
                write(value, f"{host}\n", executable=False)
                if os.path.exists(writes):
                    os.unlink(writes)
                env = {"REFUSE": "1"} if refuse else {}
                r = self.run_tool([os.path.join(TOOLS, "grant-rcvbuf"), stored], **env)
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(value) as f:
                    self.assertEqual(int(f.read()), after)
                if line:
                    self.assertEqual(len(r.stdout.splitlines()), 1, r.stdout)
                    self.assertIn(line, r.stdout)
                    self.assertIn("until reboot", r.stdout)
                else:
                    self.assertEqual(r.stdout, "")
                if refuse:
                    self.assertIn("could not raise net.core.rmem_max", r.stderr)
                if after == host and not refuse:
                    self.assertFalse(os.path.exists(writes), "nothing may be written")

    def test_python_helper_refuses_an_empty_prefix(self):
        loader = write(os.path.join(self.dir.name, "wine"), "#!/bin/sh\nexit 0\n")
        code = "import ovswine\novswine.env()\n"
        r = self.run_tool([sys.executable, "-c", code], OVS_WINELOADER32=loader, OVS_WINEARCH="win32",
                          OVS_WINEPREFIX="", OVS_TOOLS=TOOLS,
                          PYTHONPATH=os.path.join(TOOLS, "python"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("OVS_WINEPREFIX is empty", r.stderr)

    def test_wait_until_asks_until_true_and_once_more_at_the_time_out(self):
        """The script tests' one wait: a yes without the condition, or an early no, lets every
        test built on it pass without the thing it waits for."""
        loader = write(os.path.join(self.dir.name, "wine"), "#!/bin/sh\nexit 0\n")
        code = (
            "import json, sys, time\n"
            "import ovswine\n"
            "true_from, timeout, every = json.loads(sys.argv[1])\n"
            "asks = 0\n"
            "start = time.monotonic()\n"
            "def done():\n"
            "    global asks\n"
            "    asks += 1\n"
            "    if true_from < 0:\n"
            "        return time.monotonic() - start >= timeout\n"
            "    return 0 < true_from <= asks\n"
            "result = ovswine.wait_until(done, timeout, every)\n"
            "print(json.dumps([result, asks, time.monotonic() - start]))\n")
        cases = [  # the ask from which it holds (0 never, -1 from the time-out on), time-out, rest, result, asks
            (1, 5, 0.01, True, (1, 1)),
            (3, 5, 0.01, True, (3, 3)),
            (0, 0.3, 0.05, False, (2, 7)),
            # A rest longer than the time-out: only the last ask, at the time-out, sees it.
            (-1, 0.1, 0.5, True, (2, 2)),
        ]
        for true_from, timeout, every, want, (fewest, most) in cases:
            with self.subTest(true_from=true_from, timeout=timeout):
                r = self.run_tool([sys.executable, "-c", code, f"[{true_from}, {timeout}, {every}]"],
                                  OVS_WINELOADER32=loader, OVS_WINEARCH="win32", OVS_WINEPREFIX=self.dir.name,
                                  OVS_TOOLS=TOOLS, PYTHONPATH=os.path.join(TOOLS, "python"))
                self.assertEqual(r.returncode, 0, r.stderr)
                result, asks, took = json.loads(r.stdout)
                self.assertEqual(result, want)
                self.assertGreaterEqual(asks, fewest)
                self.assertLessEqual(asks, most)
                if not want:
                    self.assertGreaterEqual(took, timeout, "gave up early")
                self.assertLess(took, timeout + every + 5, "waited past its bound")

    def test_run_tries_again_only_what_wine_never_started(self):
        """A launch that Wine fails must be tried again (CI lost a whole test to one); a program's
        own answer, a refusal too, must not be: running it twice may do its work twice."""
        d = self.dir.name
        code = ("import json, sys\nimport ovswine\n"
                "r = ovswine.run('reg', 'query', 'K', always_prints=sys.argv[1] == '1')\n"
                "print(json.dumps([r.returncode, r.output]))\n")
        cases = [  # name, launch failures, how, answer, code, always_prints, calls, result
            ("answers", 0, "launcher", "done\\n", 0, True, 1, (0, "done\n")),
            ("own refusal", 0, "launcher", "ERROR: no such key\\n", 1, True, 1, (1, "ERROR: no such key\n")),
            ("launch failed once", 1, "launcher", "done\\n", 0, False, 2, (0, "done\n")),
            ("no output, prints", 2, "silent", "done\\n", 0, True, 3, (0, "done\n")),
            ("no output, may be silent", 2, "silent", "done\\n", 0, False, 1, (1, "")),
            ("never launched", 9, "launcher", "done\\n", 0, True, 3, None),
        ]
        for name, fails, how, answer, rc, prints, calls, want in cases:
            with self.subTest(name):
                loader = self.flaky_loader('printf "$ANSWER"; exit $CODE')
                r = self.run_tool([sys.executable, "-c", code, "1" if prints else "0"],
                                  OVS_WINELOADER32=loader, OVS_WINEARCH="win32", OVS_WINEPREFIX=d,
                                  OVS_TOOLS=TOOLS, PYTHONPATH=os.path.join(TOOLS, "python"),
                                  FAILS=str(fails), HOW=how, ANSWER=answer, CODE=str(rc))
                self.assertEqual(r.returncode, 0, r.stderr)
                got = json.loads(r.stdout)
                self.assertEqual(self.launches(), calls)
                if want is None:
                    self.assertEqual(got[0], 1)
                    self.assertIn("Application could not be started", got[1])
                else:
                    self.assertEqual(tuple(got), want)


if __name__ == "__main__":
    unittest.main(verbosity=2)
