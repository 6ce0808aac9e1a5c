// /Vn sets the volume of the sound server's default sink, in the server's
// own scale, through its own protocol and through ALSA's mixer, and the
// level stays after the program ends.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace e2e
