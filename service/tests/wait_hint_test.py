"""The wait hints the running service reports, read from the service manager while a start and a
stop are under way: each is the hint service_timing.h declares for its state, it covers the
longest silence declared behind it, and no pending state goes without a new checkpoint for as
long as its hint. A pause's pending reports cannot be read this way here: Wine's manager answers
a query only once the control handler has returned, and a pause's handler returns at PAUSED."""
import unittest

import ovswine
import svctest as t

LOCAL = "NMS-LOCAL"
PENDING = (t.START_PENDING, t.STOP_PENDING, t.CONTINUE_PENDING, t.PAUSE_PENDING)


class Watch:
    """What `svcctl NAME watch ACTION` printed: the declared values, each status the manager
    reported while the control ran, and how the control ended."""

    def __init__(self, action):
        out = ovswine.run(ovswine.bin_path("svcctl.exe"), t.SERVICE, "watch", action, timeout=120,
                          always_prints=True).output
        self.text = out
        self.declared, self.samples, self.done = {}, [], None
        for line in out.splitlines():
            words = line.split()
            if words and words[0] == "declared":
                self.declared = dict(zip(words[1::2], (int(w) for w in words[2::2])))
            elif words and words[0] == "at":
                ms, state, checkpoint, hint = (int(w) for w in words[1::2])
                self.samples.append((ms, state, checkpoint, hint))
            elif words and words[0] == "done":
                self.done = dict(zip(words[1::2], (int(w) for w in words[2::2])))

    def pending(self, state):
        return [s for s in self.samples if s[1] == state]

    def silences(self):
        """(state, checkpoint, hint, ms until the next report) of each pending report that a
        later one followed."""
        return [(a[1], a[2], a[3], b[0] - a[0]) for a, b in zip(self.samples, self.samples[1:]) if a[1] in PENDING]


class WaitHintTest(t.PortPerTest):
    LOCAL_ID = LOCAL

    def hint_for(self, watch, state):
        d = watch.declared
        return {t.START_PENDING: d["start-hint"], t.STOP_PENDING: d["stop-hint"],
                t.PAUSE_PENDING: d["pause-hint"], t.CONTINUE_PENDING: d["pause-hint"]}[state]

    def silence_for(self, watch, state):
        d = watch.declared
        return {t.START_PENDING: 0, t.STOP_PENDING: d["stop-silence"],
                t.PAUSE_PENDING: d["pause-silence"], t.CONTINUE_PENDING: d["pause-silence"]}[state]

    def check(self, watch, want_end):
        self.assertIsNotNone(watch.done, watch.text)
        self.assertEqual((watch.done["error"], watch.done["state"]), (0, want_end), watch.text)
        for ms, state, checkpoint, hint in watch.samples:
            if state not in PENDING:
                continue
            with self.subTest(state=state, checkpoint=checkpoint, at=ms):
                self.assertEqual(hint, self.hint_for(watch, state), "the hint declared for the state")
                self.assertGreater(hint, self.silence_for(watch, state), "the hint covers the declared silence")
                self.assertGreater(checkpoint, 0, "a pending state counts its checkpoints from 1")
        for state, checkpoint, hint, quiet in watch.silences():
            with self.subTest(state=state, checkpoint=checkpoint):
                self.assertLess(quiet, hint, f"no new checkpoint within the hint: {watch.text}")

    def test_start_and_a_draining_stop(self):
        start = Watch("start")
        self.check(start, t.RUNNING)
        self.assertTrue(start.pending(t.START_PENDING), f"the start is seen pending: {start.text}")
        # Slow deliveries keep the stop draining for seconds, each half second a new checkpoint:
        # 150 of 20 ms take three.
        t.set_delivery(delay_ms=20)
        for i in range(150):
            ovswine.send_udp(self.port, f"<13>in flight {i}")
        self.assertTrue(t.wait_all_read(self.port))
        stop = Watch("stop")
        self.check(stop, t.STOPPED)
        checkpoints = {s[2] for s in stop.pending(t.STOP_PENDING)}
        self.assertGreaterEqual(len(checkpoints), 3, f"the drain reports its progress: {stop.text}")
        self.assertEqual(len(self.suite.records(LOCAL)), 150, "the stop forwarded what it had read")


if __name__ == "__main__":
    unittest.main(verbosity=2)
