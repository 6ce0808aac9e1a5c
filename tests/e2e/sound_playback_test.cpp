// What comes out of a private PulseAudio server's null sink while the
// program plays: every encoding whole and at its level, each channel on its
// speaker, repetitions without a gap, and silence at once after Esc; through
// the server's own protocol and through ALSA.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/sound_server.h"

namespace e2e {
namespace {

class SoundPlaybackTest : public SoundTest, public testing::WithParamInterface<SoundPath> {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    UseSoundPath(GetParam());
  }
  void TearDown() override {
    UseSoundPath(SoundPath::kServer);
    SoundTest::TearDown();
  }
};

struct EncodingCase {
  const char* why;
  const char* file;
  const char* encoding;  // sox's options
  const char* typed;     // the name given to the program
};

TEST_P(SoundPlaybackTest, EveryEncodingPlaysWholeAtItsLevel) {
  const EncodingCase cases[] = {
      {"16-bit PCM", "tone16.wav", "-b 16", "tone16"},
      {"8-bit unsigned PCM", "tone8.wav", "-b 8", "tone8"},
      {"32-bit integer PCM", "tone32.wav", "-e signed-integer -b 32", "tone32"},
      {"24-bit PCM, in an extensible header", "tone24.wav", "-b 24", "tone24"},
      {"32-bit float, which a 16-bit read turns to silence", "tonef.wav", "-e floating-point -b 32",
       "tonef"},
      {"IMA ADPCM", "toneima.wav", "-e ima-adpcm", "toneima"},
      {"FLAC", "tone.flac", "-b 16", "tone.flac"},
      {"a name in another letter case finds the file", "mixed.wav", "-b 16", "MIXED"},
  };
  // The rows play side by side, each into a sink of its own. Each starts
  // once the one before is heard: the server takes only a few connections
  // at the same moment.
  constexpr size_t kRows = std::size(cases);
  std::vector<std::unique_ptr<NullSink>> sinks;
  std::vector<std::unique_ptr<MonitorRecorder>> recorders;
  for (size_t i = 0; i < kRows; ++i) {
    ASSERT_TRUE(MakeTone(dir_ / cases[i].file, cases[i].encoding)) << cases[i].why;
    sinks.push_back(std::make_unique<NullSink>(sink_->Name() + "_" + std::to_string(i)));
    ASSERT_TRUE(sinks[i]->Made()) << cases[i].why;
    recorders.push_back(std::make_unique<MonitorRecorder>(sinks[i]->Name()));
    ASSERT_TRUE(recorders[i]->Started()) << cases[i].why;
  }
  std::vector<std::pair<double, double>> windows(kRows);
  std::vector<ProcessResult> runs(kRows);
  std::vector<std::thread> players;
  for (size_t i = 0; i < kRows; ++i) {
    players.emplace_back([&, i] {
      windows[i].first = MonotonicSeconds();
      runs[i] = Play({cases[i].typed, "/q"}, sinks[i]->Name());
      windows[i].second = MonotonicSeconds();
    });
    recorders[i]->WaitForSound(0, 5000);
  }
  for (std::thread& player : players) player.join();

  for (size_t i = 0; i < kRows; ++i) {
    MonitorRecorder& recorder = *recorders[i];
    ASSERT_TRUE(recorder.WaitUntilRecorded(windows[i].second + 0.05, 5000)) << cases[i].why;
    recorder.Stop();
    const EncodingCase& row = cases[i];
    const ProcessResult& run = runs[i];
    EXPECT_TRUE(run.ExitedWith(0)) << row.why << ": " << Describe(run);
    EXPECT_EQ(run.out.find(">> Error"), std::string::npos) << row.why << ": " << run.out;
    EXPECT_EQ(run.err, "") << row.why;
    // The tail plays out before the program ends, so the whole sound lies
    // inside the run.
    const Heard heard = recorder.Hear(windows[i].first - 0.05, windows[i].second + 0.05);
    ASSERT_TRUE(heard.any) << row.why << ": nothing was heard";
    EXPECT_NEAR(heard.span_ms, 1000.0, 10.0) << row.why;
    EXPECT_NEAR(heard.rms, kToneRms, kToneRms * 0.03) << row.why;
    EXPECT_LT(heard.longest_gap_ms, 1.0) << row.why;
  }
}

// A file of four channels (sox writes the mask 0x33: front left and right,
// rear left and right) with a tone on its fourth alone: on a stereo sink the
// rear right is heard on the right and not on the left.
TEST_P(SoundPlaybackTest, AChannelIsHeardWhereTheFilesMaskPutsIt) {
  bool made = false;
  Command("sox", {"-n", "-r", "44100", "-c", "4", "-b", "16", dir_ / "quad.wav", "synth", "1", "sine", "440", "vol",
                  "0.9", "remix", "0", "0", "0", "1"},
          &made);
  ASSERT_TRUE(made);
  MonitorRecorder left(sink_->Name(), 0), right(sink_->Name(), 1);
  ASSERT_TRUE(left.Started() && right.Started());
  const double start = MonotonicSeconds();
  const ProcessResult run = Play({"quad", "/q"});
  const double end = MonotonicSeconds();
  EXPECT_TRUE(run.ExitedWith(0)) << Describe(run);
  for (MonitorRecorder* side : {&left, &right}) {
    ASSERT_TRUE(side->WaitUntilRecorded(end + 0.05, 5000));
    side->Stop();
  }
  EXPECT_FALSE(left.Hear(start - 0.05, end + 0.05).any) << "heard on the left";
  EXPECT_GT(right.Hear(start - 0.05, end + 0.05).span_ms, 900.0) << "not heard on the right";
}

// A 5.1 WAV without a mask, its fourth channel alone sounding, on a 5.1
// sink: heard on the LFE, where the file's order puts it, and on no other
// speaker. Through the server's protocol, which carries the layout; the
// order of each format has its fast test in the decode room.
TEST_F(SoundTest, AChannelOfAFileWithoutAMapIsHeardWhereItsFormatPutsIt) {
  const std::string layout = "front-left,front-right,front-center,lfe,rear-left,rear-right";
  ASSERT_TRUE(MakeTone(dir_ / "six.wav", "-c 6 -t wavpcm -b 16", 0.5, "remix 0 0 0 1 0 0"));
  NullSink sink(sink_->Name() + "_51", layout);
  ASSERT_TRUE(sink.Made());
  std::vector<std::unique_ptr<MonitorRecorder>> speakers;
  for (size_t i = 0; i < 6; ++i) {
    speakers.push_back(std::make_unique<MonitorRecorder>(sink.Name(), i, layout));
    ASSERT_TRUE(speakers.back()->Started());
  }
  const double start = MonotonicSeconds();
  const ProcessResult run = Play({"six", "/q"}, sink.Name());
  const double end = MonotonicSeconds();
  EXPECT_TRUE(run.ExitedWith(0)) << Describe(run);
  for (size_t i = 0; i < speakers.size(); ++i) {
    ASSERT_TRUE(speakers[i]->WaitUntilRecorded(end + 0.05, 5000));
    speakers[i]->Stop();
    EXPECT_EQ(speakers[i]->Hear(start - 0.05, end + 0.05).any, i == 3) << "speaker " << i;
  }
  EXPECT_GT(speakers[3]->Hear(start - 0.05, end + 0.05).span_ms, 450.0) << "the whole sound on the LFE";
}

TEST_P(SoundPlaybackTest, RepetitionsFollowEachOtherWithoutAGap) {
  MonitorRecorder recorder(sink_->Name());
  ASSERT_TRUE(recorder.Started());
  const double start = MonotonicSeconds();
  const ProcessResult run = Play({"tone", "/r3", "/q"});
  const double end = MonotonicSeconds();
  ASSERT_TRUE(recorder.WaitUntilRecorded(end + 0.05, 5000));
  recorder.Stop();

  EXPECT_TRUE(run.ExitedWith(0)) << Describe(run);
  EXPECT_EQ(run.err, "");
  const Heard heard = recorder.Hear(start - 0.05, end + 0.05);
  ASSERT_TRUE(heard.any) << "nothing was heard";
  std::printf("three 1 s repetitions took %.2f ms; longest silence inside %.2f ms\n", heard.span_ms,
              heard.longest_gap_ms);
  RecordProperty("span_ms", std::to_string(heard.span_ms));
  RecordProperty("longest_gap_ms", std::to_string(heard.longest_gap_ms));
  // Three times, whole: a gap between them shows as extra length.
  EXPECT_GE(heard.span_ms, 2990.0);
  EXPECT_LE(heard.span_ms, 3100.0);
  EXPECT_LE(heard.longest_gap_ms, 50.0);
  EXPECT_NEAR(heard.rms, kToneRms, kToneRms * 0.03);
}

TEST_P(SoundPlaybackTest, EscSilencesAtOnce) {
  ASSERT_TRUE(MakeTone(dir_ / "long.wav", "-b 16", 5.0));
  MonitorRecorder recorder(sink_->Name());
  ASSERT_TRUE(recorder.Started());

  const double start = MonotonicSeconds();
  Process player(AtTerminal(dir_, {"long", "/q"}));
  ASSERT_TRUE(player.Started());
  ASSERT_TRUE(recorder.WaitForSound(600, 5000)) << "nothing was heard";
  const double esc = MonotonicSeconds();
  player.Type("\x1b");
  ASSERT_TRUE(player.WaitForExit(3000)) << "Esc did not end the sound";
  const double end = MonotonicSeconds();
  ASSERT_TRUE(recorder.WaitUntilRecorded(end + 0.3, 5000));
  recorder.Stop();

  EXPECT_EQ(player.ExitCode(), 0);
  EXPECT_EQ(player.Err(), "");
  const Heard heard = recorder.Hear(start - 0.05, end + 0.3);
  ASSERT_TRUE(heard.any) << "nothing was heard";
  const double silence_after_ms = 1000.0 * (heard.end_time - esc);
  std::printf("Esc to silence: %.1f ms\n", silence_after_ms);
  RecordProperty("esc_to_silence_ms", std::to_string(silence_after_ms));
  // What was queued is dropped, not played out: a drained buffer would add
  // a fifth of a second. The margin covers the key's way and the clocks.
  EXPECT_LT(silence_after_ms, 100.0);
  EXPECT_GT(heard.span_ms, 500.0) << "the sound did not play before Esc";
}

INSTANTIATE_TEST_SUITE_P(Paths, SoundPlaybackTest, testing::Values(SoundPath::kServer, SoundPath::kAlsa),
                         SoundPathName);

}  // namespace
}  // namespace e2e
