// The POSIX entry point: forms a command line from argv and runs the player.
#include <csignal>
#include <string>

#include "platform/posix/command_line.h"
#include "platform/posix/process_state.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  // A reader that has gone away makes a write fail, not the process die, so
  // the exit code stays the player's.
  std::signal(SIGPIPE, SIG_IGN);
  if (AnswerHelpOrVersion(argc, argv)) return 0;
  static const std::string line = FormCommandLine(argc, argv);
  SetProcessCommandLine(line.c_str());
  return RunProcess();
}
