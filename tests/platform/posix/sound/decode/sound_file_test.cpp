// The decode room on files in memory: what the built-in WAV reader takes,
// with its rate, length, samples and channel map, and what it leaves to
// libsndfile; the speakers a file without a map plays on, by its format.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/sound/decode/sound_file.h"
#include "platform/posix/sound/decode/wav_reader.h"

namespace {

constexpr int kL = SF_CHANNEL_MAP_LEFT, kR = SF_CHANNEL_MAP_RIGHT, kC = SF_CHANNEL_MAP_CENTER,
              kLfe = SF_CHANNEL_MAP_LFE, kBL = SF_CHANNEL_MAP_REAR_LEFT, kBR = SF_CHANNEL_MAP_REAR_RIGHT,
              kBC = SF_CHANNEL_MAP_REAR_CENTER, kSL = SF_CHANNEL_MAP_SIDE_LEFT, kSR = SF_CHANNEL_MAP_SIDE_RIGHT;

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}
std::string Chunk(const std::string& id, const std::string& body) {
  return id + Le(body.size(), 4) + body + std::string(body.size() % 2, '\0');
}
// `frames` frames at 8000 Hz, the bytes counting up from 0x40 (so that
// byte order shows), with `extra` chunks before the data; the tag 0xFFFE
// makes it extensible, with `mask`.
std::string Wav(unsigned tag, unsigned channels, unsigned bits, unsigned frames, uint32_t mask = 0,
                const std::string& extra = "") {
  std::string fmt = Le(tag, 2) + Le(channels, 2) + Le(8000, 4) + Le(8000 * channels * bits / 8, 4) +
                    Le(channels * bits / 8, 2) + Le(bits, 2);
  if (tag == 0xFFFE) {  // the PCM subformat's GUID follows the mask
    fmt += Le(22, 2) + Le(bits, 2) + Le(mask, 4) + Le(1, 4) + Le(0x00100000, 4) + Le(0xAA000080, 4) + Le(0x719B3800, 4);
  }
  std::string data(frames * channels * bits / 8, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(0x40 + i);
  const std::string body = "WAVE" + Chunk("fmt ", fmt) + extra + Chunk("data", data);
  return "RIFF" + Le(body.size(), 4) + body;
}
// A FLAC file's header alone: 8000 Hz, 16 bits, `channels`.
std::string FlacHeader(unsigned channels) {
  const uint64_t stream = uint64_t{8000} << 44 | uint64_t{channels - 1} << 41 | uint64_t{15} << 36;
  std::string info = std::string("\x10\0\x10\0", 4) + std::string(6, '\0');
  for (int shift = 56; shift >= 0; shift -= 8) info += static_cast<char>(stream >> shift);
  return "fLaC\x80" + std::string("\0\0\x22", 3) + info + std::string(16, '\0');
}
int Holding(const std::string& bytes) {
  const int fd = memfd_create("sound", MFD_CLOEXEC);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  lseek(fd, 0, SEEK_SET);  // libsndfile reads from the offset
  return fd;
}

TEST(WavReaderTest, TakesPlainPcmWholeAndLeavesTheRestToLibsndfile) {
  const std::string list = Chunk("LIST", "INFO" + Chunk("ISFT", std::string("Lavf60\0", 7)));
  const struct {
    const char* why;
    std::string file;
    uint64_t frames;  // 0: declined
    int16_t first;    // the first sample as 16 bits
    std::vector<int> map;
  } cases[] = {
      {"8-bit, unsigned", Wav(1, 1, 8, 5), 5, -16384, {}},
      {"16-bit", Wav(1, 2, 16, 7), 7, 0x4140, {}},
      {"24-bit: its top two bytes", Wav(1, 2, 24, 3), 3, 0x4241, {}},
      {"32-bit", Wav(1, 1, 32, 4), 4, 0x4342, {}},
      {"5.1, its mask: centre third, LFE fourth", Wav(0xFFFE, 6, 16, 2, 0x3F), 2, 0x4140, {kL, kR, kC, kLfe, kBL, kBR}},
      {"a mask of 0 names no speaker", Wav(0xFFFE, 4, 24, 2), 2, 0x4241, {}},
      {"INFO tags in a LIST chunk, as ffmpeg writes", Wav(1, 2, 16, 6, 0, list), 6, 0x4140, {}},
      {"a data size past the end of the file is cut to whole frames in it", Wav(1, 2, 16, 8).substr(0, 44 + 26), 6,
       0x4140, {}},
      {"a data marker in a LIST, which libsndfile backs out of",
       Wav(1, 2, 16, 6, 0, Chunk("LIST", "INFOdata" + Le(4, 4) + "abcd")), 0, 0, {}},
      {"float samples", Wav(3, 2, 32, 4), 0, 0, {}},
      {"a chunk libsndfile parses", Wav(1, 2, 16, 4, 0, Chunk("cue ", Le(0, 4))), 0, 0, {}},
  };
  for (const auto& row : cases) {
    const int fd = Holding(row.file);
    SoundFormat format;
    int error = -1;
    std::unique_ptr<SoundDecoder> decoder = OpenWavDecoder(fd, &format, &error);
    EXPECT_EQ(error, 0) << row.why;
    ASSERT_EQ(decoder != nullptr, row.frames != 0) << row.why;
    if (decoder == nullptr) {
      close(fd);
      continue;
    }
    EXPECT_EQ(format.rate, 8000u) << row.why;
    EXPECT_EQ(format.frames, row.frames) << row.why;
    EXPECT_EQ(format.channel_map, row.map) << row.why;
    std::vector<float> floats(format.channels * (row.frames + 1));
    std::vector<int16_t> int16s(floats.size());
    const long frames = static_cast<long>(row.frames);
    EXPECT_EQ(decoder->Decode(floats.data(), frames + 1), frames) << row.why;
    ASSERT_TRUE(decoder->Rewind());
    EXPECT_EQ(decoder->Decode(int16s.data(), frames + 1), frames) << row.why;
    EXPECT_EQ(int16s[0], row.first) << row.why;
    EXPECT_NEAR(floats[0], row.first / 32768.0, 1e-4) << row.why;
  }
}

TEST(SoundFileTest, AFileWithoutAMapPlaysInItsFormatsOrderAndAMapWins) {
  const struct {
    const char* why;
    std::string file;
    std::vector<int> map;
    bool int16 = true;  // floats past full scale are clipped only when read as floats
  } files[] = {
      {"a 5.1 WAV without a mask: centre third, LFE fourth", Wav(1, 6, 16, 2), {kL, kR, kC, kLfe, kBL, kBR}},
      {"a float 7.1 WAV, read by libsndfile", Wav(3, 8, 32, 2), {kL, kR, kC, kLfe, kBL, kBR, kSL, kSR}, false},
      {"the mask wins", Wav(0xFFFE, 6, 16, 2, 0x60F), {kL, kR, kC, kLfe, kSL, kSR}},
      {"a 5.1 FLAC", FlacHeader(6), {kL, kR, kC, kLfe, kBL, kBR}},
  };
  for (const auto& row : files) {
    SoundFormat format;
    uint32_t code = 0;
    EXPECT_NE(OpenSoundDecoder(Holding(row.file), &format, &code), nullptr) << row.why << ": " << code;
    EXPECT_EQ(format.channel_map, row.map) << row.why;
    EXPECT_EQ(format.int16, row.int16) << row.why;
  }
  const int kFlac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kVorbis = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  const struct {
    const char* why;
    int format;
    unsigned channels;
    std::vector<int> map;
  } orders[] = {
      {"mono", kFlac, 1, {SF_CHANNEL_MAP_MONO}},
      {"FLAC 3.0", kFlac, 3, {kL, kR, kC}},
      {"FLAC 7.1", kFlac, 8, {kL, kR, kC, kLfe, kBL, kBR, kSL, kSR}},
      {"Vorbis 3.0", kVorbis, 3, {kL, kC, kR}},
      {"Vorbis 5.1", kVorbis, 6, {kL, kC, kR, kBL, kBR, kLfe}},
      {"Opus 6.1", SF_FORMAT_OGG | SF_FORMAT_OPUS, 7, {kL, kC, kR, kSL, kSR, kBC, kLfe}},
      {"Vorbis 7.1", kVorbis, 8, {kL, kC, kR, kSL, kSR, kBL, kBR, kLfe}},
      {"AIFF defines no order", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 6, {}},
      {"nor does any format past 8", kVorbis, 9, {}},
  };
  for (const auto& row : orders) EXPECT_EQ(FormatChannelOrder(row.format, row.channels), row.map) << row.why;
}

}  // namespace
