// Runs build/peldo as a child process and collects what it did: the bytes
// on standard output and standard error, and how it ended. A child that
// outlives its time limit is killed, so a hang fails a test instead of
// stalling the run.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#ifndef PELDO_BINARY
#error "PELDO_BINARY must name the program under test"
#endif

extern char** environ;

namespace e2e {

// Where the child's standard output goes.
enum class Stdout {
  kPipe,        // captured in ProcessResult::out
  kFile,        // written to ProcessOptions::stdout_file (created or truncated)
  kClosed,      // descriptor 1 is closed in the child
  kReaderGone,  // a pipe whose read end was closed before the child started
};

struct ProcessOptions {
  std::vector<std::string> args;  // after the program name
  // Environment: the test's own, minus `unset`, plus `set` (NAME, value).
  std::vector<std::string> unset;
  std::vector<std::pair<std::string, std::string>> set;
  std::string working_dir;  // empty: the test's own
  std::string stdin_file;   // empty: /dev/null
  Stdout stdout_mode = Stdout::kPipe;
  std::string stdout_file;
  int timeout_ms = 10000;
};

struct ProcessResult {
  bool started = false;  // false: fork, pipe or exec failed (see `error`)
  std::string error;
  std::string out;  // standard output, when it went to a pipe
  std::string err;  // standard error, always captured
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

namespace detail {

inline std::vector<std::string> ChildEnvironment(const ProcessOptions& options) {
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    bool drop = false;
    for (const auto& n : options.unset) drop = drop || n == name;
    for (const auto& [n, value] : options.set) drop = drop || n == name;
    if (!drop) env.push_back(text);
  }
  for (const auto& [name, value] : options.set) env.push_back(name + "=" + value);
  return env;
}

inline std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

inline void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace detail

inline ProcessResult RunPeldo(const ProcessOptions& options) {
  using Clock = std::chrono::steady_clock;
  ProcessResult result;

  std::vector<std::string> argv_texts{PELDO_BINARY};
  argv_texts.insert(argv_texts.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv = detail::Pointers(argv_texts);
  std::vector<std::string> env_texts = detail::ChildEnvironment(options);
  std::vector<char*> envp = detail::Pointers(env_texts);

  // Every descriptor is opened close-on-exec; the child's dup2 onto 0, 1 and
  // 2 clears that flag for the three it keeps.
  int in_fd = -1, out_read = -1, out_write = -1, err_pipe[2] = {-1, -1};
  auto fail = [&](const std::string& what) {
    result.error = what + ": " + std::to_string(errno);
    detail::CloseIfOpen(in_fd);
    detail::CloseIfOpen(out_read);
    detail::CloseIfOpen(out_write);
    detail::CloseIfOpen(err_pipe[0]);
    detail::CloseIfOpen(err_pipe[1]);
    return result;
  };

  in_fd = open(options.stdin_file.empty() ? "/dev/null" : options.stdin_file.c_str(),
               O_RDONLY | O_CLOEXEC);
  if (in_fd < 0) return fail("open stdin");
  if (options.stdout_mode == Stdout::kPipe || options.stdout_mode == Stdout::kReaderGone) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return fail("pipe");
    out_read = p[0];
    out_write = p[1];
    if (options.stdout_mode == Stdout::kReaderGone) detail::CloseIfOpen(out_read);
  } else if (options.stdout_mode == Stdout::kFile) {
    out_write = open(options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_write < 0) return fail("open stdout file");
  }
  if (pipe2(err_pipe, O_CLOEXEC) != 0) return fail("pipe");

  const Clock::time_point start = Clock::now();
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) return fail("fork");
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec. The child dies with
    // the test, even one that is killed, rather than loop on unwatched.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    // A session of its own: the program finds no controlling terminal, so it
    // can never change the mode of the terminal the tests were started from.
    setsid();
    // SIGPIPE goes back to its default, so the program itself must choose
    // to ignore it.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(126);
    dup2(in_fd, 0);
    if (out_write >= 0) {
      dup2(out_write, 1);
    } else {
      close(1);
    }
    dup2(err_pipe[1], 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  result.started = true;
  detail::CloseIfOpen(in_fd);
  detail::CloseIfOpen(out_write);
  detail::CloseIfOpen(err_pipe[1]);

  const Clock::time_point deadline = start + std::chrono::milliseconds(options.timeout_ms);
  auto remaining_ms = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  };

  // Read both pipes until they close or time runs out.
  int* fds[2] = {&out_read, &err_pipe[0]};
  std::string* sinks[2] = {&result.out, &result.err};
  while ((out_read >= 0 || err_pipe[0] >= 0) && remaining_ms() > 0) {
    pollfd polled[2] = {};
    int which[2] = {0, 0};
    int count = 0;
    for (int i = 0; i < 2; ++i) {
      if (*fds[i] < 0) continue;
      polled[count] = {*fds[i], POLLIN, 0};
      which[count++] = i;
    }
    int ready = poll(polled, count, remaining_ms());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    for (int k = 0; k < count; ++k) {
      if (polled[k].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(polled[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[which[k]]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        detail::CloseIfOpen(*fds[which[k]]);
      }
    }
  }

  // The pipes may close before the child ends (stdout closed, say), so wait
  // for it against the same deadline.
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && remaining_ms() > 0) {
    poll(nullptr, 0, 5);
  }
  if (done == 0) {
    result.timed_out = true;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  detail::CloseIfOpen(out_read);
  detail::CloseIfOpen(err_pipe[0]);
  result.elapsed_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  if (!result.timed_out) {
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace e2e
