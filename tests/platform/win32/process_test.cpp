// The program as a child process, started the way another program starts
// it: its own standard handles in the start-up information.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "expected_texts.h"
#include "win32_support.h"

namespace {

// peldo.exe is built next to the test program.
std::string ProgramPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program = path;
  program.erase(program.find_last_of('\\') + 1);
  return program + "peldo.exe";
}

struct Outcome {
  DWORD exit_code = 0xDEAD;
  std::string out;
  std::string err;
};

enum class Output { kFile, kNone };

// Runs peldo.exe with `tail` after its name, in `directory`, with standard
// input from NUL and standard output and error in files (or no output).
Outcome RunProgram(const std::string& tail, const std::string& directory, Output output = Output::kFile) {
  Outcome outcome;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::string out_path = directory + "\\out.txt";
  const std::string err_path = directory + "\\err.txt";
  const HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
  const HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
  const HANDLE err = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = output == Output::kFile ? out : nullptr;
  startup.hStdError = err;
  std::string command_line = "\"" + ProgramPath() + "\" " + tail;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     directory.c_str(), &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 0xDEAD);
    GetExitCodeProcess(process.hProcess, &outcome.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  outcome.out = win32_test::ReadWholeFile(out_path);
  outcome.err = win32_test::ReadWholeFile(err_path);
  return outcome;
}

TEST(ProcessTest, WritesToTheHandlesItWasGivenAndExitsWithTheResult) {
  win32_test::ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path().empty());
  ASSERT_TRUE(win32_test::WriteWholeFile(scratch / "hidden.wav", "RIFF"));
  ASSERT_TRUE(SetFileAttributesA((scratch / "hidden.wav").c_str(), FILE_ATTRIBUTE_HIDDEN));
  const struct {
    const char* why;
    std::string tail;
    DWORD exit_code;
    std::string out;
  } cases[] = {
      {"only an option: usage without header", "/q", 1, kUsage},
      {"options in lower case, missing file", "nosuch /q", 1, "File not found: nosuch.WAV\r\n"},
      {"a quote before a blank stays in the name", "\"my song.wav\" /q", 1,
       "File not found: my song.wav\" \r\n"},
      {"a file with the hidden attribute is not found", "hidden /Q", 1, "File not found: hidden.WAV\r\n"},
      {"--help is a name like any other here", "--help", 1,
       kHeader + "File not found: --help.WAV\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const Outcome outcome = RunProgram(c.tail, scratch.path());
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST(ProcessTest, HeaderStandsAboveTheMissingFileLine) {
  win32_test::ScratchDirectory scratch;
  const Outcome outcome = RunProgram("nosuch", scratch.path());
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.out.rfind(kHeaderLine1, 0), 0u) << outcome.out;
  const std::string tail = "\r\n\r\nFile not found: nosuch.WAV\r\n";
  ASSERT_GE(outcome.out.size(), tail.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - tail.size()), tail);
}

TEST(ProcessTest, WithoutStandardOutputTheExitCodeStays) {
  win32_test::ScratchDirectory scratch;
  for (const char* tail : {"", "nosuch"}) {
    SCOPED_TRACE(tail);
    const Outcome outcome = RunProgram(tail, scratch.path(), Output::kNone);
    EXPECT_EQ(outcome.exit_code, 1u);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
  }
}

// The version resource that Explorer's file properties show.
TEST(ProcessTest, VersionResourceNamesTheProgramAndItsMaker) {
  const std::string program = ProgramPath();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &handle);
  ASSERT_GT(size, 0u) << program;
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, size, info.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  // Version "2.65" is 2 in the high word, 65 in the low one.
  const DWORD version = MAKELONG(std::stoi(kVersion.substr(kVersion.find('.') + 1)), std::stoi(kVersion));
  EXPECT_EQ(fixed->dwFileVersionMS, version);
  EXPECT_EQ(fixed->dwProductVersionMS, version);
  const struct {
    const char* name;
    std::string text;
  } strings[] = {
      {"FileVersion", kVersion},
      {"ProductVersion", kVersion},
      {"ProductName", "PELDO"},
      {"FileDescription", kDescription},
      {"OriginalFilename", "PELDO.EXE"},
      {"LegalCopyright", kMakerLine},
  };
  for (const auto& row : strings) {
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + row.name;
    ASSERT_TRUE(VerQueryValueA(info.data(), key.c_str(), &value, &length)) << row.name;
    EXPECT_EQ(std::string(static_cast<const char*>(value)), row.text) << row.name;
  }
}

}  // namespace
