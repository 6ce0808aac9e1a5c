// The program's version, what it is and who made it: the pieces of the
// header it prints, also read by the build and by the Windows program's
// version resource, whose compiler knows only the preprocessor.
#pragma once

#define PELDO_VERSION "2.65"
#define PELDO_VERSION_MAJOR 2
#define PELDO_VERSION_MINOR 65
#define PELDO_DESCRIPTION "Command line audio file player"
#define PELDO_MAKER_LINE "Copyright (c) 2026 The PELDO developers"
