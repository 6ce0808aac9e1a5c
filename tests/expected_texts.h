// The player's fixed texts as the user sees them, CR LF line ends and all,
// written out once for every test that checks the output byte for byte.
#pragma once

#include <string>

inline const std::string kHeaderLine1Text = "PELDO.EXE v2.65 - Command line audio file player\r\n";

// Header line 2, also the Windows program's LegalCopyright.
inline const std::string kMakerLine = "Copyright (c) 2026 The PELDO developers";

inline const std::string kHeaderText = kHeaderLine1Text + kMakerLine + "\r\n\r\n";

inline const std::string kUsageText =
    "Usage:  PELDO filename[.wav] [/Q] [/Rn] [/Vn]\r\n"
    "\r\n"
    "  /Q    Quiet mode - no header is displayed\r\n"
    "  /Rn   Repeat 'n' times\r\n"
    "  /Vn   Volume level\r\n"
    "\r\n"
    "  If no file extension is specified, .WAV is assumed.\r\n"
    "\r\n"
    "PELDO.EXE will continue playing the audio file until it finishes,\r\n"
    "or the user presses the Esc key.\r\n";
