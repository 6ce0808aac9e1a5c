// Writes a short tone in every container and encoding the player decodes,
// one small file each, into the folder named on the command line: the seeds
// of the sound-file fuzz run.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const struct {
    const char* name;
    int format;
    int rate;
    int channels = 2;
  } kinds[] = {
      {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000},
      {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100},
      {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000},
      {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 22050},
      {"x16.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 44100},
      {"x24.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 96000, 6},
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100},
      {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000},
      {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, 8000},
      {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 11025},
      {"ms.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 11025},
      {"gsm.wav", SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, 1},
      {"s16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100},
      {"s16.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 8000},
      {"s16.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 44100},
      {"alac.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_16, 44100},
      {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100},
      {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100},
      {"opus.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000},
      {"layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100},
  };
  int failed = 0;
  for (const auto& kind : kinds) {
    SF_INFO info{};
    info.samplerate = kind.rate;
    info.channels = kind.channels;
    info.format = kind.format;
    const std::string path = std::string(argv[1]) + "/" + kind.name;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
      std::fprintf(stderr, "%s: %s\n", kind.name, sf_strerror(nullptr));
      ++failed;
      continue;
    }
    // 50 ms of 440 Hz: long enough for a frame of every codec.
    const size_t count = static_cast<size_t>(kind.rate / 20);
    std::vector<float> samples(count * static_cast<size_t>(kind.channels));
    for (size_t i = 0; i < samples.size(); ++i) {
      const size_t frame = i / static_cast<size_t>(kind.channels);
      samples[i] = 0.5f * std::sin(6.2831853f * 440.0f * static_cast<float>(frame) / static_cast<float>(kind.rate));
    }
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(count));
    sf_close(file);
  }
  return failed == 0 ? 0 : 1;
}
