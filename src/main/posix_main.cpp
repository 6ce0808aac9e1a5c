// The POSIX entry point: answers --help and --version, starts reaching the
// sound output, forms a command line from argv, runs the player, and ends
// the process: the last sound's tail, the terminal given back, then _exit.
#include <unistd.h>

#include <cstring>
#include <string>

#include "app/player.h"
#include "main/process.h"
#include "platform/posix/files/files.h"
#include "platform/posix/sound/sound.h"
#include "platform/posix/system.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// The two words Linux programs answer by themselves, when one of them is the
// only argument: true when it was answered and the program is done.
bool AnswerHelpOrVersion(int argc, char** argv) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    PrintHelp();
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    PrintVersion();
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  PrepareStandardDescriptors();
  InstallSignalHandlers();
  if (AnswerHelpOrVersion(argc, argv)) return 0;
  // The sound server is reached while the player looks the file up and
  // opens it, so the first sound waits for the longer of the two, not their
  // sum; the core knows nothing of it. Without arguments there is only the
  // usage to print.
  if (argc > 1) StartSoundOutput();
  static const std::string line = FormCommandLine(argc, argv);
  SetProcessCommandLine(line.c_str());
  const int result = RunProcess();

  // The last sound has been queued whole, but its tail is still playing:
  // wait for it, or the end of the sound is cut off. After Esc nothing is
  // left to play and this returns at once; Esc during the wait ends it.
  FinishSound(WaitForDescriptorOrEsc);
  GiveTerminalBack();
  // The sound thread may still be inside a call to a server that does not
  // answer; neither static destructors nor the libraries' exit handlers may
  // run under it. Every byte of output has already been written.
  _exit(result);
}
