// Runs build/peldo on a pseudo-terminal of its own, the way a user at a
// terminal runs it: the terminal is its controlling terminal and, unless a
// test redirects it, its standard input and output. Standard error goes to
// a pipe so a test can check that nothing arrives there.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/run_process.h"

namespace e2e {

class PtyProcess {
 public:
  struct Options {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> set;  // added to the environment
    std::vector<std::string> unset;
    std::string working_dir;
    std::string stdin_file;  // empty: the terminal
    std::vector<int> ignored_signals;  // ignored when the program starts, as nohup leaves SIGHUP
    // Started the way a job-control shell starts a job: in a process group of
    // its own in the foreground, with a parent (the "shell") in the session.
    bool job_control = false;
  };

  explicit PtyProcess(const Options& options) {
    // The kernel's defaults: an ordinary cooked terminal, as a shell leaves it.
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    tcgetattr(slave_, &initial_);
    int err_pipe[2];
    if (pipe2(err_pipe, O_CLOEXEC) != 0) return;

    ProcessOptions env_options;
    env_options.set = options.set;
    env_options.unset = options.unset;
    std::vector<std::string> env = detail::ChildEnvironment(env_options);
    std::vector<std::string> argv = {PELDO_BINARY};
    argv.insert(argv.end(), options.args.begin(), options.args.end());

    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      int input = slave_;
      if (!options.stdin_file.empty()) input = open(options.stdin_file.c_str(), O_RDONLY);
      dup2(input, STDIN_FILENO);
      dup2(slave_, STDOUT_FILENO);
      dup2(err_pipe[1], STDERR_FILENO);
      // The terminal must go away when the test lets go of it, and the
      // player with the test.
      close(master_);
      if (slave_ > STDERR_FILENO) close(slave_);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(126);
      for (const int signal_number : options.ignored_signals) signal(signal_number, SIG_IGN);
      if (options.job_control) RunAsJob();
      std::vector<char*> raw_argv, raw_env;
      for (auto& a : argv) raw_argv.push_back(a.data());
      raw_argv.push_back(nullptr);
      for (auto& e : env) raw_env.push_back(e.data());
      raw_env.push_back(nullptr);
      execve(raw_argv[0], raw_argv.data(), raw_env.data());
      _exit(127);
    }
    close(err_pipe[1]);
    err_fd_ = err_pipe[0];
    fcntl(master_, F_SETFL, O_NONBLOCK);
    fcntl(err_fd_, F_SETFL, O_NONBLOCK);
  }

  ~PtyProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, err_fd_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // With job_control: the program's own pid (Pid() is its "shell"), or -1
  // when it did not show up within a few seconds.
  pid_t JobPid() const {
    const std::string children = "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children";
    for (int tries = 0; tries < 300; ++tries) {
      const pid_t child = static_cast<pid_t>(std::atol(ReadFile(children).c_str()));
      if (child > 0) return child;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // The terminal goes away, as when its window is closed: the program gets
  // SIGHUP and its terminal reads and writes fail from then on.
  void HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  // Types bytes at the terminal.
  void Type(const std::string& bytes) {
    if (master_ < 0) return;
    if (write(master_, bytes.data(), bytes.size()) < 0) return;
  }

  // Reads what the program shows until `text` has appeared or `timeout_ms`
  // ran out; true when it appeared.
  bool WaitForOutput(const std::string& text, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (screen_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      Drain(static_cast<int>(left.count()));
    }
    return true;
  }

  // Waits up to `timeout_ms` for the program to end; false if it did not.
  bool WaitForExit(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!exited_) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exited_ = true;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      Drain(10);
    }
    Drain(0);
    return true;
  }

  bool Running() { return !exited_ && !WaitForExitNoBlock(); }

  int ExitCode() const { return exit_code_; }
  int Signal() const { return signal_; }
  const std::string& Screen() const { return screen_; }
  const std::string& Errors() const { return errors_; }

  // The terminal's settings as the program left them, and as they were.
  termios Now() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
  }
  const termios& Initial() const { return initial_; }

 private:
  // In the child, before exec: forks the program into a foreground process
  // group of its own and waits for it, ending the way it ended.
  static void RunAsJob() {
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      signal(SIGTTOU, SIG_IGN);  // taking the terminal from the background
      tcsetpgrp(STDOUT_FILENO, getpid());
      signal(SIGTTOU, SIG_DFL);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      return;
    }
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
      signal(WTERMSIG(status), SIG_DFL);
      kill(getpid(), WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
  }

  static std::string ReadFile(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
  }

  bool WaitForExitNoBlock() {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exited_ = true;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return true;
  }

  void Drain(int timeout_ms) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    poll(fds, 2, timeout_ms);
    char buffer[4096];
    while (master_ >= 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      screen_.append(buffer, static_cast<size_t>(n));
    }
    for (;;) {
      const ssize_t n = read(err_fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      errors_.append(buffer, static_cast<size_t>(n));
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int err_fd_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  int exit_code_ = -1;
  int signal_ = 0;
  termios initial_{};
  std::string screen_;
  std::string errors_;
};

// The settings a program could leave changed, compared field by field.
inline bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

}  // namespace e2e
