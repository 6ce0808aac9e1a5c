#include "main/process.h"

#include "app/player.h"
#include "console/console.h"
#include "platform/platform.h"
#include "text/text.h"

int32_t RunProcess() {
  InitConsole();
  platform::TakeStartupHandles();
  SetCommandTailStart(SkipProgramName(platform::CommandLine()));
  return RunPlayer();
}
