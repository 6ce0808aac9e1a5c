// The ALSA room: the mixer control the volume is set on (against a fake
// libasound), the card mixer's scale (a channel's 0..65535 mapped onto a
// control's range), the sounds the output refuses before any device, and
// the speaker each channel goes to.
#include "platform/posix/sound/alsa/mixer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/sound/alsa/alsa_library.h"
#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/waits.h"

namespace {

struct Control {
  std::string name;
  bool playback_volume;
};
std::vector<Control> controls;  // of the fake card's mixer, each at 0..255
std::string volume_set;          // "NAME CHANNEL=LEVEL " for each level set

TEST(AlsaMixerTest, VolumeGoesToPcmWhereTheCardHasItElseToMaster) {
  AlsaFunctions alsa;
  alsa.snd_mixer_open = [](snd_mixer_t**, int) { return 0; };
  alsa.snd_mixer_attach = [](snd_mixer_t*, const char*) { return 0; };
  alsa.snd_mixer_selem_register = [](snd_mixer_t*, snd_mixer_selem_regopt*, snd_mixer_class_t**) { return 0; };
  alsa.snd_mixer_load = [](snd_mixer_t*) { return 0; };
  alsa.snd_mixer_close = [](snd_mixer_t*) { return 0; };
  alsa.snd_mixer_selem_id_sizeof = [] { return size_t{32}; };
  alsa.snd_mixer_selem_id_set_name = [](snd_mixer_selem_id_t* id, const char* name) {
    std::strncpy(reinterpret_cast<char*>(id), name, 31);
  };
  alsa.snd_mixer_selem_id_set_index = [](snd_mixer_selem_id_t*, unsigned) {};
  alsa.snd_mixer_find_selem = [](snd_mixer_t*, const snd_mixer_selem_id_t* id) -> snd_mixer_elem_t* {
    for (Control& control : controls) {
      if (control.name == reinterpret_cast<const char*>(id)) return reinterpret_cast<snd_mixer_elem_t*>(&control);
    }
    return nullptr;
  };
  alsa.snd_mixer_selem_has_playback_volume = [](snd_mixer_elem_t* element) {
    return static_cast<int>(reinterpret_cast<Control*>(element)->playback_volume);
  };
  alsa.snd_mixer_selem_get_playback_volume_range = [](snd_mixer_elem_t*, long* low, long* high) {
    *low = 0, *high = 255;
    return 0;
  };
  alsa.snd_mixer_selem_is_playback_mono = [](snd_mixer_elem_t*) { return 0; };
  alsa.snd_mixer_selem_set_playback_volume = [](snd_mixer_elem_t* element, snd_mixer_selem_channel_id_t channel,
                                                long level) {
    // Appended, not concatenated: GCC 12 at -O3 takes a chain of
    // temporaries here for an overlapping copy (-Wrestrict).
    volume_set.append(reinterpret_cast<Control*>(element)->name).append(" ").append(std::to_string(channel));
    volume_set.append("=").append(std::to_string(level)).append(" ");
    return 0;
  };
  const struct {
    const char* why;
    std::vector<Control> controls;
    const char* set;
  } cases[] = {
      {"a card's PCM is its wave output", {{"Master", true}, {"PCM", true}}, "PCM 0=127 PCM 1=255 "},
      {"a sound server's mixer has only Master", {{"Master", true}}, "Master 0=127 Master 1=255 "},
      {"a PCM without a playback volume is passed over", {{"PCM", false}, {"Master", true}},
       "Master 0=127 Master 1=255 "},
      {"neither: nothing is set", {{"Capture", true}}, ""},
  };
  for (const auto& row : cases) {
    controls = row.controls;
    volume_set.clear();
    ApplyVolume(&alsa, 0xFFFF7FFF);
    EXPECT_EQ(volume_set, row.set) << row.why;
  }
}

// Without a library there is no device to open: a sound refused says so
// rather than that there is no output.
TEST(AlsaOutputTest, RefusesWhatNoOutputPlaysBeforeOpeningTheDevice) {
  const struct {
    const char* why;
    unsigned rate, channels;
    uint32_t code;
  } cases[] = {
      {"a billion Hz", 1000000000, 8, kMediaOutputFormat},
      {"the largest rate a signed header holds", 2147483647, 2, kMediaOutputFormat},
      {"no rate", 0, 2, kMediaOutputFormat},
      {"no channels", 44100, 0, kMediaOutputFormat},
      {"more channels than any output takes", 44100, 33, kMediaOutputFormat},
      {"the most rate and channels pass, to find no library", 384000, 32, kMediaNoOutput},
  };
  for (const auto& row : cases) {
    AlsaOutput output(nullptr);
    EXPECT_EQ(output.Open(SoundFormat{row.rate, row.channels, true, {}, 0}, {}, "", 0), row.code) << row.why;
  }
}

// Each channel goes to the speaker the sound names, in the device's order,
// here a device that writes what it is given to a file.
TEST(AlsaOutputTest, ChannelsGoToTheSpeakersTheSoundNames) {
  const std::vector<int> wav51 = {5, 6, 7, 11, 9, 10};  // FL FR FC LFE RL RR
  const struct {
    const char* why;
    std::vector<int> sound;
    const char* device;  // its speakers; none where it does not say
    std::vector<int16_t> heard;
  } cases[] = {
      {"a 5.1 WAV on ALSA's 5.1 order", wav51, "FL,FR,RL,RR,FC,LFE", {1, 2, 5, 6, 3, 4}},
      {"left and right on a device that has them the other way", {2, 3}, "FR,FL", {2, 1}},
      {"a device that does not say", wav51, nullptr, {1, 2, 3, 4, 5, 6}},
      {"a speaker the sound lacks", {5, 6}, "FL,RL", {1, 2}},
  };
  char folder[] = "/tmp/peldo-speakers-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string heard = std::string(folder) + "/heard";
  unsetenv("AUDIODEV");
  for (const auto& row : cases) {
    // A file of its own each time: ALSA reads a file again only when its time changes.
    const std::string config = std::string(folder) + "/" + std::to_string(&row - cases) + ".conf";
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    // The speakers are said by a route plugin that passes each channel on
    // (the null device's own map is never freed).
    std::vector<int16_t> frame(row.sound.size());
    std::string device = "type null";
    if (row.device) {
      device = "type route slave { pcm { type null } channels " + std::to_string(frame.size()) + " } chmap [ \"" +
               row.device + "\" ]";
      for (size_t i = 0; i < frame.size(); ++i) device += " ttable." + std::to_string(i) + "." + std::to_string(i) + " 1";
    }
    std::ofstream(config) << "pcm.!default { type file file \"" << heard << "\" format raw slave.pcm { " << device
                          << " } }\n";
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<int16_t>(i + 1);
    const SoundFormat format{44100, static_cast<unsigned>(frame.size()), true, row.sound, 0};
    AlsaOutput output;
    ASSERT_EQ(output.Open(format, BufferingFor(format, false), "", DeadlineAfter(2000)), 0u) << row.why;
    output.Write(frame.data(), 1, DeadlineAfter(2000), -1);
    output.Drain(DeadlineAfter(2000));
    std::ifstream file(heard, std::ios::binary);
    file.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(frame.size() * 2));
    EXPECT_EQ(frame, row.heard) << row.why;
    unlink(heard.c_str());
    unlink(config.c_str());
  }
  rmdir(folder);
}

// A device that refuses the sample asked for is given the other, and the
// feed told so: samples of the kind it did not take would play as noise.
TEST(AlsaOutputTest, PlaysTheSampleTheDeviceTakes) {
  const struct {
    const char* why;
    const char* device;
    bool int16, takes_int16;
  } cases[] = {
      {"a device of integers plays a float sound as 16 bits", "type linear slave { pcm { type null } format S32_LE }",
       false, true},
      {"one that takes floats plays them", "type null", false, false},
  };
  setenv("AUDIODEV", "default", 1);
  for (const auto& row : cases) {
    // A new name for each: ALSA reads its configuration again when the name changes.
    const std::string config = testing::TempDir() + "peldo-alsa-" + std::to_string(&row - cases) + ".conf";
    std::ofstream(config) << "pcm.!default { " << row.device << " }\n";
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    AlsaOutput output;
    const SoundFormat format{44100, 2, row.int16, {}, 0};
    ASSERT_EQ(output.Open(format, BufferingFor(format, false), "", DeadlineAfter(5000)), 0u) << row.why;
    EXPECT_EQ(output.TakesInt16(), row.takes_int16) << row.why;
    std::remove(config.c_str());
  }
}

struct ScaleCase {
  const char* why;
  uint16_t value;
  long low;
  long high;
  long expected;
};

TEST(VolumeScaleTest, MapsChannelValuesOntoTheMixerRange) {
  const ScaleCase cases[] = {
      {"a sound server's scale takes the value as it is", 32767, 0, 65536, 32767},
      {"even full, which stays one short of the server's 100%", 65535, 0, 65536, 65535},
      {"and a wrapped 150%", 32766, 0, 65536, 32766},
      {"a card's 0..255 at half", 32767, 0, 255, 127},
      {"a card's 0..255 at full", 65535, 0, 255, 255},
      {"silence is the bottom of the range", 0, 0, 255, 0},
      {"a range not starting at 0", 65535, 10, 110, 110},
      {"its bottom", 0, 10, 110, 10},
      {"a negative range", 32768, -100, 0, -50},
      {"0..65535 is scaled one to one", 12345, 0, 65535, 12345},
      {"an empty range gives its one value", 50000, 7, 7, 7},
  };
  for (const ScaleCase& row : cases) {
    EXPECT_EQ(ScaleChannelValue(row.value, row.low, row.high), row.expected) << row.why;
  }
}

}  // namespace
