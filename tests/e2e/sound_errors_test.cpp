// The device error line a user sees when a sound cannot be played: a file
// that is no sound, no sound output at all, and a sound server that dies
// while it plays. None of them ends the repetitions early or the program
// with an error code, and nothing reaches standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/sound_server.h"

namespace e2e {
namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(SoundErrorsTest, TextFileNamedWavGivesTheErrorLineEachTime) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::ofstream(dir / "x.wav") << "this is only text\n";
  ProcessOptions options;
  options.args = {"x.wav", "/r2"};
  options.working_dir = dir.path();
  ProcessResult run = RunProcess(options);
  EXPECT_TRUE(run.ExitedWith(0)) << Describe(run);
  ASSERT_TRUE(TakeHeader(run.out)) << run.out;
  EXPECT_EQ(run.out, "Playing \"x.wav\" 2 times" + kNotSoundLine + kNotSoundLine + "\r\n");
  EXPECT_EQ(run.err, "");
}

struct NoOutputCase {
  const char* why;
  bool empty_alsa_config;
};

TEST(SoundErrorsTest, NoSoundOutputGivesTheErrorLine) {
  if (!HaveCommand("sox")) GTEST_SKIP() << "sox is not installed (scripts/test installs it)";
  const NoOutputCase cases[] = {
      {"ALSA knows no device at all", true},
      {"ALSA's own configuration, no sound server and no sound card", false},
  };
  for (const NoOutputCase& row : cases) {
    ScratchDir dir;
    ASSERT_TRUE(MakeTone(dir / "tone.wav")) << row.why;
    ProcessOptions options;
    options.args = {"tone", "/r2", "/q"};
    options.working_dir = dir.path();
    if (row.empty_alsa_config) {
      WithoutSound(options, dir);
    } else {
      struct stat cards {};
      if (stat("/dev/snd", &cards) == 0) {
        std::printf("skipped \"%s\": this machine has sound devices\n", row.why);
        continue;
      }
      options.unset = {"XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "ALSA_CONFIG_PATH"};
      options.set = {{"PULSE_SERVER", "unix:" + (dir / "no-such-server")}};
    }
    const ProcessResult run = RunProcess(options);
    EXPECT_TRUE(run.ExitedWith(0)) << row.why << ": " << Describe(run);
    EXPECT_EQ(run.out, kNoOutputLine + kNoOutputLine) << row.why;
    EXPECT_EQ(run.err, "") << row.why;
  }
}

// AUDIODEV names the device: a file device of the test's own ALSA
// configuration gets the tone's samples as they are; a name that no
// configuration knows is no sound output.
TEST(SoundErrorsTest, AudiodevNamesTheDevice) {
  if (!HaveCommand("sox")) GTEST_SKIP() << "sox is not installed (scripts/test installs it)";
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.wav"));
  std::ofstream(dir / "alsa.conf") << "pcm.tofile { type file slave { pcm { type null } } file \""
                                   << (dir / "written.raw") << "\" format \"raw\" }\n";
  const struct {
    const char* device;
    std::string out;
  } cases[] = {{"tofile", ""}, {"nonexistent", kNoOutputLine}};
  for (const auto& row : cases) {
    ProcessOptions options;
    options.args = {"tone", "/q"};
    options.working_dir = dir.path();
    options.set = {{"ALSA_CONFIG_PATH", dir / "alsa.conf"}, {"AUDIODEV", row.device}};
    const ProcessResult run = RunProcess(options);
    EXPECT_TRUE(run.ExitedWith(0)) << row.device << ": " << Describe(run);
    EXPECT_EQ(run.out, row.out) << row.device;
  }
  const std::string wav = ReadWholeFile(dir / "tone.wav");
  const size_t data = wav.find("data");
  ASSERT_NE(data, std::string::npos);
  const std::string written = ReadWholeFile(dir / "written.raw");
  EXPECT_TRUE(written == wav.substr(data + 8)) << "not the tone's samples: " << written.size() << " bytes";
}

struct DamagedCase {
  const char* why;
  const char* file;
  std::string out;
  const char* repeat = "/r1";
  const char* read_shim = "";  // how reads or libraries fail (tests/shims/read_shim.cpp)
};

// The MP3 decoder behind libsndfile prints its complaints unless stopped.
// Each repetition opens the file again, and a counted run never waits.
TEST(SoundErrorsTest, DamagedFilesPrintNothingOnStandardError) {
  if (!HaveCommand("sox")) GTEST_SKIP() << "sox is not installed (scripts/test installs it)";
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.mp3", "")) << "sox cannot write MP3 (libsox-fmt-mp3)";
  std::string bytes = ReadWholeFile(dir / "tone.mp3");
  ASSERT_GT(bytes.size(), 4000u);
  uint32_t noise = 12345;
  auto next = [&noise] {
    noise = noise * 1103515245u + 12345u;
    return static_cast<char>(noise >> 16);
  };
  for (size_t at = 2000; at < bytes.size(); at += 97) bytes[at] = next();
  std::ofstream(dir / "bad.mp3", std::ios::binary) << bytes;
  std::string junk = "\xFF\xFB";
  for (int i = 0; i < 5000; ++i) junk += next();
  std::ofstream(dir / "junk.mp3", std::ios::binary) << junk;
  // ALSA's null device takes the sound: no server needed.
  std::ofstream(dir / "null-alsa.conf") << "pcm.!default { type null }\n";

  ASSERT_TRUE(MakeTone(dir / "tone.wav"));
  ASSERT_TRUE(MakeTone(dir / "tone.flac"));
  bool ok = false;
  Command("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", dir / "empty.wav", "trim", "0", "0"}, &ok);
  ASSERT_TRUE(ok);

  const DamagedCase cases[] = {
      {"an MP3 damaged after its start plays what can be decoded", "bad.mp3", ""},
      {"MP3 sync bytes followed by noise", "junk.mp3", kDamagedLine},
      {"a read that failed once is tried again", "tone.wav", kUnreadableLine, "/r3", "eio-once"},
      {"a sound of no frames, five times, at once", "empty.wav", "", "/r5"},
      {"without libasound there is no output", "tone.wav", kNoOutputLine, "/r1", "no-libraries"},
      {"without libsndfile an MP3 has no decoder", "bad.mp3", kNoDecoderLine, "/r1", "no-libraries"},
      {"a libsndfile that lacks sf_close is none", "tone.flac", kNoDecoderLine, "/r1", "hide:sf_close"},
  };
  for (const DamagedCase& row : cases) {
    ProcessOptions options;
    options.args = {row.file, row.repeat, "/q"};
    options.working_dir = dir.path();
    options.set = {{"ALSA_CONFIG_PATH", dir / "null-alsa.conf"},
                   {"AUDIODEV", "default"},
                   {"LD_PRELOAD", *row.read_shim ? PELDO_READ_SHIM : ""},
                   {"PELDO_READ_SHIM", row.read_shim}};
    options.timeout_ms = 2000;
    const ProcessResult run = RunProcess(options);
    EXPECT_TRUE(run.ExitedWith(0)) << row.why << ": " << Describe(run);
    EXPECT_EQ(run.out, row.out) << row.why;
    EXPECT_EQ(run.err, "") << row.why;
  }
}

TEST(SoundErrorsTest, ServerDyingDuringPlaybackEndsTheSound) {
  std::string why;
  if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.wav", "-b 16", 3.0));
  for (const SoundPath path : {SoundPath::kServer, SoundPath::kAlsa}) {
    SCOPED_TRACE(path == SoundPath::kAlsa ? "through ALSA" : "through the server's protocol");
    // A server of this test's own: the shared one must live on.
    PrivateServer server;
    ASSERT_TRUE(server.Running());
    std::thread killer([&server] {
      // Well into its first repetition.
      if (server.WaitForPlayer(5000)) std::this_thread::sleep_for(std::chrono::milliseconds(300));
      server.Kill();
    });
    ProcessOptions options;
    options.args = {"tone", "/r3", "/q"};
    options.working_dir = dir.path();
    options.set = server.Environment();
    options.set.emplace_back("AUDIODEV", path == SoundPath::kAlsa ? "pulse" : "");
    options.timeout_ms = 15000;
    const ProcessResult run = RunProcess(options);
    killer.join();

    EXPECT_TRUE(run.ExitedWith(0)) << Describe(run);
    // Three repetitions of 3 s would take 9 s.
    EXPECT_LT(run.elapsed_ms, 5000);
    // The first repetition ends when the server goes; the next two find none.
    EXPECT_EQ(Count(run.out, kNoOutputLine), 2u) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace e2e
