// /Vn sets the volume of the sound server's default sink, in the server's
// own scale, through its own protocol and through ALSA's mixer, and the
// level stays after the program ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/sound_server.h"

namespace e2e {
namespace {

struct VolumeCase {
  const char* why;
  const char* option;
  long before;
  long after;  // both channels
};

TEST(SoundVolumeTest, OptionSetsTheSinkVolume) {
  std::string why;
  if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
  const VolumeCase cases[] = {
      {"half is one short of 32768: the factor is a little under 0.01", "/V50", 65536, 32767},
      {"150 percent wraps to a little under half", "/v150", 65536, 32766},
      {"0 silences", "/V0", 65536, 0},
      {"full is 65535, one short of the server's own full scale", "/V100", 0, 65535},
      {"200 percent wraps to almost full", "/V200", 0, 65534},
      {"-1 leaves the volume alone", "/V-1", 12345, 12345},
  };
  ScratchDir dir;
  for (const SoundPath path : {SoundPath::kServer, SoundPath::kAlsa}) {
    UseSoundPath(path);
    SCOPED_TRACE(path == SoundPath::kAlsa ? "through ALSA" : "through the server's protocol");
    for (const VolumeCase& row : cases) {
      ASSERT_TRUE(SetSinkVolume(row.before)) << row.why;
      ProcessOptions options;
      // No such file: the volume is set before the file is looked up.
      options.args = {"no-such-sound", row.option, "/q"};
      options.working_dir = dir.path();
      const ProcessResult run = RunProcess(options);
      EXPECT_FALSE(run.timed_out) << row.why;
      EXPECT_EQ(run.err, "") << row.why;
      const auto volume = SinkVolume();
      ASSERT_TRUE(volume.has_value()) << row.why;
      EXPECT_EQ(volume->first, row.after) << row.why << " (left)";
      EXPECT_EQ(volume->second, row.after) << row.why << " (right)";
    }
  }
  UseSoundPath(SoundPath::kServer);
  SetSinkVolume(65536);
}

// On a PulseAudio server of its own whose sinks follow their loudest stream
// (flat volumes) and that remembers each program's stream volume, as
// desktops do: the stream's volume is the server's to choose, so neither
// raises the sink nor hides the remembered level.
TEST(FlatVolumeTest, TheStreamLeavesTheSinkAndTheRememberedVolumeAlone) {
  std::string why;
  if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
  setenv("PELDO_FLAT_VOLUMES", "yes", 1);
  PrivateServer server;
  unsetenv("PELDO_FLAT_VOLUMES");
  ASSERT_TRUE(server.Running());
  server.UseHere();
  bool restoring = false;
  Command("pactl", {"load-module", "module-stream-restore"}, &restoring);
  if (!restoring) GTEST_SKIP() << "this PulseAudio has no module-stream-restore";
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.wav"));
  const auto play = [&](const char* option) {
    ProcessOptions options;
    options.args = {"tone", "/q", option};
    options.working_dir = dir.path();
    return std::make_unique<Process>(options);
  };
  const VolumeCase cases[] = {
      {"/V30 stays at 30 percent while the sound plays and after", "/V30", 65536, 19660},
      {"without /V the sink stays where it was", "/V-1", 32768, 32768},
  };
  for (const VolumeCase& row : cases) {
    ASSERT_TRUE(SetSinkVolume(row.before)) << row.why;
    EXPECT_TRUE(play(row.option)->WaitForExit(10000)) << row.why;
    EXPECT_EQ(SinkVolume(), std::make_pair(row.after, row.after)) << row.why;
  }
  // A level set in the mixer for the program's stream is where its next run starts.
  const auto first = play("/V100");
  ASSERT_TRUE(server.WaitForPlayer(5000));
  Command("sh", {"-c", "pactl set-sink-input-volume $(pactl list short sink-inputs | cut -f1) 40%"});
  EXPECT_TRUE(first->WaitForExit(10000));
  const auto second = play("/V100");
  ASSERT_TRUE(server.WaitForPlayer(5000));
  EXPECT_EQ(Command("sh", {"-c", "pactl list sink-inputs | sed -n 's/.*Volume: front-left: \\([0-9]*\\) .*/\\1/p'"}),
            "26214\n")
      << "the remembered 40 percent";
  EXPECT_TRUE(second->WaitForExit(10000));
}

// Once the user has moved the program's stream to another sink, the server
// remembers that route (PulseAudio's module-stream-restore, WirePlumber on
// PipeWire): /V sets that sink, also when no sound plays, and no other.
// PULSE_PROP_* reach the stream's properties, as the client library's do.
TEST(SoundVolumeTest, VolumeSetsTheSinkTheServerRoutesTheProgramTo) {
  std::string why;
  if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
  PrivateServer server;
  ASSERT_TRUE(server.Running());
  server.UseHere();
  if (Command("pactl", {"info"}).find("PipeWire") == std::string::npos) {
    bool restoring = false;
    Command("pactl", {"load-module", "module-stream-restore"}, &restoring);
    if (!restoring) GTEST_SKIP() << "this PulseAudio has no module-stream-restore";
  }
  NullSink second("peldo_second");
  ASSERT_TRUE(second.Made());
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.wav", "-b 16", 3.0));
  const auto play = [&](std::vector<std::string> args, SoundEnvironment env = {}) {
    ProcessOptions options;
    options.args = std::move(args);
    options.working_dir = dir.path();
    options.set = std::move(env);
    return std::make_unique<Process>(options);
  };
  const auto sink_inputs = [] { return Command("pactl", {"list", "sink-inputs"}); };
  const auto moved = play({"tone", "/q"});
  ASSERT_TRUE(server.WaitForPlayer(5000));
  // Moved until the server says it plays there: WirePlumber may link a new
  // stream after the move.
  bool moved_there = false;
  Command("sh", {"-c", "for try in $(seq 100); do s=$(pactl list short sinks | awk '$2 == \"peldo_second\" {print $1}');"
                       " pactl list short sink-inputs | awk -v s=$s '$2 == s {f = 1} END {exit !f}' && exit 0;"
                       " pactl move-sink-input $(pactl list short sink-inputs | cut -f1) peldo_second; sleep 0.05; done;"
                       " exit 1"},
          &moved_there);
  ASSERT_TRUE(moved_there);
  EXPECT_TRUE(moved->WaitForExit(10000));
  for (const char* sink : {kSink, "peldo_second"}) Command("pactl", {"set-sink-volume", sink, "65536"});
  EXPECT_TRUE(play({"no-such-sound", "/q", "/V30"})->WaitForExit(10000));
  EXPECT_EQ(SinkVolume(), std::make_pair(65536L, 65536L)) << "the default sink is left alone";
  EXPECT_NE(Command("pactl", {"get-sink-volume", "peldo_second"}).find("front-left: 19660 "), std::string::npos)
      << "the remembered sink at 30 percent";
  const auto with_role = play({"tone", "/q"}, {{"PULSE_PROP_media.role", "event"}});
  ASSERT_TRUE(server.WaitForPlayer(5000));
  const std::string properties = sink_inputs();
  EXPECT_NE(properties.find("media.role = \"event\""), std::string::npos) << properties;
  EXPECT_NE(properties.find("application.process.binary = \"peldo\""), std::string::npos) << properties;
  EXPECT_TRUE(with_role->WaitForExit(10000));
}

}  // namespace
}  // namespace e2e
