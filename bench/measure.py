"""Measures peldo against aplay, paplay and sox's play on a PulseAudio null
sink (see bench/run). Every player runs as a user would start it from a
shell: in a session of its own, with a terminal of its own that nobody types
on, and its output thrown away.

Steady state: 60 s files (WAV, FLAC, MP3) played in interleaved rounds, each
peer only where it can play the file. CPU time (user + system) and voluntary
context switches come from wait4() on the player itself, all its threads
included; `setsid`, which gives it the terminal and then becomes it, adds
about 0.5 ms and one switch. Peak memory is the VmHWM of its process, read
every 50 ms while it runs.

Start, repetitions and Esc: a short tone while the sink's monitor is
recorded in 10 ms blocks. First sound of a ding: on PipeWire a recorder
that runs sets the graph's cycle itself (and a player that asks for another
one pauses the graph while it changes), so there pw-record records passively:
the graph runs only while a player plays, at the cycle the player asks for,
as on a desktop where nothing else plays, and the recorder gets a block each
cycle. The null sink renders a block of samples when the
first of them is due, so a recorded block can hold samples that are not yet
due: placing a sample by the sink's clock (the block that arrived soonest
after its start fixes the clock) can put it early, and gives a lower bound;
the arrival of the block that holds it is an upper bound.
"""
import argparse
import array
import bisect
import collections
import os
import pty
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
LOUD = 1000          # the tone peaks at 16384; only zero crossings dip below
TONE_SECONDS = 2
LONG_SECONDS = 60
GAP = 0.6            # silence between runs; half of it is searched on each side
ESC_AFTER = 1.0
DING_SECONDS = 0.3
# What a ding may cost peldo at most, under callgrind and in peak RSS.
INSTRUCTIONS_BAR = 450000
PEAK_KB_BAR = 2500
# peldo through the sound server's own protocol (its default) and through
# ALSA (AUDIODEV names ALSA's default, the server's plug-in); pw-play only
# where PipeWire is the server.
PLAYERS = ("peldo", "peldo-alsa", "aplay", "paplay", "play", "pw-play")
ALSA = {"AUDIODEV": "default"}

Run = collections.namedtuple("Run", "start end cpu switches peak_kb esc")


PAREC = ["parec", "--latency-msec=10", "-d", "peldo_test.monitor", "--raw",
         "--format=s16le", "--rate=44100", "--channels=2"]
PW_RECORD = ["pw-record", "--target", "peldo_test", "-P", "{ stream.capture.sink=true node.passive=true }",
             "--latency", "2048", "--rate", "44100", "--channels", "2", "--format", "s16", "-"]


class Monitor:
    def __init__(self, command=PAREC):
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
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
        self.chunks = []
        self.left = data[0::2]
        self.block_starts = [n for _, n in self.marks]

    def _offset(self, start, end):
        """The sink's clock against the monotonic one around a stretch of
        time: should the sink fall behind and catch up, the relation shifts,
        so only blocks that arrived near the stretch are used."""
        near = [t - n / RATE for t, n in self.marks if start - 1 <= t <= end + 1]
        return min(near) if near else min(t - n / RATE for t, n in self.marks)

    def _arrival(self, index):
        return self.marks[bisect.bisect_right(self.block_starts, index) - 1][0]

    def heard(self, start, end):
        """Between two times: the first loud sample by the sink's clock and
        by the arrival of its block, the last one by the sink's clock, and
        the longest quiet run between them (ms); None when all is quiet."""
        offset = self._offset(start, end)
        def index(t):
            return max(0, min(len(self.left), int((t - offset) * RATE)))
        lo, hi = index(start), index(end)
        left = self.left
        first = next((i for i in range(lo, hi) if abs(left[i]) > LOUD), None)
        if first is None:
            return None
        last = next(i for i in range(hi - 1, first - 1, -1) if abs(left[i]) > LOUD)
        # A graph that pauses (PipeWire changing its cycle for a new stream)
        # moves its clock later: the sound is placed by its own block and
        # those after it.
        arrival = self._arrival(first)
        since = [t - n / RATE for t, n in self.marks if arrival <= t <= end + 1]
        offset = min(since) if since else offset
        longest = run = 0
        for i in range(first, last + 1):
            run = run + 1 if abs(left[i]) <= LOUD else 0
            longest = max(longest, run)
        gap_ms = 1000 * longest / RATE if longest > 4 else 0.0
        return offset + first / RATE, arrival, offset + (last + 1) / RATE, gap_ms


    def heard_by_arrival(self, start, end):
        """As heard(), for a recorder that gets blocks only while a player
        plays (its frames then keep no clock between runs): each block is
        placed at its arrival, which the null sink makes the moment its first
        frame is due."""
        blocks = [(t, n) for t, n in self.marks if start <= t <= end]
        if not blocks:
            return None
        left = self.left
        lo = blocks[0][1]
        hi = min(len(left), self.marks[self.marks.index(blocks[-1]) + 1][1]
                 if blocks[-1] != self.marks[-1] else len(left))
        first = next((i for i in range(lo, hi) if abs(left[i]) > LOUD), None)
        if first is None:
            return None
        last = next(i for i in range(hi - 1, first - 1, -1) if abs(left[i]) > LOUD)
        longest = run = 0
        for i in range(first, last + 1):
            run = run + 1 if abs(left[i]) <= LOUD else 0
            longest = max(longest, run)
        arrival = self._arrival(first)
        block_start = self.block_starts[bisect.bisect_right(self.block_starts, first) - 1]
        at = arrival + (first - block_start) / RATE
        return at, arrival, at + (last + 1 - first) / RATE, 1000 * longest / RATE if longest > 4 else 0.0


def peak_memory_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run(command, cwd, esc_after=None):
    """Runs a player, a command line and the environment it adds, to its end
    (see the top of this file); with `esc_after`, types Esc on its terminal
    that many seconds in."""
    command, extra = command
    master, slave = pty.openpty()
    try:
        start = time.monotonic()
        child = subprocess.Popen(["setsid", "--ctty"] + command, cwd=cwd, stdin=slave,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 env=dict(os.environ, **extra))
        peak = 0
        esc = None
        while True:
            pid, status, usage = os.wait4(child.pid, os.WNOHANG)
            if pid:
                break
            peak = max(peak, peak_memory_kb(child.pid))
            pause = 0.05
            if esc_after is not None and esc is None:
                pause = min(pause, start + esc_after - time.monotonic())
                if pause <= 0:
                    esc = time.monotonic()
                    os.write(master, b"\x1b")
                    pause = 0.05
            time.sleep(pause)
        end = time.monotonic()
        child.returncode = os.waitstatus_to_exitcode(status)
    finally:
        os.close(master)
        os.close(slave)
    return Run(start, end, usage.ru_utime + usage.ru_stime, usage.ru_nvcsw, peak, esc)


def make_sound(path, seconds):
    """A 440 Hz tone at half scale, 44100 Hz stereo, in the format the name
    says; False when sox cannot write that format here."""
    bits = [] if path.endswith(".mp3") else ["-b", "16"]
    made = subprocess.run(["sox", "-n", "-r", "44100", "-c", "2"] + bits +
                          [path, "synth", str(seconds), "sine", "440", "vol", "0.5"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return made.returncode == 0 and os.path.getsize(path) > 0


def commands(peldo, name):
    """Each player there is here: its command line for `name`, and what it
    adds to the environment."""
    every = {"peldo": ([peldo, name, "/q"], {}), "peldo-alsa": ([peldo, name, "/q"], ALSA),
             "aplay": (["aplay", "-q", name], {}), "paplay": (["paplay", name], {}),
             "play": (["play", "-q", name], {}), "pw-play": (["pw-play", name], {})}
    return {player: every[player] for player in PLAYERS
            if shutil.which(every[player][0][0]) and (player != "pw-play" or on_pipewire())}


def on_pipewire():
    return b"PipeWire" in subprocess.run(["pactl", "info"], capture_output=True).stdout


def players_for(peldo, work, extension):
    """The players that can play a file of this kind: aplay takes anything
    that is not a WAV for raw samples, the others are tried on a short file."""
    players = commands(peldo, "probe")
    if extension == "wav":
        return list(players)
    probe = f"probe.{extension}"
    able = ["peldo", "peldo-alsa"]
    if make_sound(os.path.join(work, probe), 0.2):
        for name in ("paplay", "play"):
            if name not in players:
                continue
            command, extra = commands(peldo, probe)[name]
            tried = subprocess.run(command, cwd=work, env=dict(os.environ, **extra),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if tried.returncode == 0:
                able.append(name)
    return able


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def show(value, pattern):
    return "-" if value is None else pattern % value


def steady_state(peldo, work, rounds):
    kinds = []
    for extension in ("wav", "flac", "mp3"):
        name = f"long.{extension}"
        if not make_sound(os.path.join(work, name), LONG_SECONDS):
            print(f"{extension.upper()}: sox cannot write it here (libsox-fmt-all missing?); "
                  "left out")
            continue
        kinds.append((extension.upper(), name, players_for(peldo, work, extension)))

    results = {(kind, player): [] for kind, _, players in kinds for player in players}
    for _ in range(rounds):
        for kind, name, players in kinds:
            for player in players:
                results[(kind, player)].append(run(commands(peldo, name)[player], work))
                time.sleep(GAP)

    print(f"{LONG_SECONDS} s files, 44100 Hz stereo, into a null sink; median of {rounds} "
          f"interleaved round{'s' if rounds != 1 else ''}")
    print("per second of sound: CPU ms (user + system) and voluntary context switches; "
          "peldo/peer from the same rounds")
    print(f"{'file':<5} {'player':<7} {'CPU ms/s':>9} {'switches/s':>11} {'peak RSS KB':>12} "
          f"{'wall s':>7} {'peldo/peer CPU':>15} {'peldo/peer switches':>20}")
    for kind, _, players in kinds:
        figures = {}
        for player in players:
            runs = results[(kind, player)]
            figures[player] = (median([1000 * r.cpu / LONG_SECONDS for r in runs]),
                               median([r.switches / LONG_SECONDS for r in runs]),
                               median([r.peak_kb for r in runs]),
                               median([r.end - r.start for r in runs]))
        for player in players:
            cpu, switches, peak, wall = figures[player]
            cpu_ratio = switch_ratio = None
            if player != "peldo" and cpu and switches:
                cpu_ratio = figures["peldo"][0] / cpu
                switch_ratio = figures["peldo"][1] / switches
            print(f"{kind:<5} {player:<7} {cpu:>9.2f} {switches:>11.1f} {peak:>12.0f} "
                  f"{wall:>7.1f} {show(cpu_ratio, '%.2f'):>15} {show(switch_ratio, '%.2f'):>20}")


def short_cases(peldo, work, runs):
    tone = "tone.wav"
    make_sound(os.path.join(work, tone), TONE_SECONDS)
    players = commands(peldo, tone)
    repeaters = {
        "peldo /R3": ([peldo, tone, "/r3", "/q"], {}),
        "peldo-alsa /R3": ([peldo, tone, "/r3", "/q"], ALSA),
        "play repeat 2": (["play", "-q", tone, "repeat", "2"], {}),
    }

    monitor = Monitor()
    time.sleep(2)  # the null sink renders ahead: a late recorder loses the start
    plays = {name: [] for name in players}
    for _ in range(runs):
        for name, command in players.items():
            plays[name].append(run(command, work))
            time.sleep(GAP)
    repeats = {name: [] for name in repeaters}
    for _ in range(runs):
        for name, command in repeaters.items():
            repeats[name].append(run(command, work))
            time.sleep(GAP)
    escs = {name: [] for name in ("peldo", "peldo-alsa")}
    for _ in range(runs):
        for name in escs:
            escs[name].append(run(players[name], work, esc_after=ESC_AFTER))
            time.sleep(GAP)
    time.sleep(0.5)
    monitor.stop()

    def heard(r):
        # From half a gap before the start: a sink that renders a stream
        # ahead of its time shows it early, and no start is cut off.
        return monitor.heard(r.start - GAP / 2, r.end + GAP / 2)

    print(f"\n{TONE_SECONDS} s tone, 44100 Hz stereo 16-bit WAV, recorded in 10 ms blocks; "
          f"median of {runs} interleaved runs")
    print(f"{'player':<8} {'CPU ms':>7} {'peak RSS KB':>12} {'first sound ms':>15} "
          f"{'(block arrival)':>16} {'heard ms':>9}")
    for name, player_runs in plays.items():
        firsts, arrivals, spans = [], [], []
        for r in player_runs:
            found = heard(r)
            if found:
                firsts.append(1000 * (found[0] - r.start))
                arrivals.append(1000 * (found[1] - r.start))
                spans.append(1000 * (found[2] - found[0]))
        print(f"{name:<8} {1000 * median([r.cpu for r in player_runs]):>7.1f} "
              f"{median([r.peak_kb for r in player_runs]):>12.0f} "
              f"{show(median(firsts), '%.1f'):>15} {show(median(arrivals), '%.1f'):>16} "
              f"{show(median(spans), '%.1f'):>9}")

    print(f"\nrepetitions: three plays of the {TONE_SECONDS} s tone")
    print(f"{'player':<14} {'CPU ms':>7} {'heard ms':>9} {'extra ms':>9} "
          f"{'longest silence ms':>19}")
    for name, player_runs in repeats.items():
        spans, gaps = [], []
        for r in player_runs:
            found = heard(r)
            if found:
                spans.append(1000 * (found[2] - found[0]))
                gaps.append(found[3])
        span = median(spans)
        extra = None if span is None else round(span - 3000 * TONE_SECONDS, 1) + 0.0
        print(f"{name:<14} {1000 * median([r.cpu for r in player_runs]):>7.1f} "
              f"{show(span, '%.1f'):>9} {show(extra, '%.1f'):>9} "
              f"{show(median(gaps), '%.2f'):>19}")

    for name, esc_runs in escs.items():
        silences = []
        for r in esc_runs:
            found = heard(r)
            if found and r.esc is not None:
                silences.append(1000 * (found[2] - r.esc))
        print(f"\n{name}, Esc {ESC_AFTER:.0f} s into the sound: silence "
              f"{show(median(silences), '%.1f')} ms after the key "
              f"(each run: {', '.join('%.1f' % s for s in silences)})")


def disk_writer(work):
    """A disk that writes in a loop, each round flushed to the device, as a
    backup or a build does: the program's own reads then wait for the disk."""
    return subprocess.Popen(["sh", "-c", "while :; do dd if=/dev/zero of=disk-load bs=1M count=200 "
                             "conv=fsync 2>/dev/null; done"], cwd=work, start_new_session=True)


def first_sounds(peldo, work, runs, loads=("idle", "busy")):
    """How soon a ding is heard, and whether it is heard whole (a silence
    inside it is an underflow; a run heard not at all is unheard), against
    paplay and pw-play: interleaved runs on an idle machine, with a busy
    loop on every core, or with a disk writing in a loop."""
    ding = "ding.wav"
    make_sound(os.path.join(work, ding), DING_SECONDS)
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", os.path.join(work, "silence.wav"),
                    "trim", "0", "0.05"], check=True)
    players = {name: command for name, command in commands(peldo, ding).items()
               if name in ("peldo", "peldo-alsa", "paplay", "pw-play")}
    # The recorder at a real-time priority where that is allowed: the load
    # must reach the players, not the figures.
    passive = on_pipewire()
    recorder = PW_RECORD if passive else PAREC
    if os.geteuid() == 0 and shutil.which("chrt"):
        recorder = ["chrt", "-f", "10"] + recorder
    monitor = Monitor(recorder)
    time.sleep(2)  # the null sink renders ahead: a late recorder loses the start
    plays = {(name, load): [] for load in loads for name in players}
    for load in loads:
        spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                    for _ in range(os.cpu_count() if load == "busy" else 0)]
        writer = disk_writer(work) if load == "disk" else None
        try:
            for _ in range(runs):
                for name, command in players.items():
                    done = run(command, work)
                    if passive:
                        # A passive recorder gets a run's last cycle only when
                        # the graph runs again: a moment of silence brings it
                        # in before the next run.
                        time.sleep(GAP / 2)
                        run((["paplay", "silence.wav"], {}), work)
                        done = done._replace(end=time.monotonic())
                    plays[(name, load)].append(done)
                    time.sleep(GAP)
        finally:
            for spinner in spinners:
                spinner.kill()
                spinner.wait()
            if writer:
                os.killpg(writer.pid, signal.SIGKILL)
                writer.wait()
    time.sleep(0.5)
    monitor.stop()
    print(f"\n{DING_SECONDS} s ding, first sound (by the sink's clock and by block arrival) and "
          f"underflows (a silence inside it); median of {runs} interleaved runs; "
          f"{'PipeWire' if on_pipewire() else 'PulseAudio'}")
    print(f"{'player':<11} {'load':<5} {'first sound ms':>15} {'(block arrival)':>16} {'heard ms':>9} "
          f"{'switches':>9} {'underflows':>11} {'unheard':>8} {'/ paplay':>9} {'/ pw-play':>10}")
    # Each player's median first sound, for the ratios against the peers of
    # the same load.
    first_ms = {}
    for (name, load), player_runs in plays.items():
        found = [monitor.heard_by_arrival(r.start, r.end) if passive
                 else monitor.heard(r.start - GAP / 2, r.end + GAP / 2) for r in player_runs]
        first_ms[(name, load)] = median([1000 * (f[0] - r.start) for f, r in zip(found, player_runs) if f])
    for (name, load), player_runs in plays.items():
        firsts, arrivals, spans, gaps = [], [], [], 0
        for r in player_runs:
            found = (monitor.heard_by_arrival(r.start, r.end) if passive
                     else monitor.heard(r.start - GAP / 2, r.end + GAP / 2))
            if found:
                firsts.append(1000 * (found[0] - r.start))
                arrivals.append(1000 * (found[1] - r.start))
                spans.append(1000 * (found[2] - found[0]))
                gaps += found[3] > 0
        print(f"{name:<11} {load:<5} {show(median(firsts), '%.1f'):>15} "
              f"{show(median(arrivals), '%.1f'):>16} {show(median(spans), '%.1f'):>9} "
              f"{median([r.switches for r in player_runs]):>9.0f} "
              f"{gaps:>11} {len(player_runs) - len(spans):>8} "
              f"{show(ratio_of(first_ms[(name, load)], first_ms.get(('paplay', load))), '%.2f'):>9} "
              f"{show(ratio_of(first_ms[(name, load)], first_ms.get(('pw-play', load))), '%.2f'):>10}")


def ratio_of(value, base):
    return value / base if value is not None and base else None


def dings(peldo, work, runs):
    """A short ding, as a script plays it many times a day: CPU and wall
    time of the whole process, in interleaved runs."""
    ding = "ding.wav"
    make_sound(os.path.join(work, ding), DING_SECONDS)
    players = commands(peldo, ding)
    results = {name: [] for name in players}
    for _ in range(runs):
        for name, command in players.items():
            results[name].append(run(command, work))
    print(f"\n{DING_SECONDS} s ding, 44100 Hz stereo 16-bit WAV; median of {runs} interleaved runs")
    print(f"{'player':<11} {'CPU ms':>7} {'wall s':>7} {'CPU / paplay':>13}")
    base = median([r.cpu for r in results["paplay"]]) if "paplay" in results else None
    for name, player_runs in results.items():
        cpu = median([r.cpu for r in player_runs])
        ratio = cpu / base if base else None
        print(f"{name:<11} {1000 * cpu:>7.2f} {median([r.end - r.start for r in player_runs]):>7.3f} "
              f"{show(ratio, '%.2f'):>13}")


def instructions(command, cwd):
    """The instructions a player runs for one sound, all its threads, as
    callgrind counts them; None where valgrind is missing or gave no count."""
    command, extra = command
    if not shutil.which("valgrind"):
        return None
    with tempfile.TemporaryDirectory() as scratch:
        counted = subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={scratch}/out"] + command,
            cwd=cwd, env=dict(os.environ, **extra), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in counted.stderr.splitlines():
        if "Collected :" in line:
            return int(line.split(":")[-1])
    return None


def peak_rss_kb(command, cwd):
    """The most memory a player held for one sound, as GNU time reads it from
    the kernel when the process ends (polling /proc misses a short run's
    peak); None where /usr/bin/time is missing."""
    command, extra = command
    if not os.path.exists("/usr/bin/time"):
        return None
    timed = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd,
                           env=dict(os.environ, **extra), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    last = timed.stderr.strip().splitlines()[-1:] or [""]
    return int(last[0]) if last[0].isdigit() else None


def ding_instructions(peldo, work, runs):
    """The same ding under callgrind: instructions, a figure that load on the
    machine does not move, and the peak memory, against paplay's; peldo also
    through ALSA and on the ding as FLAC (which libsndfile decodes)."""
    make_sound(os.path.join(work, "ding.wav"), DING_SECONDS)
    players = {name: command for name, command in commands(peldo, "ding.wav").items()
               if name in ("peldo", "peldo-alsa", "paplay", "aplay")}
    if make_sound(os.path.join(work, "ding.flac"), DING_SECONDS):
        players["peldo-flac"] = commands(peldo, "ding.flac")["peldo"]
    if not shutil.which("valgrind"):
        print("\ninstructions: valgrind is not installed; left out")
        return
    counts = {name: [] for name in players}
    peaks = {name: [] for name in players}
    for _ in range(runs):
        for name, command in players.items():
            counts[name].append(instructions(command, work))
            peaks[name].append(peak_rss_kb(command, work))
    print(f"\n{DING_SECONDS} s ding under callgrind: instructions, all threads, and peak RSS "
          f"(GNU time); median of {runs} runs")
    print(f"{'player':<11} {'instructions':>13} {'/ paplay':>9} {'peak RSS KB':>12}")
    base = median(counts.get("paplay", []))
    for name, values in counts.items():
        count = median(values)
        ratio = count / base if count and base else None
        print(f"{name:<11} {show(count, '%.0f'):>13} {show(ratio, '%.2f'):>9} "
              f"{show(median(peaks[name]), '%.0f'):>12}")
    count, peak = median(counts.get("peldo", [])), median(peaks.get("peldo", []))
    if count is not None and peak is not None:
        within = count <= INSTRUCTIONS_BAR and peak <= PEAK_KB_BAR
        print(f"peldo's ding against its bars ({INSTRUCTIONS_BAR / 1e6:.2f} M instructions, "
              f"{PEAK_KB_BAR / 1000:.1f} MB): {count / 1e6:.3f} M, {peak / 1000:.2f} MB, "
              f"{'within' if within else 'OVER'}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peldo", required=True)
    parser.add_argument("--long-runs", type=int, default=1)
    parser.add_argument("--short-runs", type=int, default=10)
    parser.add_argument("--ding-runs", type=int, default=20)
    parser.add_argument("--first-runs", type=int, default=0)
    parser.add_argument("--callgrind-runs", type=int, default=0)
    parser.add_argument("--first-loads", default="idle,busy",
                        help="idle, busy (a loop per core) and disk (a disk writing in a loop), comma-separated")
    args = parser.parse_args()
    peldo = os.path.abspath(args.peldo)

    began = time.monotonic()
    work = tempfile.mkdtemp(prefix="peldo-bench-")
    try:
        if args.long_runs > 0:
            steady_state(peldo, work, args.long_runs)
        if args.short_runs > 0:
            short_cases(peldo, work, args.short_runs)
        if args.ding_runs > 0:
            dings(peldo, work, args.ding_runs)
            ding_instructions(peldo, work, min(args.ding_runs, 5))
        if args.callgrind_runs > 0:
            ding_instructions(peldo, work, args.callgrind_runs)
        if args.first_runs > 0:
            first_sounds(peldo, work, args.first_runs, tuple(args.first_loads.split(",")))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"\n(bench took {(time.monotonic() - began) / 60:.1f} min)")


if __name__ == "__main__":
    sys.exit(main())
