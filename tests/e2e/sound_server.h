// What the sound tests need around the program: a private PulseAudio
// server with the null sink "peldo_test", null sinks of each test's own, a
// recording of a sink's monitor with the time each sample was rendered, tone
// files made with sox, and a look at what a recording holds.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
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

// The variables that point clients at one server, as `scripts/sound-server
// start` prints them.
using SoundEnvironment = std::vector<std::pair<std::string, std::string>>;

// Runs a program (looked up on PATH) with `args` to its end, in the test's
// environment plus `env`; its standard output, and in *ok whether it
// exited with 0.
inline std::string Command(const std::string& program, std::vector<std::string> args,
                           bool* ok = nullptr, const SoundEnvironment& env = {}) {
  ProcessOptions options;
  options.program = program;
  options.args = std::move(args);
  options.set = env;
  options.timeout_ms = 20000;
  const ProcessResult result = RunProcess(options);
  if (ok != nullptr) *ok = result.ExitedWith(0);
  return result.out;
}

inline bool HaveCommand(const std::string& name) {
  bool ok = false;
  Command("sh", {"-c", "command -v " + name}, &ok);
  return ok;
}

// A server started by scripts/sound-server, stopped again when this object
// goes (or by Kill, the way a crashing server goes).
class PrivateServer {
 public:
  PrivateServer() {
    bool ok = false;
    const std::string out = Command("bash", {kScript, "start"}, &ok);
    if (!ok) return;
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
    for (const auto& [name, value] : saved_) value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    if (!folder_.empty()) Command("bash", {kScript, "stop", folder_});
  }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  bool Running() const { return !folder_.empty(); }
  const SoundEnvironment& Environment() const { return env_; }
  // Points this process (and every process it starts) at this server until
  // it stops; then the environment is as it was, so later tests reach the
  // server they had.
  void UseHere() {
    for (const auto& [name, value] : env_) {
      const char* old = getenv(name.c_str());
      saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
      setenv(name.c_str(), value.c_str(), 1);
    }
  }

  // Ends the server at once, without its clients being told.
  void Kill() { Signal(SIGKILL); }

  // SIGSTOP freezes the server: it keeps its clients' connections and
  // answers none of them until SIGCONT.
  void Signal(int signal_number) {
    const std::string pid = ReadWholeFile(folder_ + "/pulse/pid");
    const long number = std::strtol(pid.c_str(), nullptr, 10);
    if (number > 0) kill(static_cast<pid_t>(number), signal_number);
  }

  // Waits up to `timeout_ms` until some client plays into the sink. The
  // server tells of no new client but when asked, so it is asked every 20 ms.
  bool WaitForPlayer(int timeout_ms) const {
    const double deadline = MonotonicSeconds() + timeout_ms / 1000.0;
    while (MonotonicSeconds() < deadline) {
      if (!Command("pactl", {"list", "short", "sink-inputs"}, nullptr, env_).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  static constexpr const char* kScript = PELDO_SOURCE_DIR "/scripts/sound-server";
  SoundEnvironment env_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  std::string folder_;
};

// Whether the server the environment names has our sink: then it is the
// private one that scripts/test started, never a user's own.
inline bool SinkReachable() {
  return Command("pactl", {"list", "short", "sinks"}).find(kSink) != std::string::npos;
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
  const std::string out = Command("pactl", {"get-sink-volume", kSink});
  const size_t left = out.find("front-left:");
  const size_t right = out.find("front-right:");
  if (left == std::string::npos || right == std::string::npos) return std::nullopt;
  return std::make_pair(std::strtol(out.c_str() + left + 11, nullptr, 10),
                        std::strtol(out.c_str() + right + 12, nullptr, 10));
}

inline bool SetSinkVolume(long value) {
  bool ok = false;
  Command("pactl", {"set-sink-volume", kSink, std::to_string(value)}, &ok);
  return ok;
}

// A sine of 440 Hz at half of full scale (peak 16384 in 16 bits), stereo,
// 44100 frames a second, written by sox with `encoding` (its options,
// separated by blanks; "-c 6" makes six channels) and then `effects`.
inline bool MakeTone(const std::string& path, const std::string& encoding = "-b 16", double seconds = 1.0,
                     const std::string& effects = "") {
  std::vector<std::string> args = {"-n", "-r", "44100", "-c", "2"};
  const auto add = [&args](const std::string& words) {
    std::istringstream options(words);
    for (std::string option; options >> option;) args.push_back(option);
  };
  add(encoding);
  args.insert(args.end(), {path, "synth", std::to_string(seconds), "sine", "440", "vol", "0.5"});
  add(effects);
  bool ok = false;
  Command("sox", args, &ok);
  return ok;
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

// A null sink (44100 Hz, stereo, or the speakers of `channel_map`) made on
// the private server for one test and removed again when the object goes:
// what plays into it is recorded apart from every other test's sound, so
// sound tests can run side by side.
class NullSink {
 public:
  explicit NullSink(const std::string& name, const std::string& channel_map = "") : name_(name) {
    bool ok = false;
    // No rewinds: the monitor has passed on what was rendered, and a
    // rewind would render it again.
    module_ = Command("pactl", {"load-module", "module-null-sink", "sink_name=" + name, "rate=44100",
                                channel_map.empty() ? "channels=2" : "channel_map=" + channel_map, "norewinds=1"},
                      &ok);
    if (!ok) module_.clear();
    while (!module_.empty() && std::isspace(static_cast<unsigned char>(module_.back()))) module_.pop_back();
  }
  ~NullSink() {
    if (!module_.empty()) Command("pactl", {"unload-module", module_});
  }
  NullSink(const NullSink&) = delete;
  NullSink& operator=(const NullSink&) = delete;

  bool Made() const { return !module_.empty(); }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::string module_;
};

// Records one channel of a sink's monitor (`channel` 0 the left, 1 the
// right; of a sink of `channel_map`, its channel'th) from construction to Stop, noting when each block arrived so that a sample's index maps to its time
// on the sink's clock. The null sink renders ahead of its clock, so a sound
// that starts before the monitor's stream runs loses its start: a recorder
// counts as started once its first block has come.
class MonitorRecorder {
 public:
  explicit MonitorRecorder(const std::string& sink, size_t channel = 0, const std::string& channel_map = "")
      : parec_(Parec(sink, channel_map)),
        channel_(channel),
        channels_(Channels(channel_map)) {
    if (!parec_.Started()) return;
    reader_ = std::thread([this] { Read(); });
    started_ = WaitFor(5000, [this] { return !marks_.empty(); });
  }
  ~MonitorRecorder() { Stop(); }
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  bool Started() const { return started_; }

  // Waits until a sound that begins after this call has lasted `ms` in the
  // recording (0: until it is heard at all); false if not within timeout_ms.
  bool WaitForSound(int ms, int timeout_ms) {
    const size_t length = static_cast<size_t>(ms) * kSinkRate / 1000;
    std::optional<size_t> scanned, first;
    return WaitFor(timeout_ms, [&] {
      if (!scanned) scanned = left_.size();
      for (; !first && *scanned < left_.size(); ++*scanned) {
        if (std::abs(static_cast<int>(left_[*scanned])) > kLoud) first = *scanned;
      }
      return first && left_.size() - *first >= length;
    });
  }

  // Waits until the recording holds what the sink played up to `time`
  // (monotonic seconds).
  bool WaitUntilRecorded(double time, int timeout_ms) {
    return WaitFor(timeout_ms, [&] { return !marks_.empty() && marks_.back().first >= time; });
  }

  void Stop() {
    if (stopped_ || !parec_.Started()) return;
    stopped_ = true;
    kill(parec_.Pid(), SIGTERM);
    if (reader_.joinable()) reader_.join();
    parec_.WaitForExit(5000);
  }

  // After Stop: what was heard between two monotonic times.
  Heard Hear(double start, double end) const;

 private:
  static constexpr int kLoud = 1000;  // as Listen counts a sample loud

  static size_t Channels(const std::string& channel_map) {
    return channel_map.empty() ? 2 : 1 + static_cast<size_t>(std::count(channel_map.begin(), channel_map.end(), ','));
  }
  static ProcessOptions Parec(const std::string& sink, const std::string& channel_map) {
    ProcessOptions options;
    options.program = "parec";
    options.args = {"--latency-msec=20", "-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=44100",
                    "--channels=" + std::to_string(Channels(channel_map))};
    if (!channel_map.empty()) options.args.push_back("--channel-map=" + channel_map);
    return options;
  }

  template <typename Done>
  bool WaitFor(int timeout_ms, Done done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), done);
  }

  // On a thread of its own until parec's output ends.
  void Read() {
    while (parec_.ReadOutput(-1)) {
      const double arrival = MonotonicSeconds();
      const std::string& bytes = parec_.Out();
      std::lock_guard lock(mutex_);
      const size_t before = left_.size();
      for (size_t i = before * channels_ * 2 + channel_ * 2; i + 1 < bytes.size(); i += channels_ * 2) {
        left_.push_back(static_cast<int16_t>(static_cast<uint16_t>(
            static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8))));
      }
      if (left_.size() > before) marks_.emplace_back(arrival, before);
      changed_.notify_all();
    }
  }

  Process parec_;
  size_t channel_;
  size_t channels_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool stopped_ = false;
  std::vector<std::pair<double, size_t>> marks_;  // arrival, frames before it
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
// there can be none, with a scratch folder that holds tone.wav (1 s, 16
// bits) and a sink of its own that every player it starts plays into.
// The two ways the program's sound reaches the server: the server's own
// protocol, its default, and ALSA through its pulse plugin, which AUDIODEV
// chooses. Each process the test starts inherits the choice.
enum class SoundPath { kServer, kAlsa };
inline void UseSoundPath(SoundPath path) {
  if (path == SoundPath::kAlsa) {
    setenv("AUDIODEV", "pulse", 1);
  } else {
    unsetenv("AUDIODEV");
  }
}
inline std::string SoundPathName(const testing::TestParamInfo<SoundPath>& info) {
  return info.param == SoundPath::kAlsa ? "Alsa" : "Server";
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(MakeTone(dir_ / "tone.wav"));
    sink_ = std::make_unique<NullSink>(std::string(kSink) + "_" + std::to_string(getpid()));
    ASSERT_TRUE(sink_->Made());
    setenv("PULSE_SINK", sink_->Name().c_str(), 1);
  }
  void TearDown() override { unsetenv("PULSE_SINK"); }
  // Runs the program in the scratch folder, into `sink` if one is named.
  ProcessResult Play(const std::vector<std::string>& args, const std::string& sink = "") {
    ProcessOptions options;
    options.args = args;
    options.working_dir = dir_.path();
    if (!sink.empty()) options.set = {{"PULSE_SINK", sink}};
    options.timeout_ms = 20000;
    return RunProcess(options);
  }

  ScratchDir dir_;
  std::unique_ptr<NullSink> sink_;
};

}  // namespace e2e
