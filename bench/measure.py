"""Measures peldo against aplay, paplay and sox's play on a PulseAudio null
sink whose monitor is recorded for the whole run (see bench/run).

A sample's time is its place on the sink's clock, in monotonic time: the
null sink renders a block at the time its first sample is due, parec's copy
of it arrives no earlier, and the block that arrived soonest after its
start bounds the delay.
"""
import argparse
import array
import os
import pty
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
LOUD = 1000          # the tone peaks at 16384; only zero crossings dip below
TONE_SECONDS = 3
GAP = 0.6            # silence between runs; half of it is searched after each


class Monitor:
    def __init__(self):
        self.proc = subprocess.Popen(
            ["parec", "--latency-msec=20", "-d", "peldo_test.monitor", "--raw",
             "--format=s16le", "--rate=44100", "--channels=2"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.chunks = []
        self.marks = []
        self.frames = 0
        self.reader = threading.Thread(target=self._read)
        self.reader.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            block = os.read(fd, 65536)
            if not block:
                break
            now = time.monotonic()
            self.marks.append((now, self.frames))
            self.chunks.append(block)
            self.frames += len(block) // 4

    def stop(self):
        self.proc.terminate()
        self.reader.join()
        self.proc.wait()
        data = array.array("h", b"".join(self.chunks))
        self.left = data[0::2]

    def _offset(self, start, end):
        """The sink's clock against the monotonic one around a stretch of
        time: should the sink fall behind and catch up, the relation shifts,
        so only blocks that arrived near the stretch are used."""
        near = [t - n / RATE for t, n in self.marks if start - 1 <= t <= end + 1]
        return min(near) if near else min(t - n / RATE for t, n in self.marks)

    def heard(self, start, end):
        """The times of the first and last loud sample between two times,
        and the longest quiet run between them (ms); None when all is quiet."""
        offset = self._offset(start, end)
        def index(t):
            return max(0, min(len(self.left), int((t - offset) * RATE)))
        lo, hi = index(start), index(end)
        left = self.left
        first = next((i for i in range(lo, hi) if abs(left[i]) > LOUD), None)
        if first is None:
            return None
        last = next(i for i in range(hi - 1, first - 1, -1) if abs(left[i]) > LOUD)
        longest = run = 0
        for i in range(first, last + 1):
            run = run + 1 if abs(left[i]) <= LOUD else 0
            longest = max(longest, run)
        gap_ms = 1000 * longest / RATE if longest > 4 else 0.0
        return offset + first / RATE, offset + (last + 1) / RATE, gap_ms


def timed(command, cwd):
    """Runs a command under /usr/bin/time; its start and end times, CPU
    seconds (from wait4, to the microsecond; /usr/bin/time's own share,
    well under a millisecond, included) and peak RSS in KB (/usr/bin/time)."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                 cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        _, _, usage = os.wait4(child.pid, 0)
        child.returncode = 0
        end = time.monotonic()
        rss = report.read().split()[-1]
    return start, end, usage.ru_utime + usage.ru_stime, int(rss)


def esc_run(peldo, cwd, after):
    """Plays on a terminal of its own and types Esc `after` seconds in; the
    time of the Esc and of the end."""
    start = time.monotonic()
    pid, master = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execv(peldo, [peldo, "tone", "/q"])
    time.sleep(after)
    esc = time.monotonic()
    os.write(master, b"\x1b")
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            os.read(master, 1024)
        except OSError:
            break
    os.waitpid(pid, 0)
    os.close(master)
    return start, esc, time.monotonic()


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def show(value, pattern):
    return "-" if value is None else pattern % value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peldo", required=True)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    peldo = os.path.abspath(args.peldo)

    work = tempfile.mkdtemp(prefix="peldo-bench-")
    try:
        tone = os.path.join(work, "tone.wav")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth",
                        str(TONE_SECONDS), "sine", "440", "vol", "0.5"], check=True)
        players = {
            "peldo": [peldo, "tone", "/q"],
            "aplay": ["aplay", "-q", tone],
            "paplay": ["paplay", tone],
            "play": ["play", "-q", tone],
        }
        repeaters = {
            "peldo /R3": [peldo, "tone", "/r3", "/q"],
            "play repeat 2": ["play", "-q", tone, "repeat", "2"],
        }

        monitor = Monitor()
        time.sleep(2)  # the null sink renders ahead: a late recorder loses the start
        plays = {name: [] for name in players}
        for _ in range(args.runs):
            for name, command in players.items():
                plays[name].append(timed(command, work))
                time.sleep(GAP)
        repeats = {name: [] for name in repeaters}
        for _ in range(args.runs):
            for name, command in repeaters.items():
                repeats[name].append(timed(command, work))
                time.sleep(GAP)
        escs = []
        for _ in range(args.runs):
            escs.append(esc_run(peldo, work, 1.0))
            time.sleep(GAP)
        time.sleep(0.5)
        monitor.stop()

        print(f"{TONE_SECONDS} s tone, 44100 Hz stereo 16-bit, into a null sink; "
              f"median of {args.runs} runs")
        print(f"{'player':<8} {'CPU ms':>7} {'peak RSS KB':>12} {'first sound ms':>15} "
              f"{'heard ms':>9}")
        for name, runs in plays.items():
            cpu = median([r[2] for r in runs])
            rss = median([r[3] for r in runs])
            firsts, spans = [], []
            for start, end, _, _ in runs:
                # From before the start: a sink that renders a player's
                # stream ahead of time shows it as a negative figure.
                heard = monitor.heard(start - GAP / 2, end + GAP / 2)
                if heard:
                    firsts.append(1000 * (heard[0] - start))
                    spans.append(1000 * (heard[1] - heard[0]))
            print(f"{name:<8} {1000 * cpu:>7.1f} {rss:>12.0f} {show(median(firsts), '%.1f'):>15} "
                  f"{show(median(spans), '%.1f'):>9}")

        print(f"\nrepetitions: three plays of the {TONE_SECONDS} s tone")
        print(f"{'player':<14} {'CPU ms':>7} {'heard ms':>9} {'extra ms':>9} "
              f"{'longest silence ms':>19}")
        for name, runs in repeats.items():
            cpu = median([r[2] for r in runs])
            spans, gaps = [], []
            for start, end, _, _ in runs:
                heard = monitor.heard(start, end + GAP / 2)
                if heard:
                    spans.append(1000 * (heard[1] - heard[0]))
                    gaps.append(heard[2])
            span = median(spans)
            extra = None if span is None else span - 3000 * TONE_SECONDS
            print(f"{name:<14} {1000 * cpu:>7.1f} {show(span, '%.1f'):>9} {show(extra, '%.1f'):>9} "
                  f"{show(median(gaps), '%.2f'):>19}")

        silences = []
        for start, esc, end in escs:
            heard = monitor.heard(start, end + GAP / 2)
            if heard:
                silences.append(1000 * (heard[1] - esc))
        print(f"\npeldo, Esc 1 s into the sound: silence "
              f"{show(median(silences), '%.1f')} ms after the key "
              f"(each run: {', '.join('%.1f' % s for s in silences)})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
