// Starts a child process, the one way the end-to-end tests do: build/peldo
// unless another program is named, always in a session of its own, with
// its standard output in a pipe, a file or nowhere, or on a pseudo-terminal
// that is its controlling terminal, the way a user at a terminal runs it.
// Standard error always goes to a pipe. Every wait is bounded: the child's
// end is seen on a pidfd, its output on its pipes, so a hang fails a test
// instead of stalling the run.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#ifndef PELDO_BINARY
#error "PELDO_BINARY must name the program under test"
#endif

extern char** environ;

namespace e2e {

// Where standard output goes when the child has no terminal.
enum class Stdout {
  kPipe,        // captured in Out()
  kFile,        // written to ProcessOptions::stdout_file (created or truncated)
  kClosed,      // descriptor 1 is closed in the child
  kReaderGone,  // a pipe whose read end was closed before the child started
};

struct ProcessOptions {
  std::string program = PELDO_BINARY;  // a name without "/" is looked up on PATH
  std::vector<std::string> args;       // after the program's name
  // Environment: the test's own, minus `unset`, plus `set` (NAME, value).
  std::vector<std::string> unset;
  std::vector<std::pair<std::string, std::string>> set;
  std::string working_dir;  // empty: the test's own
  std::string stdin_file;   // empty: the terminal, or /dev/null without one
  bool stdin_closed = false;  // descriptor 0 closed instead
  Stdout stdout_mode = Stdout::kPipe;
  std::string stdout_file;
  // A pseudo-terminal of its own (the kernel's defaults: a cooked terminal,
  // as a shell leaves it) is the controlling terminal, standard output and,
  // unless stdin_file says otherwise, standard input.
  bool terminal = false;
  std::vector<int> ignored_signals;  // ignored when it starts, as nohup leaves SIGHUP
  // With a terminal: started the way a job-control shell starts a job, in a
  // process group of its own in the foreground, with a parent (the "shell")
  // in the session.
  bool job_control = false;
  bool in_background = false;  // with job_control: started as "program &" is
  int timeout_ms = 10000;  // for RunProcess
};

// How a run to the end went.
struct ProcessResult {
  bool started = false;  // false: see `error`
  std::string error;
  std::string out;     // standard output, when it went to a pipe
  std::string err;     // standard error
  int exit_code = -1;  // -1 unless the child exited normally
  int signal = 0;      // the signal that ended the child, 0 if none
  bool timed_out = false;
  int elapsed_ms = 0;

  bool ExitedWith(int code) const { return !timed_out && signal == 0 && exit_code == code; }
};

// How a result ended, for failure messages.
inline std::string Describe(const ProcessResult& r) {
  if (!r.started) return "not started: " + r.error;
  if (r.timed_out) return "killed after its time limit";
  if (r.signal != 0) return "killed by signal " + std::to_string(r.signal);
  return "exit code " + std::to_string(r.exit_code);
}

class Process {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Process(const ProcessOptions& options) : start_(Clock::now()) { Start(options); }

  ~Process() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_fd_, err_fd_, pidfd_, slave_}) {
      if (fd >= 0) close(fd);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // With job_control: the program's own pid (Pid() is its "shell").
  pid_t JobPid() const {
    pid_t job = 0;
    std::ifstream("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children") >> job;
    return job > 0 ? job : -1;
  }

  // With job_control, as a shell's "fg" and "bg": the "shell" gives the
  // terminal's foreground to the job, or takes it back, and continues it.
  // bash's "fg" of a running job sends no SIGCONT: `continued` false.
  void Foreground(bool continued = true) { kill(pid_, continued ? SIGUSR1 : SIGURG); }
  void Background() { kill(pid_, SIGUSR2); }

  // Types bytes at the terminal.
  void Type(const std::string& bytes) {
    if (terminal_ && out_fd_ >= 0 && write(out_fd_, bytes.data(), bytes.size()) < 0) return;
  }

  // The terminal goes away, as when its window is closed: the program gets
  // SIGHUP and its terminal reads and writes fail from then on.
  void HangUp() {
    if (!terminal_ || out_fd_ < 0) return;
    close(out_fd_);
    out_fd_ = -1;
  }

  // Waits up to `timeout_ms` (-1: no bound) for output and takes what came;
  // false once standard output and error are both closed. Touches nothing
  // but the output, so another thread may read while this one waits.
  bool ReadOutput(int timeout_ms) {
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    Pump(timeout_ms, false);
    return true;
  }

  // Reads the output until `text` has appeared in it; false when it has not
  // within `timeout_ms` or the child ended without it.
  bool WaitForOutput(const std::string& text, int timeout_ms) {
    return PumpUntil([&] { return out_.find(text) != std::string::npos; }, timeout_ms);
  }

  // Waits up to `timeout_ms` for the child to end, taking its output
  // meanwhile; false if it still runs.
  bool WaitForExit(int timeout_ms) {
    return PumpUntil([&] { return exited_; }, timeout_ms);
  }

  // Ends it with SIGKILL, as at the end of a time limit.
  void Kill() {
    if (pid_ <= 0 || exited_) return;
    killed_ = true;
    kill(pid_, SIGKILL);
  }

  int ExitCode() const { return exit_code_; }  // -1 unless it exited normally
  int Signal() const { return signal_; }       // the signal that ended it, 0 if none
  // Standard output, or what the terminal showed.
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

  // The terminal's settings now, and as they were before the program ran.
  termios Now() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
  }
  const termios& Initial() const { return initial_; }
  // Sets the terminal's mode from outside, as another program sharing it would.
  void SetMode(const termios& mode) const { tcsetattr(slave_, TCSANOW, &mode); }

  // How it went so far; killed or still running counts as timed out.
  ProcessResult Result() const {
    ProcessResult result;
    result.started = Started();
    result.error = error_;
    result.out = out_;
    result.err = err_;
    result.timed_out = result.started && (killed_ || !exited_);
    if (!result.timed_out) {
      result.exit_code = exit_code_;
      result.signal = signal_;
    }
    const Clock::time_point end = exited_ ? end_ : Clock::now();
    result.elapsed_ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - start_).count());
    return result;
  }

 private:
  // Takes the output until `done()`, the child's end or the time limit.
  template <typename Done>
  bool PumpUntil(Done done, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done() && Started() && !exited_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      Pump(static_cast<int>(left.count()), true);
    }
    Pump(0, false);
    return done();
  }

  static std::vector<std::string> Environment(const ProcessOptions& options) {
    std::vector<std::string> env;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::string name = text.substr(0, text.find('='));
      bool drop = std::find(options.unset.begin(), options.unset.end(), name) != options.unset.end();
      for (const auto& set : options.set) drop = drop || set.first == name;
      if (!drop) env.push_back(text);
    }
    for (const auto& [name, value] : options.set) env.push_back(name + "=" + value);
    return env;
  }

  static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  void Start(const ProcessOptions& options) {
    std::vector<std::string> argv_texts{options.program};
    argv_texts.insert(argv_texts.end(), options.args.begin(), options.args.end());
    std::vector<std::string> env_texts = Environment(options);
    std::vector<char*> argv = Pointers(argv_texts);
    std::vector<char*> envp = Pointers(env_texts);

    // Every descriptor is opened close-on-exec; the child's dup2 onto 0, 1
    // and 2 clears that flag for the three it keeps.
    int in = -1, out = -1, err[2] = {-1, -1};
    auto fail = [&](const char* what) {
      error_ = std::string(what) + ": errno " + std::to_string(errno);
      for (int fd : {in, out, err[0], err[1]}) {
        if (fd >= 0 && fd != slave_) close(fd);
      }
    };
    if (!options.stdin_closed && (!options.stdin_file.empty() || !options.terminal)) {
      in = open(options.stdin_file.empty() ? "/dev/null" : options.stdin_file.c_str(), O_RDONLY | O_CLOEXEC);
      if (in < 0) return fail("open stdin");
    }
    if (options.terminal) {
      // The master side is the program's output and where keys are typed;
      // the slave side stays open here, so that the terminal's settings can
      // still be read after the program has gone.
      if (openpty(&out_fd_, &slave_, nullptr, nullptr, nullptr) != 0) return fail("openpty");
      terminal_ = true;
      fcntl(out_fd_, F_SETFD, FD_CLOEXEC);
      fcntl(slave_, F_SETFD, FD_CLOEXEC);
      tcgetattr(slave_, &initial_);
      out = slave_;
      if (in < 0 && !options.stdin_closed) in = slave_;
    } else if (options.stdout_mode == Stdout::kPipe || options.stdout_mode == Stdout::kReaderGone) {
      int p[2];
      if (pipe2(p, O_CLOEXEC) != 0) return fail("pipe");
      out_fd_ = p[0];
      out = p[1];
      if (options.stdout_mode == Stdout::kReaderGone) {
        close(out_fd_);
        out_fd_ = -1;
      }
    } else if (options.stdout_mode == Stdout::kFile) {
      out = open(options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (out < 0) return fail("open stdout file");
    }
    if (pipe2(err, O_CLOEXEC) != 0) return fail("pipe");

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) return fail("fork");
    if (pid_ == 0) {
      // Only async-signal-safe calls from here to exec. The child dies with
      // the test, even one that is killed, rather than run on unwatched.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(125);
      // A session of its own: without a terminal of ours it has none, so it
      // can never change the mode of the terminal the tests run from.
      setsid();
      if (options.terminal) ioctl(slave_, TIOCSCTTY, 0);
      // Signals as a shell hands them on: SIGPIPE at its default (the
      // program must choose to ignore it), none blocked, some ignored.
      for (int number = 1; number < NSIG; ++number) signal(number, SIG_DFL);
      for (const int number : options.ignored_signals) signal(number, SIG_IGN);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(126);
      in >= 0 ? dup2(in, STDIN_FILENO) : close(STDIN_FILENO);
      if (out >= 0) {
        dup2(out, STDOUT_FILENO);
      } else {
        close(STDOUT_FILENO);
      }
      dup2(err[1], STDERR_FILENO);
      // The test's ends go, so that the terminal hangs up when the test lets
      // go of it, even while a "shell" waits here.
      for (int fd : {out_fd_, err[0]}) {
        if (fd >= 0) close(fd);
      }
      if (options.job_control) RunAsJob(options.in_background);
      execvpe(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    err_fd_ = err[0];
    for (int fd : {in, out, err[1]}) {
      if (fd >= 0 && fd != slave_) close(fd);
    }
    for (int fd : {out_fd_, err_fd_}) {
      if (fd >= 0) fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    if (pidfd_ < 0) {
      error_ = "pidfd_open: errno " + std::to_string(errno);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

  // In the child, before exec: forks the program into a process group of
  // its own, in the foreground unless `in_background`, and waits for it,
  // ending the way it ended. SIGUSR1 and SIGUSR2 are its "fg" and "bg".
  static inline pid_t job_ = -1;
  static inline termios shell_mode_{};  // put back as it takes the terminal
  static void HandToJob(int signal_number) {
    tcsetpgrp(STDOUT_FILENO, job_);
    if (signal_number == SIGUSR1) kill(-job_, SIGCONT);
  }
  static void TakeFromJob(int) {
    tcsetpgrp(STDOUT_FILENO, getpgrp());
    tcsetattr(STDOUT_FILENO, TCSADRAIN, &shell_mode_);
    kill(-job_, SIGCONT);
  }
  static void RunAsJob(bool in_background) {
    signal(SIGTTOU, SIG_IGN);  // setting the terminal's foreground from the background
    tcgetattr(STDOUT_FILENO, &shell_mode_);
    signal(SIGUSR1, HandToJob);
    signal(SIGURG, HandToJob);
    signal(SIGUSR2, TakeFromJob);
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      if (!in_background) tcsetpgrp(STDOUT_FILENO, getpid());
      signal(SIGTTOU, SIG_DFL);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      return;
    }
    setpgid(job, job);
    job_ = job;
    // A hang-up is the job's to hear; the "shell" stays to tell how it ended.
    signal(SIGHUP, SIG_IGN);
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
      signal(WTERMSIG(status), SIG_DFL);
      kill(getpid(), WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
  }

  // Waits up to `timeout_ms` for output (or, with `reap`, the child's end)
  // and takes what there is.
  void Pump(int timeout_ms, bool reap) {
    pollfd fds[3];
    nfds_t count = 0;
    for (int fd : {out_fd_, err_fd_, reap && !exited_ ? pidfd_ : -1}) {
      if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    }
    if (count > 0 && poll(fds, count, timeout_ms) < 0) return;
    Take(out_fd_, out_);
    Take(err_fd_, err_);
    if (!reap || exited_ || pid_ <= 0) return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return;
    exited_ = true;
    end_ = Clock::now();
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

  // Reads what `fd` holds now; closes it at its end (or, for a terminal,
  // once it has hung up).
  static void Take(int& fd, std::string& sink) {
    char buffer[16384];
    ssize_t n = 0;
    while (fd >= 0 && ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
      if (n > 0) sink.append(buffer, static_cast<size_t>(n));
    }
    if (fd >= 0 && !(n < 0 && errno == EAGAIN)) {
      close(fd);
      fd = -1;
    }
  }

  Clock::time_point start_;
  Clock::time_point end_;
  std::string error_;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  bool terminal_ = false;  // out_fd_ is then the terminal's master side
  int slave_ = -1;
  bool exited_ = false;
  bool killed_ = false;
  int exit_code_ = -1;
  int signal_ = 0;
  termios initial_{};
  std::string out_;
  std::string err_;
};

// The settings a program could leave changed, compared field by field.
inline bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// Runs a child to its end, or kills it at its time limit.
inline ProcessResult RunProcess(const ProcessOptions& options) {
  Process child(options);
  if (child.Started() && !child.WaitForExit(options.timeout_ms)) {
    child.Kill();
    child.WaitForExit(10000);
  }
  return child.Result();
}

}  // namespace e2e
