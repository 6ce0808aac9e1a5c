"""Brings a playing peldo to the foreground as a shell's "fg" does, over and
over, and counts what goes wrong (see bench/foreground-race).

Each run has a pseudo-terminal and a session of its own. A forked session
leader stands in for the shell: it owns the terminal's foreground, ignores
SIGTTOU, SIGTTIN and SIGTSTP as a shell does, sets a canonical, echoing
mode, and starts peldo in a process group of its own in the background,
repeating a 10 ms sound until Esc. Once the sound file has been opened and
a random 3-50 ms have passed, it gives peldo's group the terminal
(tcsetpgrp) and sends SIGCONT a random 0-100 us later, busy-waiting for
that gap; 2-30 ms later it writes Esc to the terminal and times how long
peldo takes to end. Then it takes the terminal back and reads its mode.
With --no-cont it sends no SIGCONT, as bash's "fg" of a job that runs in
the background does, and writes Esc 100-200 ms after the terminal moved, as
soon as a hand could after typing "fg".

Counted: runs that left ECHO or ICANON off, runs whose Esc the terminal
echoed, runs whose Esc took longer than 400 ms (a lone Esc byte counts as
the key after 20 ms of quiet), and runs still going 5 s after Esc (killed).
With --loaded-runs the same runs are made again while one spinning process
per core loads the machine.
"""
import argparse
import fcntl
import json
import os
import pty
import random
import select
import signal
import statistics
import subprocess
import sys
import termios
import time

LATE_MS = 400
EXIT_BOUND_S = 5.0
START_BOUND_S = 5.0
SETTLE_MS = (3, 50)
ESC_AFTER_MS = (2, 30)
ESC_AFTER_FG_MS = (100, 200)


def wait_until_open(pid, path, bound):
    """Whether process `pid` has `path` open within `bound` seconds: the
    sound file is opened once playing begins."""
    deadline = time.monotonic() + bound
    folder = f"/proc/{pid}/fd"
    while time.monotonic() < deadline:
        try:
            for fd in os.listdir(folder):
                try:
                    if os.readlink(f"{folder}/{fd}") == path:
                        return True
                except OSError:
                    pass
        except OSError:
            return False
        time.sleep(0.0005)
    return False


def wait_exit(pid, bound):
    """The wait status of child `pid` once it ends, or None when it is still
    running after `bound` seconds. Wakes on the end itself (a pidfd)."""
    pidfd = os.pidfd_open(pid)
    try:
        poller = select.poll()
        poller.register(pidfd, select.POLLIN)
        deadline = time.monotonic() + bound
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return status
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            poller.poll(left * 1000)
    finally:
        os.close(pidfd)


def busy_wait_ns(ns):
    end = time.perf_counter_ns() + ns
    while time.perf_counter_ns() < end:
        pass


def act_as_shell(peldo, args, work, sound, master, slave, plan, report):
    """The session leader of one run: starts peldo in the background, brings
    it to the foreground, sends Esc; writes its pid, then what happened, to
    `report`."""
    os.setsid()
    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
    for signal_number in (signal.SIGTTOU, signal.SIGTTIN, signal.SIGTSTP):
        signal.signal(signal_number, signal.SIG_IGN)
    mode = termios.tcgetattr(slave)
    mode[3] |= termios.ICANON | termios.ECHO
    termios.tcsetattr(slave, termios.TCSANOW, mode)
    wanted = termios.tcgetattr(slave)[3]

    job = os.fork()
    if job == 0:
        try:
            os.setpgid(0, 0)
            for signal_number in (signal.SIGTTOU, signal.SIGTTIN, signal.SIGTSTP):
                signal.signal(signal_number, signal.SIG_DFL)
            os.dup2(slave, 0)
            os.dup2(slave, 1)
            os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
            os.chdir(work)
            os.execv(peldo, [peldo] + args)
        finally:
            os._exit(127)
    try:
        os.setpgid(job, job)
    except OSError:
        pass  # the job did it first
    os.write(report, f"{job}\n".encode())

    outcome = {}
    if not wait_until_open(job, sound, START_BOUND_S):
        outcome["result"] = "no start"
    else:
        time.sleep(plan["settle_ms"] / 1000)
        done, _ = os.waitpid(job, os.WNOHANG)
        if done:
            outcome["result"] = "ended before Esc"
        else:
            os.tcsetpgrp(slave, job)
            if plan["cont_delay_ns"] is not None:
                busy_wait_ns(plan["cont_delay_ns"])
                os.killpg(job, signal.SIGCONT)
            time.sleep(plan["esc_after_ms"] / 1000)
            start = time.monotonic()
            os.write(master, b"\x1b")
            status = wait_exit(job, EXIT_BOUND_S)
            # peldo /q writes nothing: whatever the terminal shows is echo.
            outcome["esc_echoed"] = b"^[" in read_available(master)
            if status is None:
                outcome["result"] = "hang"
                os.killpg(job, signal.SIGKILL)
                os.waitpid(job, 0)
            else:
                outcome["esc_ms"] = (time.monotonic() - start) * 1000
                outcome["result"] = "exit" if os.waitstatus_to_exitcode(status) == 0 else "bad exit"
    if "esc_ms" not in outcome:
        try:
            os.killpg(job, signal.SIGKILL)
            os.waitpid(job, 0)
        except OSError:
            pass
    os.tcsetpgrp(slave, os.getpgrp())
    found = termios.tcgetattr(slave)[3]
    outcome["echo_off"] = bool(wanted & termios.ECHO) and not found & termios.ECHO
    outcome["icanon_off"] = bool(wanted & termios.ICANON) and not found & termios.ICANON
    os.write(report, (json.dumps(outcome) + "\n").encode())


def read_available(fd):
    """What `fd` holds now, without waiting."""
    seen = b""
    while select.select([fd], [], [], 0)[0]:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    return seen


def read_report(report, bound):
    """Lines the shell wrote to `report` until it closed it, within `bound`
    seconds."""
    seen = b""
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        ready, _, _ = select.select([report], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(report, 4096)
        if not chunk:
            break
        seen += chunk
    return seen.decode().splitlines()


def one_run(peldo, args, work, sound, plan):
    master, slave = pty.openpty()
    report_read, report_write = os.pipe()
    shell = os.fork()
    if shell == 0:
        try:
            os.close(report_read)
            act_as_shell(peldo, args, work, sound, master, slave, plan, report_write)
        finally:
            os._exit(0)
    os.close(report_write)
    try:
        lines = read_report(report_read, START_BOUND_S + EXIT_BOUND_S + 10)
        if len(lines) < 2:
            # The shell itself got stuck: end its session and the job.
            for group in [shell] + [int(line) for line in lines[:1]]:
                try:
                    os.killpg(group, signal.SIGKILL)
                except OSError:
                    pass
            return {"result": "shell stuck"}
        return json.loads(lines[1])
    finally:
        if wait_exit(shell, 5) is None:
            os.killpg(shell, signal.SIGKILL)
            os.waitpid(shell, 0)
        os.close(report_read)
        os.close(master)
        os.close(slave)


def start_load(per_core):
    """`per_core` spinning processes per core this bench may run on."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"],
                             stdin=subprocess.DEVNULL, start_new_session=True)
            for _ in range(per_core * len(os.sched_getaffinity(0)))]


def stop_load(spinners):
    for spinner in spinners:
        spinner.kill()
        spinner.wait()


def run_phase(what, runs, peldo, work, sound, cont_delay_us, chooser):
    """`cont_delay_us` None: no SIGCONT."""
    args = [os.path.splitext(os.path.basename(sound))[0], "/r-1", "/q"]
    outcomes = []
    started = time.monotonic()
    for _ in range(runs):
        plan = {
            "settle_ms": chooser.uniform(*SETTLE_MS),
            "cont_delay_ns": None if cont_delay_us is None else int(chooser.uniform(0, cont_delay_us) * 1000),
            "esc_after_ms": chooser.uniform(*(ESC_AFTER_MS if cont_delay_us is not None else ESC_AFTER_FG_MS)),
        }
        outcome = one_run(peldo, args, work, sound, plan)
        outcome.update(plan)
        outcomes.append(outcome)
    show(what, runs, cont_delay_us, outcomes, time.monotonic() - started)
    return outcomes


def show(what, runs, cont_delay_us, outcomes, seconds):
    def count(result):
        return sum(1 for o in outcomes if o["result"] == result)
    timed = [o for o in outcomes if "esc_ms" in o]
    # A run killed after it hung never gave the mode back: only runs that
    # ended count for the mode.
    mode_off = [o for o in timed if o["echo_off"] or o["icanon_off"]]
    late = [o for o in timed if o["esc_ms"] > LATE_MS]
    if cont_delay_us is None:
        fg = f"tcsetpgrp alone; Esc {ESC_AFTER_FG_MS[0]}-{ESC_AFTER_FG_MS[1]} ms after it"
    else:
        fg = (f"SIGCONT 0-{cont_delay_us:g} us after tcsetpgrp; "
              f"Esc {ESC_AFTER_MS[0]}-{ESC_AFTER_MS[1]} ms after SIGCONT")
    print(f"{what}: {runs} runs in {seconds:.0f} s (fg: {fg})")
    print(f"  ECHO or ICANON left off: {len(mode_off)} "
          f"(ECHO {sum(1 for o in mode_off if o['echo_off'])}, "
          f"ICANON {sum(1 for o in mode_off if o['icanon_off'])})")
    print(f"  Esc echoed: {sum(1 for o in timed if o.get('esc_echoed'))}")
    print(f"  Esc later than {LATE_MS} ms: {len(late)}")
    print(f"  hangs (still running {EXIT_BOUND_S:g} s after Esc, killed): {count('hang')}")
    others = [(name, count(name)) for name in ("no start", "ended before Esc", "bad exit", "shell stuck")]
    if any(n for _, n in others):
        print("  not measured: " + ", ".join(f"{name} {n}" for name, n in others if n))
    if timed:
        times = [o["esc_ms"] for o in timed]
        print(f"  Esc to exit: median {statistics.median(times):.0f} ms, "
              f"max {max(times):.0f} ms ({len(timed)} runs)")
    for label, bad in (("left the mode off", mode_off), ("were late", late)):
        if bad and cont_delay_us is not None:
            print(f"  SIGCONT delays of the runs that {label}: "
                  + ", ".join(f"{o['cont_delay_ns'] / 1000:.0f}" for o in bad) + " us")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peldo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--sound", required=True, help="a short WAV in --work")
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--loaded-runs", type=int, default=300,
                        help="runs with spinning processes loading every core; 0 for none")
    parser.add_argument("--load-per-core", type=int, default=1,
                        help="spinning processes per core in the loaded runs")
    parser.add_argument("--cont-delay-us", type=float, default=100,
                        help="SIGCONT comes 0 to this many us after tcsetpgrp")
    parser.add_argument("--no-cont", action="store_true",
                        help="fg as bash brings a running job: the terminal alone, no SIGCONT")
    parser.add_argument("--seed", type=int, default=None)
    options = parser.parse_args()
    if options.no_cont:
        options.cont_delay_us = None
    if not os.access(options.peldo, os.X_OK):
        print(f"foreground-race: {options.peldo} is not a program", file=sys.stderr)
        return 2
    seed = options.seed if options.seed is not None else random.randrange(1 << 32)
    chooser = random.Random(seed)
    sound = os.path.realpath(options.sound)
    print(f"{options.peldo}, seed {seed}")

    measured = []
    if options.runs > 0:
        measured += run_phase("no load", options.runs, options.peldo, options.work, sound,
                              options.cont_delay_us, chooser)
    if options.loaded_runs > 0:
        spinners = start_load(options.load_per_core)
        try:
            measured += run_phase(f"{len(spinners)} spinning processes", options.loaded_runs,
                                  options.peldo, options.work, sound, options.cont_delay_us,
                                  chooser)
        finally:
            stop_load(spinners)
    # Not one run got as far as Esc: the bench could not run.
    return 0 if any("esc_ms" in o or o["result"] == "hang" for o in measured) else 1


if __name__ == "__main__":
    sys.exit(main())
