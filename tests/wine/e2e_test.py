#!/usr/bin/env python3
"""End-to-end tests of the Windows program under Wine.

Runs peldo.exe as a Linux user would run it under Wine and compares its
standard output byte for byte, its exit code, what it plays into the test
sound server, and how it answers the Esc key typed at a terminal.

    e2e_test.py PATH-TO-peldo.exe [unittest options]

Wine must be set up by the caller (WINEPREFIX, WINEDEBUG). The playback
recording needs the PulseAudio test server with its null sink; without it
that test is skipped. Every run of the program has a time limit.
"""
import array
import math
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import terminal  # noqa: E402
from expected_texts import ERROR_LINE, ERROR_MARK, HEADER_MARK, USAGE, match_output  # noqa: E402

PELDO = None  # set from the command line
MONITOR = os.environ.get('PELDO_MONITOR', 'peldo_test.monitor')
RUN_LIMIT = 20.0  # seconds; no run here needs more than a few

TONE_SECONDS = 0.5
TONE_RATE = 22050


def write_tone(path, seconds=TONE_SECONDS, frequency=660.0):
    """A steady sine at half of full scale, 16-bit mono."""
    count = int(seconds * TONE_RATE)
    samples = array.array('h', (int(16000 * math.sin(2 * math.pi * frequency * i / TONE_RATE))
                                for i in range(count)))
    with wave.open(path, 'wb') as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(TONE_RATE)
        out.writeframes(samples.tobytes())


def sound_server_ready():
    """True when the test server's null sink can be recorded."""
    if shutil.which('parec') is None or shutil.which('pactl') is None:
        return False
    try:
        sources = subprocess.run(['pactl', 'list', 'short', 'sources'], capture_output=True,
                                 timeout=10, check=False, start_new_session=True).stdout.decode(errors='replace')
    except subprocess.TimeoutExpired:
        return False
    return any(line.split('\t')[1:2] == [MONITOR] for line in sources.splitlines())


SOUND_SERVER = sound_server_ready()


class PeldoTestCase(unittest.TestCase):
    """A scratch directory with the files the cases name."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='peldo-wine-')
        self.addCleanup(shutil.rmtree, self.dir, True)
        write_tone(self.path('tone.wav'))
        write_tone(self.path('my song.wav'))
        write_tone(self.path('.hidden.wav'))  # a dot-file is hidden under Wine
        with open(self.path('bad.wav'), 'w') as text:
            text.write('This is text, not a sound.\n')
        for directory in ('x.wav', 'only', 'only/d.wav'):
            os.mkdir(self.path(directory))
        write_tone(self.path('only/.h.wav'))

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_peldo(self, args, **options):
        """Runs peldo.exe with `args`; returns (outcome, stdout bytes, stderr bytes)."""
        out = self.path('stdout.bin')
        err = self.path('stderr.bin')
        options.setdefault('in_terminal', False)
        if not options['in_terminal']:
            options.setdefault('stderr_path', err)
        outcome = terminal.run(['wine', PELDO] + list(args), out, timeout=RUN_LIMIT,
                               cwd=self.dir, **options)
        self.assertNotEqual(outcome.exit_code, terminal.TIMED_OUT,
                            f'peldo {args} ran longer than {RUN_LIMIT} s')
        with open(out, 'rb') as f:
            stdout = f.read()
        stderr = b''
        if os.path.exists(err):
            with open(err, 'rb') as f:
                stderr = f.read()
            os.remove(err)
        return outcome, stdout, stderr

    def check_output(self, actual, expected):
        problem = match_output(actual, expected)
        if problem:
            self.fail(problem)


class OutputTest(PeldoTestCase):
    """Texts and exit codes that do not depend on sound."""

    def test_texts_and_exit_codes(self):
        cases = [
            ('no argument: header, then usage', [], 1, HEADER_MARK + USAGE),
            ('an option alone: usage without header', ['/q'], 1, USAGE),
            ('options in either case', ['/Q', '/r3'], 1, USAGE),
            ('a missing name gets .WAV', ['nosuch'], 1, HEADER_MARK + b'File not found: nosuch.WAV\r\n'),
            ('quiet does not hide the missing-file line', ['nosuch', '/q'], 1,
             b'File not found: nosuch.WAV\r\n'),
            ('a dot-file is hidden', ['.hidden.wav'], 1, HEADER_MARK + b'File not found: .hidden.wav\r\n'),
            ('a directory is no file', ['x.wav'], 1, HEADER_MARK + b'File not found: x.wav\r\n'),
            ('a wildcard that meets only a hidden file and a directory', ['only\\*.wav'], 1,
             HEADER_MARK + b'File not found: only\\*.wav\r\n'),
            ('a quote before a blank stays in the name', ['my song.wav', '/q'], 1,
             b'File not found: my song.wav" \r\n'),
        ]
        for why, args, exit_code, expected in cases:
            with self.subTest(why):
                outcome, out, err = self.run_peldo(args)
                self.assertEqual(outcome.exit_code, exit_code)
                self.check_output(out, expected)
                self.assertEqual(err, b'')


class PlaybackTest(PeldoTestCase):
    """The progress line and the device error line. Without a sound server
    Wine plays into nothing, which changes no text."""

    def test_progress_lines(self):
        cases = [
            ('a name without extension', ['tone'], HEADER_MARK + b'Playing "tone.WAV"\r\n'),
            ('letters in any case find the file', ['TONE.WAV'], HEADER_MARK + b'Playing "TONE.WAV"\r\n'),
            ('a quoted name with a blank', ['my song.wav'], HEADER_MARK + b'Playing "my song.wav"\r\n'),
            ('a count of 2', ['tone', '/r2'], HEADER_MARK + b'Playing "tone.WAV" 2 times\r\n'),
            ('a count of 0 plays once, says nothing', ['tone', '/R0'], HEADER_MARK + b'Playing "tone.WAV"\r\n'),
            ('quiet prints nothing at all', ['tone', '/q'], b''),
            ('the volume option changes no text', ['tone', '/v50'], HEADER_MARK + b'Playing "tone.WAV"\r\n'),
            ('a text file: one error line per repetition', ['bad.wav', '/r3'],
             HEADER_MARK + b'Playing "bad.wav" 3 times' + ERROR_MARK * 3 + b'\r\n'),
            ('quiet error lines', ['bad', '/r2', '/q'], ERROR_MARK * 2),
        ]
        for why, args, expected in cases:
            with self.subTest(why):
                outcome, out, _ = self.run_peldo(args)
                self.assertEqual(outcome.exit_code, 0)
                self.check_output(out, expected)

    def test_device_error_line_carries_the_code(self):
        _, out, _ = self.run_peldo(['bad.wav', '/q'])
        found = ERROR_LINE.fullmatch(out)
        self.assertIsNotNone(found, out)
        self.assertEqual(found.group(1), b'296')  # the file cannot be played

    @unittest.skipUnless(SOUND_SERVER, f'no sound server with {MONITOR}')
    def test_two_plays_are_heard(self):
        recorder = subprocess.Popen(
            ['parec', '--latency-msec=20', '-d', MONITOR, '--format=s16le', '--rate=44100',
             '--channels=1', '--raw'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        blocks = []
        reader = threading.Thread(target=lambda: blocks.extend(iter(lambda: recorder.stdout.read1(65536), b'')))
        try:
            # The null sink renders ahead of its clock: a sound that starts
            # before the recorder's stream runs loses its start.
            self.assertTrue(select.select([recorder.stdout], [], [], 5.0)[0], 'the recorder got nothing')
            reader.start()
            outcome, out, err = self.run_peldo(['tone', '/r2'])
            time.sleep(0.5)
        finally:
            recorder.terminate()
            try:
                recorder.wait(timeout=10)
            except subprocess.TimeoutExpired:
                recorder.kill()
                recorder.wait()
            if reader.is_alive():
                reader.join()
        self.assertEqual(outcome.exit_code, 0)
        self.check_output(out, HEADER_MARK + b'Playing "tone.WAV" 2 times\r\n')
        self.assertEqual(err, b'')
        heard = sounding_seconds(b''.join(blocks))
        self.assertGreater(heard, 2 * TONE_SECONDS * 0.8)
        self.assertLess(heard, 2 * TONE_SECONDS * 1.3)
        self.assertGreater(outcome.elapsed, 2 * TONE_SECONDS)
        # Waiting for the end of a sound must not keep a processor busy.
        self.assertLess(outcome.cpu, 0.5 * outcome.elapsed)


def sounding_seconds(data, rate=44100, window=441, level=2000):
    """Seconds of the recording, in 10 ms windows, louder than `level` RMS."""
    samples = array.array('h')
    samples.frombytes(data[:len(data) - len(data) % 2])
    if sys.byteorder != 'little':
        samples.byteswap()
    loud = 0
    for start in range(0, len(samples) - window + 1, window):
        chunk = samples[start:start + window]
        if math.sqrt(sum(s * s for s in chunk) / window) > level:
            loud += 1
    return loud * window / rate


@unittest.skipUnless(SOUND_SERVER, f'no sound server with {MONITOR}')
class KeyTest(PeldoTestCase):
    """Keys typed at the terminal Wine gives the program a console on, while
    a sound plays (without a sound server a play ends at once)."""

    def test_esc_stops_playback(self):
        cases = [
            ('Esc ends an endless run', ['tone', '/r-1'], [(1.5, b'\x1b')],
             HEADER_MARK + b'Playing "tone.WAV" until ESC is pressed\r\n'),
            ('letters, cursor and function keys do not, Esc after them does', ['tone', '/r-1'],
             [(1.0, b'a'), (1.3, b'\x1b[A'), (1.6, b'\x1bOP'), (2.5, b'\x1b')],
             HEADER_MARK + b'Playing "tone.WAV" until ESC is pressed\r\n'),
            ('quiet, another negative count', ['tone', '/r-5', '/q'], [(1.5, b'\x1b')], b''),
        ]
        for why, args, keys, expected in cases:
            with self.subTest(why):
                outcome, out, _ = self.run_peldo(args, in_terminal=True, keys=keys)
                self.assertEqual(outcome.exit_code, 0)
                self.check_output(out, expected)
                self.assertEqual(len(outcome.keys_typed_at), len(keys), 'ended before the last key')
                self.assertLess(outcome.elapsed - outcome.keys_typed_at[-1], 3.0)
                self.assertLess(outcome.cpu, 0.5 * outcome.elapsed)

    def test_keys_never_come_from_standard_input(self):
        escapes = self.path('escapes.txt')
        with open(escapes, 'wb') as f:
            f.write(b'\x1b' * 16)
        outcome, out, _ = self.run_peldo(['tone', '/r2', '/q'], stdin_path=escapes)
        self.assertEqual(outcome.exit_code, 0)
        self.assertEqual(out, b'')
        self.assertGreater(outcome.elapsed, 2 * TONE_SECONDS, 'stopped by standard input')


def main():
    """Runs the tests; the last line counts them as tests (not subtests):
    "e2e: N passed, M failed, K skipped"."""
    global PELDO
    if len(sys.argv) < 2 or not os.path.isfile(sys.argv[1]):
        sys.exit(__doc__)
    PELDO = os.path.abspath(sys.argv.pop(1))
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    failed = {test.id() for test, _ in result.failures + result.errors}
    # A failing subtest stands for its test.
    failed = {name.split(' ')[0] for name in failed}
    skipped = len(result.skipped)
    passed = result.testsRun - len(failed) - skipped
    print(f'e2e: {passed} passed, {len(failed)} failed, {skipped} skipped')
    return 1 if failed or passed == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
