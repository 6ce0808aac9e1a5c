// The media layer as the player drives it: command strings in, codes and
// replies out. Output goes to ALSA's "null" device (a private ALSA
// configuration), which takes frames as fast as they come, so no sound
// server or card is needed and every sound ends at once.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/sound/decode/sndfile_library.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/output.h"
#include "platform/posix/sound/sound.h"

namespace {

// A 16-bit PCM WAV file of `frames` frames of a square wave.
std::string WavBytes(uint32_t frames, uint16_t channels = 2, uint32_t rate = 44100) {
  std::string bytes;
  auto put = [&bytes](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  const uint32_t data_size = frames * channels * 2;
  bytes += "RIFF";
  put(36 + data_size, 4);
  bytes += "WAVEfmt ";
  put(16, 4);
  put(1, 2);
  put(channels, 2);
  put(rate, 4);
  put(rate * channels * 2, 4);
  put(channels * 2, 2);
  put(16, 2);
  bytes += "data";
  put(data_size, 4);
  for (uint32_t i = 0; i < frames * channels; ++i) put((i / 50) % 2 ? 0x2000 : 0xE000, 2);
  return bytes;
}

uint32_t Send(const std::string& command, char* reply = nullptr, uint32_t capacity = 0) {
  return platform::SendMediaCommand(command.c_str(), reply, capacity);
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

class MediaLayerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char templ[] = "/tmp/peldo-media-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root_ = templ;
    // What is played is kept in played.raw, to be counted.
    std::ofstream(root_ + "/alsa.conf") << "pcm.!default { type file slave.pcm { type null } file \"" << root_
                                        << "/played.raw\" format raw }\n";
    // ALSA reads its configuration again when this changes; AUDIODEV keeps
    // the sound on ALSA when a sound server runs.
    setenv("ALSA_CONFIG_PATH", (root_ + "/alsa.conf").c_str(), 1);
    setenv("AUDIODEV", "default", 1);

    std::ofstream(root_ + "/tone.wav", std::ios::binary) << WavBytes(4410);
    std::ofstream(root_ + "/a\"b.wav", std::ios::binary) << WavBytes(441);
    std::ofstream(root_ + "/text.wav") << "only some words\n";
    std::ofstream(root_ + "/empty.wav");
    const std::string whole = WavBytes(441);
    std::ofstream(root_ + "/cut.wav", std::ios::binary) << whole.substr(0, 30);
    std::string bad_format = whole;
    bad_format[20] = 0x34;  // a format tag no decoder knows
    bad_format[21] = 0x12;
    std::ofstream(root_ + "/unknown.wav", std::ios::binary) << bad_format;
    std::filesystem::create_directory(root_ + "/folder.wav");
    ASSERT_EQ(mkfifo((root_ + "/fifo.wav").c_str(), 0600), 0);
    std::ofstream(root_ + "/locked.wav", std::ios::binary) << whole;
    chmod((root_ + "/locked.wav").c_str(), 0);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  void TearDown() override {
    // Whatever a test left open.
    for (const char* name : {"tone.wav", "a\"b.wav"}) Send("close " + Quoted(Path(name)));
  }

  static std::string Path(const std::string& name) { return root_ + "/" + name; }

  static std::string root_;
};
std::string MediaLayerTest::root_;

struct OpenCase {
  const char* why;
  std::string name;
  uint32_t code;
};

TEST_F(MediaLayerTest, OpenFailsWithTheCodeOfItsCause) {
  const OpenCase cases[] = {
      {"no such file", Path("nothing.wav"), kMediaFileNotFound},
      {"no such directory", Path("nowhere/tone.wav"), kMediaFileNotFound},
      {"an empty name", "", kMediaFileNotFound},
      {"text is no sound", Path("text.wav"), kMediaNotSound},
      {"an empty file is no sound", Path("empty.wav"), kMediaNotSound},
      {"a format tag the decoder rejects counts as damage", Path("unknown.wav"), kMediaFileDamaged},
      {"a header cut short", Path("cut.wav"), kMediaFileDamaged},
      {"a directory is no sound", Path("folder.wav"), kMediaNotSound},
      {"a FIFO is never opened: it would block", Path("fifo.wav"), kMediaNotSound},
  };
  for (const OpenCase& row : cases) {
    EXPECT_EQ(Send("open " + Quoted(row.name)), row.code) << row.why;
    // A failed open leaves nothing open.
    EXPECT_EQ(SoundEndDescriptor(), -1) << row.why;
  }
  // Root reads a file whatever its mode: then the row runs as nobody, every
  // thread of this process (the file worker opens it), and root again after.
  const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
  if (geteuid() == 0 && (nobody == nullptr || chmod(root_.c_str(), 0711) != 0 || seteuid(nobody->pw_uid) != 0)) {
    GTEST_SKIP() << "run as root, and the user nobody cannot be taken: root reads a locked file";
  }
  EXPECT_EQ(Send("open " + Quoted(Path("locked.wav"))), kMediaFileUnreadable);
  if (nobody != nullptr) {
    ASSERT_EQ(seteuid(0), 0);
  }
}

// A damaged file is not decoded again while it stays the same; rewritten in
// place to the same size with its old modification time put back, it is.
TEST_F(MediaLayerTest, AFileRewrittenInPlaceIsDecodedAgain) {
  const std::string path = Path("rewritten.wav");
  const std::string whole = WavBytes(441);
  std::ofstream(path, std::ios::binary) << whole.substr(0, 30) + std::string(whole.size() - 30, '\0');
  struct stat before{};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_EQ(Send("open " + Quoted(path)), kMediaFileDamaged);
  // File times tick in steps of a few milliseconds: wait for the next one.
  const std::string probe = Path("probe");
  struct stat now{};
  for (int tries = 0; tries < 1000 && (tries == 0 || (now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
                                                     now.st_ctim.tv_nsec == before.st_ctim.tv_nsec));
       ++tries) {
    std::ofstream(probe) << tries;
    stat(probe.c_str(), &now);
  }
  std::ofstream(path, std::ios::binary | std::ios::in) << whole;
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(Send("open " + Quoted(path)), 0u);
  Send("close " + Quoted(path));
}

TEST_F(MediaLayerTest, CommandsOnNoOpenSoundFailWithoutAReply) {
  const std::string name = Quoted(Path("tone.wav"));
  for (const std::string& command : {"play " + name, "status " + name + " mode", "close " + name}) {
    char reply[8] = "earlier";
    EXPECT_EQ(Send(command, reply, sizeof reply), kMediaNotOpen) << command;
    EXPECT_STREQ(reply, "earlier") << command;
  }
  EXPECT_EQ(Send("stop " + name), kMediaBadCommand);
  EXPECT_EQ(Send("open tone.wav"), kMediaBadCommand);
  EXPECT_EQ(platform::SendMediaCommand(nullptr, nullptr, 0), kMediaBadCommand);
}

TEST_F(MediaLayerTest, PlaysToTheEndAndSignalsIt) {
  const std::string name = Quoted(Path("tone.wav"));
  ASSERT_EQ(Send("open " + name), 0u);
  char reply[64] = {};
  ASSERT_EQ(Send("status " + name + " mode", reply, 8), 0u);
  EXPECT_STREQ(reply, "stopped") << "not yet played";
  EXPECT_EQ(Send("open " + Quoted(Path("a\"b.wav"))), kMediaAlreadyOpen);

  ASSERT_EQ(Send("play " + name), 0u);
  const int end = SoundEndDescriptor();
  ASSERT_GE(end, 0);
  pollfd watched = {end, POLLIN, 0};
  ASSERT_EQ(poll(&watched, 1, 5000), 1) << "the end of the sound was not signalled";
  ASSERT_EQ(Send("status " + name + " mode", reply, 8), 0u);
  EXPECT_STREQ(reply, "stopped");
  // It stays signalled until the next play.
  EXPECT_EQ(poll(&watched, 1, 0), 1);

  EXPECT_EQ(Send("play " + Quoted(Path("other.wav"))), kMediaNotOpen);
  EXPECT_EQ(Send("close " + name), 0u);
  EXPECT_EQ(SoundEndDescriptor(), -1);
  EXPECT_EQ(Send("close " + name), kMediaNotOpen);
}

TEST_F(MediaLayerTest, ReplyIsCutToItsCapacity) {
  const std::string name = Quoted(Path("tone.wav"));
  ASSERT_EQ(Send("open " + name), 0u);
  struct {
    uint32_t capacity;
    const char* expected;
  } const cases[] = {{64, "stopped"}, {8, "stopped"}, {7, "stoppe"}, {4, "sto"}, {1, ""}};
  for (const auto& row : cases) {
    char reply[64];
    std::memset(reply, 'x', sizeof reply);
    ASSERT_EQ(Send("status " + name + " mode", reply, row.capacity), 0u);
    EXPECT_STREQ(reply, row.expected) << "capacity " << row.capacity;
  }
  char untouched[4] = "abc";
  EXPECT_EQ(Send("status " + name + " mode", untouched, 0), 0u);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(Send("status " + name + " mode", nullptr, 8), 0u);
}

TEST_F(MediaLayerTest, NameWithAQuoteAndAnyLetterCaseOpens) {
  const std::string name = Quoted(Path("A\"B.WAV"));
  ASSERT_EQ(Send("open " + name), 0u);
  EXPECT_EQ(Send("play " + name), 0u);
  // The sound is known by the name it was opened with, exactly.
  EXPECT_EQ(Send("close " + Quoted(Path("a\"b.wav"))), kMediaNotOpen);
  EXPECT_EQ(Send("close " + name), 0u);
}

TEST_F(MediaLayerTest, PlayingAgainStartsOverAndRepetitionsReuseTheDevice) {
  const std::string name = Quoted(Path("tone.wav"));
  FinishSound(WaitForDescriptor);  // a device still open from an earlier test is closed
  for (int repetition = 0; repetition < 3; ++repetition) {
    ASSERT_EQ(Send("open " + name), 0u) << repetition;
    for (int play = 0; play < 2; ++play) {
      ASSERT_EQ(Send("play " + name), 0u) << repetition;
      pollfd watched = {SoundEndDescriptor(), POLLIN, 0};
      ASSERT_EQ(poll(&watched, 1, 5000), 1) << repetition;
    }
    ASSERT_EQ(Send("close " + name), 0u) << repetition;
  }
  FinishSound(WaitForDescriptor);
  EXPECT_EQ(std::filesystem::file_size(Path("played.raw")), 6u * 4410 * 4) << "every play from the first frame";
}

// Esc while the output is still opening leaves the sound open and silent,
// with no error to print: here the device writes to a FIFO nobody reads yet.
TEST_F(MediaLayerTest, EscWhileTheOutputOpensIsNoError) {
  const std::string fifo = Path("held.raw"), config = Path("held.conf"), held = Quoted(Path("mono.wav"));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(config) << "pcm.!default { type file slave.pcm { type null } file \"" << fifo << "\" format raw }\n";
  std::ofstream(Path("mono.wav"), std::ios::binary) << WavBytes(441, 1, 22050);  // the device is opened anew
  setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  // The file opens well within the second; the device never does.
  const DescriptorWait esc_after_a_second = [](int descriptor, int) {
    WaitForDescriptor(descriptor, 1000);
    return WaitEnd::kEscPressed;
  };
  EXPECT_EQ(ExecuteMediaCommand(("open " + held).c_str(), nullptr, 0, esc_after_a_second), 0u);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // lets the device open
  EXPECT_EQ(Send("close " + held), 0u);
  setenv("ALSA_CONFIG_PATH", Path("alsa.conf").c_str(), 1);
  // The output takes the next sound once the device it gave up on is closed.
  const std::string tone = Quoted(Path("tone.wav"));
  for (int tries = 0; tries < 500 && Send("open " + tone) != 0; ++tries) WaitForDescriptor(-1, 10);
  EXPECT_EQ(Send("close " + tone), 0u);
  close(reader);
}

// The source is the sound thread's from Start until Finish returns true. A
// Finish that gives up leaves it there and holds the thread; once the feed
// lets go, Finish takes it back.
TEST_F(MediaLayerTest, SoundThreadKeepsTheSourceUntilFinishReturnsTrue) {
  static SoundOutput& output = *new SoundOutput;  // never destroyed, as in the player
  uint32_t error = 1;
  ASSERT_EQ(output.Prepare(SoundFormat{44100, 2, true, {}, 0}, "t", WaitForDescriptor, 5000, &error), WaitEnd::kReady);
  ASSERT_EQ(error, 0u);
  std::mutex gate;
  gate.lock();
  int reads = 0;  // written by the sound thread, read here only after Finish
  FrameSource source;
  source.int16s = [&](int16_t*, long) {
    const std::lock_guard wait_for_the_test(gate);
    return ++reads, 0L;
  };
  source.floats = [&](float*, long) { return source.int16s(nullptr, 0); };
  ASSERT_EQ(output.Start(source), 0u);
  EXPECT_FALSE(output.Finish()) << "the feed is still reading";
  EXPECT_EQ(output.Prepare(SoundFormat{44100, 2, true, {}, 0}, "t", WaitForDescriptor, 5000, &error), WaitEnd::kReady);
  EXPECT_EQ(error, kMediaNoOutput) << "the thread is held";
  gate.unlock();
  pollfd end = {output.EndDescriptor(), POLLIN, 0};
  ASSERT_EQ(poll(&end, 1, 5000), 1);
  EXPECT_TRUE(output.Finish());
  EXPECT_EQ(reads, 1);
}

TEST(MediaErrorTextTest, EachCodeHasItsOwnTextThatFitsThePlayersBuffer) {
  std::set<std::string> texts;
  for (uint32_t code = kMediaFileNotFound; code <= kMediaNoDecoder; ++code) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_TRUE(platform::DescribeMediaError(code, buffer, sizeof buffer)) << code;
    const std::string text = buffer;
    EXPECT_LT(text.size(), sizeof buffer) << code;
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_TRUE(texts.insert(text).second) << "two codes share \"" << text << "\"";
  }
}

TEST(MediaErrorTextTest, TextIsCutAndUnknownCodesWriteNothing) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_TRUE(platform::DescribeMediaError(kMediaFileNotFound, buffer, 9));
  EXPECT_STREQ(buffer, "The soun");
  EXPECT_EQ(buffer[9], 'x');

  std::memset(buffer, 'x', sizeof buffer);
  for (uint32_t code : {0u, 1u, 263u, kMediaFileNotFound - 1, kMediaNoDecoder + 1}) {
    EXPECT_FALSE(platform::DescribeMediaError(code, buffer, sizeof buffer)) << code;
  }
  EXPECT_FALSE(platform::DescribeMediaError(kMediaFileNotFound, buffer, 0));
  EXPECT_FALSE(platform::DescribeMediaError(kMediaFileNotFound, nullptr, 16));
  EXPECT_EQ(buffer[0], 'x');
}

struct DecoderCase {
  const char* why;
  int decoder_error;
  int error_number;
  uint32_t code;
};

TEST(MediaErrorTextTest, DecoderAndDeviceFailuresMapToTheirCause) {
  const DecoderCase decoder[] = {
      {"unrecognised format", 1, 0, kMediaNotSound},
      {"unsupported encoding", 4, 0, kMediaNotSound},
      {"malformed file", 3, 0, kMediaFileDamaged},
      {"a format's own complaint", 71, 0, kMediaFileDamaged},
      {"the decoder's allocation failed", 17, 0, kMediaNoMemory},
      {"a read error", 2, EIO, kMediaFileUnreadable},
      {"a read error while the header was looked at", 1, EIO, kMediaFileUnreadable},
      {"out of memory in a system call", 2, ENOMEM, kMediaNoMemory},
  };
  const SndfileFunctions* sndfile = SndfileLibrary();
  ASSERT_NE(sndfile, nullptr);
  for (const DecoderCase& row : decoder) {
    const char* text = sndfile->sf_error_number(row.decoder_error);
    EXPECT_EQ(CodeForDecoderError(row.decoder_error, text, row.error_number), row.code) << row.why;
  }
  for (const int missing : {ENOENT, ENOTDIR, ENAMETOOLONG, ELOOP}) EXPECT_EQ(CodeForFileError(missing), kMediaFileNotFound);
  EXPECT_EQ(CodeForFileError(EACCES), kMediaFileUnreadable);
  EXPECT_EQ(CodeForOutputOpenError(-ENOENT), kMediaNoOutput);
  EXPECT_EQ(CodeForOutputOpenError(-ECONNREFUSED), kMediaNoOutput);
  EXPECT_EQ(CodeForOutputOpenError(-EBUSY), kMediaOutputBusy);
  EXPECT_EQ(CodeForOutputOpenError(-ENOMEM), kMediaNoMemory);
  EXPECT_EQ(CodeForOutputSetupError(-EINVAL), kMediaOutputFormat);
  EXPECT_EQ(CodeForOutputSetupError(-EIO), kMediaNoOutput);
}

}  // namespace
