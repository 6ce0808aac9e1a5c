// What the sound tests need around the program: a private PulseAudio
// server with the null sink "peldo_test", a recording of that sink's monitor
// with the time each sample was rendered, tone files made with sox, and a
// look at what a recording holds.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"

namespace e2e {

constexpr int kSinkRate = 44100;
constexpr const char* kSink = "peldo_test";

// Seconds on the clock the program's own waits use.
inline double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Runs a shell command line; its standard output, and its exit status in
// *status. Standard error is thrown away unless the command redirects it.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int result = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return out;
}

inline bool HaveCommand(const std::string& name) {
  int status = 0;
  Shell("command -v " + name + " >/dev/null", &status);
  return status == 0;
}

// The variables that point clients at one server, as `scripts/sound-server
// start` prints them.
using SoundEnvironment = std::vector<std::pair<std::string, std::string>>;

inline std::string EnvPrefix(const SoundEnvironment& env) {
  std::string prefix;
  for (const auto& [name, value] : env) prefix += name + "='" + value + "' ";
  return prefix;
}

// A server started by scripts/sound-server, stopped again when this object
// goes (or by Kill, the way a crashing server goes).
class PrivateServer {
 public:
  PrivateServer() {
    int status = 0;
    const std::string out =
        Shell("bash '" PELDO_SOURCE_DIR "/scripts/sound-server' start", &status);
    if (status != 0) return;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("export ", 0) != 0) continue;
      const size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      env_.emplace_back(line.substr(7, equals - 7), line.substr(equals + 1));
      if (env_.back().first == "XDG_RUNTIME_DIR") folder_ = env_.back().second;
    }
  }
  ~PrivateServer() {
    if (!folder_.empty())
      Shell("bash '" PELDO_SOURCE_DIR "/scripts/sound-server' stop '" + folder_ + "'");
  }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  bool Running() const { return !folder_.empty(); }
  const SoundEnvironment& Environment() const { return env_; }

  // Ends the server at once, without its clients being told.
  void Kill() { Signal(SIGKILL); }

  // SIGSTOP freezes the server: it keeps its clients' connections and
  // answers none of them until SIGCONT.
  void Signal(int signal_number) {
    const std::string pid = ReadWholeFile(folder_ + "/pulse/pid");
    const long number = std::strtol(pid.c_str(), nullptr, 10);
    if (number > 0) kill(static_cast<pid_t>(number), signal_number);
  }

  // Waits up to `timeout_ms` until some client plays into the sink.
  bool WaitForPlayer(int timeout_ms) const {
    const double deadline = MonotonicSeconds() + timeout_ms / 1000.0;
    while (MonotonicSeconds() < deadline) {
      if (!Shell(EnvPrefix(env_) + "pactl list short sink-inputs").empty()) return true;
      SleepMs(20);
    }
    return false;
  }

 private:
  SoundEnvironment env_;
  std::string folder_;
};

// Whether the server the environment names has our sink: then it is the
// private one that scripts/test started, never a user's own.
inline bool SinkReachable() {
  return Shell("pactl list short sinks").find(kSink) != std::string::npos;
}

// Points this test program (and every process it starts) at a private
// server: the one scripts/test started, or else one of its own, stopped at
// exit. False, with the reason, when there can be none.
inline bool UsePrivateServer(std::string* why) {
  static std::string failure;
  static const bool ready = [] {
    for (const char* tool : {"pulseaudio", "pactl", "parec", "sox"}) {
      if (!HaveCommand(tool)) {
        failure = std::string(tool) + " is not installed (scripts/test installs it)";
        return false;
      }
    }
    if (SinkReachable()) return true;
    static PrivateServer own;
    if (!own.Running()) {
      failure = "scripts/sound-server could not start a private PulseAudio server";
      return false;
    }
    for (const auto& [name, value] : own.Environment()) setenv(name.c_str(), value.c_str(), 1);
    if (!SinkReachable()) {
      failure = "the private PulseAudio server has no sink " + std::string(kSink);
      return false;
    }
    return true;
  }();
  *why = failure;
  return ready;
}

// The volume of the sink's two channels, as the server reports them.
inline std::optional<std::pair<long, long>> SinkVolume() {
  const std::string out = Shell(std::string("pactl get-sink-volume ") + kSink);
  const size_t left = out.find("front-left:");
  const size_t right = out.find("front-right:");
  if (left == std::string::npos || right == std::string::npos) return std::nullopt;
  return std::make_pair(std::strtol(out.c_str() + left + 11, nullptr, 10),
                        std::strtol(out.c_str() + right + 12, nullptr, 10));
}

inline bool SetSinkVolume(long value) {
  int status = 0;
  Shell(std::string("pactl set-sink-volume ") + kSink + " " + std::to_string(value), &status);
  return status == 0;
}

// A sine of 440 Hz at half of full scale (peak 16384 in 16 bits), stereo,
// 44100 frames a second, written by sox with `encoding` (its options).
inline bool MakeTone(const std::string& path, const std::string& encoding, double seconds = 1.0) {
  int status = 0;
  Shell("sox -n -r 44100 -c 2 " + encoding + " '" + path + "' synth " + std::to_string(seconds) +
            " sine 440 vol 0.5",
        &status);
  return status == 0;
}
constexpr double kToneRms = 16384.0 / 1.4142135623730951;

// What a stretch of a recording holds: where the sound begins and ends, how
// loud it is, and its longest silence inside.
struct Heard {
  bool any = false;
  size_t first = 0;  // index of the first loud sample
  size_t last = 0;   // and of the last
  double span_ms = 0;
  double rms = 0;
  double longest_gap_ms = 0;
  double start_time = 0;  // monotonic times of the first loud sample
  double end_time = 0;    // and of the end of the last
};

// A sample is loud above `threshold`; a 440 Hz tone of peak 16384 stays
// below 1000 for a sample or two around each zero crossing only.
inline Heard Listen(const std::vector<int16_t>& left, size_t from, size_t to,
                    int threshold = 1000) {
  Heard heard;
  to = std::min(to, left.size());
  for (size_t i = from; i < to; ++i) {
    if (std::abs(static_cast<int>(left[i])) <= threshold) continue;
    if (!heard.any) heard.first = i;
    heard.any = true;
    heard.last = i;
  }
  if (!heard.any) return heard;
  heard.span_ms = 1000.0 * static_cast<double>(heard.last - heard.first + 1) / kSinkRate;
  double sum = 0;
  size_t quiet = 0;
  size_t longest = 0;
  for (size_t i = heard.first; i <= heard.last; ++i) {
    const double sample = left[i];
    sum += sample * sample;
    quiet = std::abs(static_cast<int>(left[i])) <= threshold ? quiet + 1 : 0;
    longest = std::max(longest, quiet);
  }
  heard.rms = std::sqrt(sum / static_cast<double>(heard.last - heard.first + 1));
  // Zero crossings are not gaps.
  heard.longest_gap_ms = longest > 4 ? 1000.0 * static_cast<double>(longest) / kSinkRate : 0;
  return heard;
}

// Records the sink's monitor (the left channel) from construction to Stop,
// noting when each block arrived so that a sample's index maps to its time
// on the sink's clock. Start it at least 2 s before the sound: the null sink
// renders ahead, so a recorder that comes late loses the start.
class MonitorRecorder {
 public:
  MonitorRecorder() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"parec", "--latency-msec=20", "-d",           "peldo_test.monitor",
                          "--raw", "--format=s16le",    "--rate=44100", "--channels=2",
                          nullptr};
    pid_t pid = -1;
    const int failed =
        posix_spawnp(&pid, "parec", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed != 0) {
      close(out[0]);
      return;
    }
    pid_ = pid;
    fd_ = out[0];
    reader_ = std::thread([this] { Read(); });
  }
  ~MonitorRecorder() { Stop(); }
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  bool Started() const { return pid_ > 0; }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (reader_.joinable()) reader_.join();
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    left_.reserve(bytes_.size() / 4);
    for (size_t i = 0; i + 3 < bytes_.size(); i += 4) {
      left_.push_back(static_cast<int16_t>(static_cast<uint16_t>(
          static_cast<uint8_t>(bytes_[i]) | (static_cast<uint8_t>(bytes_[i + 1]) << 8))));
    }
  }

  // After Stop: what was heard between two monotonic times.
  Heard Hear(double start, double end) const;

 private:
  void Read() {
    char buffer[16384];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      marks_.emplace_back(MonotonicSeconds(), bytes_.size() / 4);
      bytes_.append(buffer, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  std::string bytes_;
  std::vector<std::pair<double, size_t>> marks_;
  std::vector<int16_t> left_;
};

// The sink's clock against the monotonic one: the null sink renders a block
// when its first sample is due, and parec's copy arrives no earlier; the
// block that arrived soonest after its start bounds the delay. Only blocks
// that arrived near the stretch count, should the sink fall behind and
// catch up in between.
inline Heard MonitorRecorder::Hear(double start, double end) const {
  double offset = 1e300;
  for (const auto& [arrival, frames_before] : marks_) {
    if (arrival < start - 1 || arrival > end + 1) continue;
    offset = std::min(offset, arrival - static_cast<double>(frames_before) / kSinkRate);
  }
  if (offset == 1e300) return Heard{};
  auto index = [&](double time) {
    const double at = (time - offset) * kSinkRate;
    return at <= 0 ? size_t{0} : std::min(left_.size(), static_cast<size_t>(at));
  };
  Heard heard = Listen(left_, index(start), index(end));
  heard.start_time = offset + static_cast<double>(heard.first) / kSinkRate;
  heard.end_time = offset + static_cast<double>(heard.last + 1) / kSinkRate;
  return heard;
}

// A test that plays into the private server: skipped with the reason when
// there can be none, with a scratch folder and the sink at full volume
// (another test may have left it quieter, and the monitor hears that).
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(SetSinkVolume(65536));
  }

  ScratchDir dir_;
};

}  // namespace e2e
