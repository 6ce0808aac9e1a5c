#!/usr/bin/env python3
"""Runs a program the way a user at a terminal would, with a time limit.

Standard input and standard error are a fresh pseudo-terminal, so a Windows
program under Wine gets a console with a keyboard; standard output goes to a
file, so its bytes can be compared exactly. Keys are typed into the terminal
at given times; what the terminal shows is read and thrown away.

As a command:  terminal.py OUTPUT-FILE TIMEOUT-SECONDS PROGRAM [ARGS...]
exits with the program's exit code, or 124 when the time ran out.
"""
import os
import pty
import resource
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field

TIMED_OUT = 124


@dataclass
class Outcome:
    exit_code: int            # TIMED_OUT when the program had to be killed
    elapsed: float            # seconds from start to exit
    cpu: float = 0.0          # user + system seconds of the program and its children
    keys_typed_at: list = field(default_factory=list)


def _drain(master):
    try:
        while os.read(master, 4096):
            pass
    except OSError:
        pass


def run(command, stdout_path, *, timeout, cwd=None, env=None, keys=(),
        in_terminal=True, stdin_path=None, stderr_path=None):
    """Runs `command` with standard output in `stdout_path`.

    in_terminal: standard error (and standard input unless stdin_path is
    given) are a pseudo-terminal; otherwise standard input is stdin_path or
    /dev/null and standard error goes to stderr_path (or /dev/null).
    keys: (seconds after start, bytes) pairs typed into the terminal.
    """
    master = slave = None
    if in_terminal:
        master, slave = pty.openpty()
    opened = []

    def open_file(path, mode):
        handle = open(path, mode)
        opened.append(handle)
        return handle

    stdin = open_file(stdin_path, 'rb') if stdin_path else (slave if in_terminal else subprocess.DEVNULL)
    stdout = open_file(stdout_path, 'wb')
    if in_terminal:
        stderr = slave
    else:
        stderr = open_file(stderr_path, 'wb') if stderr_path else subprocess.DEVNULL

    usage_before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    process = subprocess.Popen(command, stdin=stdin, stdout=stdout, stderr=stderr, cwd=cwd,
                               env=env, start_new_session=True)
    typed = []
    try:
        if in_terminal:
            os.close(slave)
            threading.Thread(target=_drain, args=(master,), daemon=True).start()
        for at, data in keys:
            delay = start + at - time.monotonic()
            if delay > 0 and _wait(process, delay):
                break
            os.write(master, data)
            typed.append(time.monotonic() - start)
        remaining = max(0.0, start + timeout - time.monotonic())
        try:
            code = process.wait(timeout=remaining)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            code = TIMED_OUT
    finally:
        for handle in opened:
            handle.close()
        if master is not None:
            os.close(master)
    elapsed = time.monotonic() - start
    usage_after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (usage_after.ru_utime - usage_before.ru_utime) + (usage_after.ru_stime - usage_before.ru_stime)
    return Outcome(code, elapsed, cpu, typed)


def _wait(process, seconds):
    """Waits up to `seconds`; True when the process has ended meanwhile."""
    try:
        process.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    outcome = run(argv[3:], argv[1], timeout=float(argv[2]))
    return outcome.exit_code


if __name__ == '__main__':
    sys.exit(main(sys.argv))
