// Every bound of the sound output, written once: how much sound a driver
// holds, how much the feed loop reads at a time, the highest rate it plays,
// when the end of a sound is announced, when an output that takes nothing
// has hung, how long each wait lasts and how often a full server is tried
// again. The feed loop (feed.h) and every driver take them from here.
//
// The waits nest, and an inner one always gives up before the one around
// it, so that a wait that gives up has its answer read by the wait outside
// it and never finds a job still running:
//   1. the sound thread's opening of the output (a connect, a stream made,
//      an old stream drained): one deadline for all of it, kAnswerMs after
//      the main thread asked;
//   2. the main thread's wait for that answer: kAnswerMs + kHandOverMs.
// Jobs queued on the sound thread before an opening have deadlines that
// end earlier still, since they were asked for earlier.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sound_bounds {

// A long sound: the output holds up to a second and asks for a quarter of
// it at a time, so the feeder and the server wake four times a second; a
// drop discards the whole buffer at once, so Esc silences as fast as with a
// short one.
constexpr uint64_t kBufferUs = 1000000;
constexpr uint64_t kPeriodUs = 250000;
// A sound shorter than kShortSoundUs is queued whole: its buffer holds
// kShortSoundUs, so a disk or a CPU that holds the program up cannot let the
// output run dry in the middle of it. It still asks for kShortPeriodUs at a
// time, which is what a server's cycle follows, so the first sound is heard
// as soon as with a buffer of a few cycles.
constexpr uint64_t kShortSoundUs = 2000000;
constexpr uint64_t kShortPeriodUs = 20000;
// The output starts playing once this much is queued, and again after an
// underrun: the first sound comes at once.
constexpr uint64_t kStartUs = 10000;

// The feed loop reads at most this many bytes at a time into each of its
// two buffers, whatever rate and channel count a header claims: a ding fits
// in one read, and a file that lies costs no more memory than one that
// does not.
constexpr size_t kReadBytes = 65536;
// A server is sent samples in packets of at most this many bytes.
constexpr size_t kPacketBytes = 65536;

// The end of a sound is announced when this much of it is left to play: time
// enough for the next sound to be opened and queued behind it without a gap,
// short enough that Esc is rarely too late to cut the rest.
constexpr uint64_t kTailUs = 100000;
// The wait for the tail wakes no more often than this.
constexpr uint64_t kShortestTailWaitMs = 10;

// An output that takes no whole frame for this long while it is not
// suspended has hung, and its sound ends; the wait for the tail has the
// same bound. A suspended output is waited through for as long as it stays
// so.
constexpr int kStallMs = static_cast<int>(kBufferUs / 1000) * 2 + 500;

// The highest rate and the most channels a sound is played at on any
// output, the sound servers' own bounds: a header that claims more is
// refused before any buffer is sized by it.
constexpr unsigned kMaxRate = 384000;
constexpr unsigned kMaxChannels = 32;
static_assert(kBufferUs * kMaxRate / 1000000 * kMaxChannels * sizeof(float) <= 64u << 20,
              "a long sound's buffer at the most rate and channels stays within 64 MB");

// A server whose queue of connections is full is tried again this often
// until the opening's deadline: Linux tells nobody when it has room again.
constexpr int kRetryConnectMs = 20;

// 1. How long the sound thread's opening of the output may take in all: a
// server that says nothing for this long counts as no output, as a device
// that does not open does. Also the bound of a drain, a volume change and
// each call on a server.
constexpr int kAnswerMs = 5000;
// 2. How much longer the main thread waits for that answer than the sound
// thread works on it: time for a given-up opening to hand its answer over.
constexpr int kHandOverMs = 250;

// How long the main thread waits for a sound to stop before it leaves the
// output to the sound thread and goes on: Esc must end the program at once
// whatever the output does.
constexpr int kStopWaitMs = 60;

// The ALSA output (alsa/).
// A device that neither takes frames nor reports an error for this long is
// asked for its state, so that a vanished sound server ends the sound.
constexpr int kAlsaStateCheckMs = 500;
// Without poll descriptors, the device is written again after this long.
constexpr int kAlsaWriteRetryMs = 250;
// ALSA tells nobody when a suspended device may resume: it is asked again
// this often.
constexpr int kAlsaResumeRetryMs = 100;

}  // namespace sound_bounds
