"""Measures peldo in the states a user rarely meets, and prints what it saw
(see bench/held-states): how long Esc takes to end it while a file's header
read hangs and while the last tail waits on a frozen sound server; whether
a stop and a continue in the background change the terminal's mode; CPU and
wake-ups while sounds that play nothing repeat, and how long a counted run
of them takes; memory while a damaged file is tried again and again; what a failed header read, a library's printf and closed
standard descriptors lead to. Each program runs in a session of its own,
at a pseudo-terminal of its own.
"""
import argparse
import fcntl
import os
import pty
import select
import signal
import statistics
import subprocess
import sys
import termios
import time

ESC_RUNS = 7


def spawn(peldo, args, cwd, env=None, stdin_null=False, closed=()):
    """Starts peldo at a new pseudo-terminal, in the foreground of a session
    of its own. Returns (pid, master, slave)."""
    master, slave = pty.openpty()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(master)
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            os.dup2(os.open(os.devnull, os.O_RDONLY) if stdin_null else slave, 0)
            os.dup2(slave, 1)
            os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
            for fd in closed:
                os.close(fd)
            os.chdir(cwd)
            os.execve(peldo, [peldo] + args, env or os.environ)
        finally:
            os._exit(127)
    return pid, master, slave


def read_until(master, text, timeout):
    seen = b""
    deadline = time.monotonic() + timeout
    while text not in seen and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], max(0.0, deadline - time.monotonic()))
        if ready:
            try:
                seen += os.read(master, 4096)
            except OSError:
                break
    return text in seen, seen


def wait_exit(pid, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.002)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return None


def esc_to_exit(peldo, work, args, env, prepare, ready_text, settle, runs):
    """Times from Esc to the end of the process, over `runs` runs: Esc comes
    `settle` seconds after `prepare`, which comes a moment after
    `ready_text`."""
    times = []
    for _ in range(runs):
        pid, master, slave = spawn(peldo, args, work, env)
        undo = None
        try:
            found, _ = read_until(master, ready_text, 10)
            if not found:
                continue
            time.sleep(0.3)
            undo = prepare()
            time.sleep(settle)
            start = time.monotonic()
            os.write(master, b"\x1b")
            if wait_exit(pid, 10) is not None:
                times.append((time.monotonic() - start) * 1000)
        finally:
            if undo:
                undo()
            os.close(master)
            os.close(slave)
    return times


def show_times(what, times, runs):
    if not times:
        print(f"{what}: no run ended on Esc within 10 s")
        return
    print(f"{what}: median {statistics.median(times):.0f} ms, "
          f"min {min(times):.0f}, max {max(times):.0f} ({len(times)} of {runs} runs)")


def server_pid():
    with open(os.path.join(os.environ["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
        return int(f.read().strip())


def with_shim(mode, shim):
    env = dict(os.environ)
    env["LD_PRELOAD"] = shim
    env["PELDO_READ_SHIM"] = mode
    return env


def status_of(pid):
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(") ", 1)[1][0]


def job_at_terminal(peldo, args, cwd):
    """Starts peldo as a job-control shell starts a job, in the foreground;
    SIGUSR2 to the returned shell is its "bg" (after a stop). Returns (shell,
    job, master, slave)."""
    master, slave = pty.openpty()
    read_end, write_end = os.pipe()
    shell = os.fork()
    if shell == 0:
        try:
            os.close(master)
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            signal.signal(signal.SIGTTOU, signal.SIG_IGN)
            job = os.fork()
            if job == 0:
                os.setpgid(0, 0)
                os.tcsetpgrp(slave, os.getpid())
                signal.signal(signal.SIGTTOU, signal.SIG_DFL)
                os.dup2(os.open(os.devnull, os.O_RDONLY), 0)
                os.dup2(slave, 1)
                os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
                os.chdir(cwd)
                os.execv(peldo, [peldo] + args)
            os.write(write_end, str(job).encode())

            def take_back(*_):
                os.tcsetpgrp(slave, os.getpgrp())
                os.killpg(job, signal.SIGCONT)
            signal.signal(signal.SIGUSR2, take_back)
            while True:
                try:
                    os.waitpid(job, 0)
                    break
                except InterruptedError:
                    pass
        finally:
            os._exit(0)
    os.close(write_end)
    job = int(os.read(read_end, 32))
    os.close(read_end)
    return shell, job, master, slave


def background_stop_and_continue(peldo, work, rounds):
    """Ctrl+Z and "bg", then the shell's prompt sets its own mode (as
    readline does); the program in the background is stopped and continued
    from outside. Counts the rounds after which the mode is not the
    prompt's, or the program stays stopped."""
    shell, job, master, slave = job_at_terminal(peldo, ["tone", "/r-1"], work)
    changed = 0
    try:
        read_until(master, b"until ESC", 10)
        time.sleep(0.3)
        os.kill(job, signal.SIGTSTP)
        while status_of(job) != "T":
            time.sleep(0.005)
        os.kill(shell, signal.SIGUSR2)
        time.sleep(0.3)
        prompt = termios.tcgetattr(slave)
        prompt[3] &= ~(termios.ICANON | termios.ECHO)
        termios.tcsetattr(slave, termios.TCSANOW, prompt)
        prompt = termios.tcgetattr(slave)
        for _ in range(rounds):
            os.kill(job, signal.SIGSTOP)
            while status_of(job) != "T":
                time.sleep(0.005)
            os.kill(job, signal.SIGCONT)
            time.sleep(0.3)
            if termios.tcgetattr(slave) != prompt or status_of(job) == "T":
                changed += 1
    finally:
        os.killpg(job, signal.SIGKILL)
        wait_exit(shell, 5)
        os.close(master)
        os.close(slave)
    print(f"stop and continue in the background, {rounds} rounds: the prompt's mode "
          f"changed or the program stayed stopped after {changed}")


def usage_while(peldo, work, args, seconds, env=None):
    """CPU, voluntary switches and resident memory of a run cut after
    `seconds`."""
    start = time.monotonic()
    process = subprocess.Popen([peldo] + args, cwd=work, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    rss = []
    while time.monotonic() - start < seconds:
        time.sleep(1)
        with open(f"/proc/{process.pid}/status") as f:
            rss += [int(line.split()[1]) for line in f if line.startswith("VmRSS:")]
    process.terminate()
    _, _, usage = os.wait4(process.pid, 0)
    elapsed = time.monotonic() - start
    return (usage.ru_utime + usage.ru_stime) / elapsed * 100, usage.ru_nvcsw / elapsed, rss


def plain_run(peldo, work, args, env=None, closed=()):
    """Output and wait status of a run to its end (10 s at most), and where
    its descriptors 1 and 2 lead half a second in."""
    pid, master, slave = spawn(peldo, args, work, env, stdin_null=True, closed=closed)
    seen = b""
    leads = {}
    start = time.monotonic()
    status = None
    while time.monotonic() - start < 10:
        ready, _, _ = select.select([master], [], [], 0.02)
        if ready:
            try:
                seen += os.read(master, 4096)
            except OSError:
                pass
        if not leads and time.monotonic() - start > 0.5:
            for fd in (1, 2):
                try:
                    leads[fd] = os.readlink(f"/proc/{pid}/fd/{fd}")
                except OSError:
                    leads[fd] = "closed"
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
    else:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    os.close(master)
    os.close(slave)
    return seen, status, leads


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peldo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--shim", required=True)
    parser.add_argument("--runs", type=int, default=ESC_RUNS)
    options = parser.parse_args()
    peldo, work, shim, runs = options.peldo, options.work, options.shim, options.runs

    hang = with_shim("hang", shim)
    show_times("Esc while the header read hangs", esc_to_exit(
        peldo, work, ["tone", "/r-1"], hang, lambda: None, b"until ESC", 0.3, runs), runs)

    def freeze():
        server = server_pid()
        os.kill(server, signal.SIGSTOP)
        return lambda: os.kill(server, signal.SIGCONT)
    # The server freezes once the sound has started; the tone is queued
    # whole and its time runs out, then the tail is waited for.
    show_times("Esc while the last tail waits on a frozen server", esc_to_exit(
        peldo, work, ["tone"], None, freeze, b'"tone.WAV"', 2.0, runs), runs)

    background_stop_and_continue(peldo, work, 5)

    for what, args in (("an empty WAV", ["empty", "/r5"]), ("an empty WAV", ["empty", "/r100"])):
        start = time.monotonic()
        plain_run(peldo, work, args + ["/q"])
        print(f"{what}, {args[1]}: done in {(time.monotonic() - start) * 1000:.0f} ms")

    null_device = dict(os.environ, AUDIODEV="null")
    for what, args, env in (("an empty WAV", ["empty", "/r-1"], None),
                            ("a 1-frame WAV", ["oneframe", "/r-1"], None),
                            ("a 1 s tone on ALSA's null device", ["tone", "/r-1"], null_device)):
        cpu, switches, _ = usage_while(peldo, work, args, 10, env)
        print(f"{what} repeated until Esc: {cpu:.1f} % of a core, {switches:.0f} switches/s")

    _, _, rss = usage_while(peldo, work, ["damaged.ogg", "/r-1"], 30)
    print(f"a damaged Ogg file tried again until Esc: resident {rss[1]} kB after 2 s, "
          f"{rss[-1]} kB after {len(rss)} s")

    seen, _, _ = plain_run(peldo, work, ["tone", "/q"], with_shim("eio", shim))
    print("a read error in the header: " + seen.decode(errors="replace").strip())
    seen, _, _ = plain_run(peldo, work, ["tone", "/r3", "/q"], with_shim("eio-once", shim))
    print(f"a read that fails once, /r3: {seen.count(b'(302)')} error line(s)")

    seen, _, _ = plain_run(peldo, work, ["tone"], with_shim("printf", shim))
    print("a library's printf during the open: "
          + ("shown" if b"Ooops" in seen else "not shown"))

    for name, fd in (("standard output", 1), ("standard error", 2)):
        _, status, leads = plain_run(peldo, work, ["tone", "/r2"], closed=(fd,))
        code = os.waitstatus_to_exitcode(status) if status is not None else "none"
        print(f"{name} closed: exit code {code}; descriptor {fd} during the run: {leads.get(fd)}")


if __name__ == "__main__":
    sys.exit(main())
