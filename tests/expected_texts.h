// The player's fixed texts as the user sees them, CR LF line ends and all,
// written out once for every test that checks the output byte for byte. The
// C++ tests include this file; the Python ones read it through
// tests/wine/expected_texts.py, so each text here is string literals and
// texts defined above it, joined by "+".
#pragma once

#include <string>

inline const std::string kVersion = "2.65";
inline const std::string kDescription = "Command line audio file player";
// Header line 2, also the Windows program's LegalCopyright.
inline const std::string kMakerLine = "Copyright (c) 2026 The PELDO developers";

inline const std::string kHeaderLine1 = "PELDO.EXE v" + kVersion + " - " + kDescription + "\r\n";
inline const std::string kHeader = kHeaderLine1 + kMakerLine + "\r\n" + "\r\n";

inline const std::string kUsage =
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

// A device error line is kErrorStart, the sound system's description of the
// error in printable ASCII, " (", the error's number and kErrorEnd. In an
// expected output kErrorMark stands for one such line, when its wording and
// number depend on the sound system.
inline const std::string kErrorStart = "  >> Error:";
inline const std::string kErrorEnd = ") <<\r\n";
inline const std::string kErrorMark = "{ERR}";

// The device error lines of the Linux program.
inline const std::string kNotSoundLine =
    "  >> Error:The file is not a sound file that can be played. (303) <<\r\n";
inline const std::string kUnreadableLine = "  >> Error:The sound file cannot be read. (302) <<\r\n";
inline const std::string kDamagedLine = "  >> Error:The sound file is damaged. (304) <<\r\n";
inline const std::string kNoOutputLine = "  >> Error:There is no sound output to play on. (305) <<\r\n";
inline const std::string kNoDecoderLine =
    "  >> Error:The decoder for this kind of sound file is not installed. (313) <<\r\n";
