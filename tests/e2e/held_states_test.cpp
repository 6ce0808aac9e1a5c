// States in which the program could stop hearing the user or its caller: a
// file swapped for a FIFO while it is opened, a sound server that is frozen
// or never answers, a hang-up, a stop and continue, a script and a loop.
// In each the program must still end on Esc (or play on), and give the
// terminal back as it found it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>
#include <tuple>

#include "e2e/e2e_support.h"
#include "e2e/sound_server.h"

namespace e2e {
namespace {

// Esc ends the program at once in every state; the bound leaves room for a
// slow machine, and is far below the seconds that a held call would take.
constexpr int kEscExitMs = 1000;

// The state letter of process `pid` ('T' when stopped), '?' when it is gone.
char ProcessState(pid_t pid) {
  const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t after_name = stat.rfind(") ");
  return after_name == std::string::npos ? '?' : stat[after_name + 2];
}

// Neither a stop nor a terminal's mode sends an event a test could wait on:
// each is looked at every 10 ms, for 3 s at most.
template <typename Done>
bool WaitUntil(Done done) {
  for (int tries = 0; tries < 300 && !done(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// Ctrl+Z from outside: the job's pid once it has stopped, or -1.
pid_t StopJob(const Process& player) {
  const pid_t job = player.JobPid();
  if (job <= 0 || kill(job, SIGTSTP) != 0) return -1;
  return WaitUntil([&] { return ProcessState(job) == 'T'; }) ? job : -1;
}

// Types Esc and expects the program gone within kEscExitMs, the terminal as
// it was.
void ExpectEscEndsIt(Process& player) {
  player.Type("\x1b");
  ASSERT_TRUE(player.WaitForExit(kEscExitMs)) << player.Out();
  EXPECT_EQ(player.ExitCode(), 0);
  EXPECT_TRUE(SameMode(player.Now(), player.Initial()));
  EXPECT_EQ(player.Err(), "");
}

TEST(HeldStatesTest, AFileSwappedForAFifoWhileOpenedNeverHangs) {
  ScratchDir dir;
  ASSERT_TRUE(dir.AddSound("ding.wav"));
  ASSERT_EQ(mkfifo((dir / "other").c_str(), 0600), 0);
  std::atomic<bool> swapping{true};
  std::thread swapper([&] {
    while (swapping) renameat2(AT_FDCWD, (dir / "ding.wav").c_str(), AT_FDCWD, (dir / "other").c_str(), RENAME_EXCHANGE);
  });
  ProcessOptions options;
  options.args = {"ding"};
  options.working_dir = dir.path();
  options.timeout_ms = 3000;
  WithoutSound(options, dir);
  int stuck = 0;
  for (int run = 0; run < 200 && stuck == 0; ++run) {
    const ProcessResult result = RunProcess(options);
    if (result.timed_out) ++stuck;
    EXPECT_EQ(result.err, "");
  }
  swapping = false;
  swapper.join();
  EXPECT_EQ(stuck, 0);
}

TEST(HeldStatesTest, EscEndsItWhileTheServerIsFrozen) {
  std::string why;
  if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.wav"));
  PrivateServer server;  // its own, since it is frozen
  ASSERT_TRUE(server.Running());
  ProcessOptions options = AtTerminal(dir, {"tone", "/r-1"});
  options.set = server.Environment();
  Process player(options);
  ASSERT_TRUE(player.WaitForOutput("until ESC is pressed", 5000)) << player.Out();
  ASSERT_TRUE(server.WaitForPlayer(5000));
  server.Signal(SIGSTOP);
  ExpectEscEndsIt(player);
  server.Signal(SIGCONT);
}

TEST(HeldStatesTest, EscEndsTheWaitForTheLastTailWhileTheServerIsFrozen) {
  std::string why;
  if (!UsePrivateServer(&why)) GTEST_SKIP() << why;
  ScratchDir dir;
  ASSERT_TRUE(MakeTone(dir / "tone.wav"));
  PrivateServer server;
  ASSERT_TRUE(server.Running());
  ProcessOptions options = AtTerminal(dir, {"tone"});
  options.set = server.Environment();
  Process player(options);
  ASSERT_TRUE(server.WaitForPlayer(5000));
  server.Signal(SIGSTOP);
  // The sound is queued whole and its time runs out; the progress line ends
  // and the program waits for the tail that the frozen server never plays.
  ASSERT_TRUE(player.WaitForOutput("\"tone.WAV\"\r", 5000)) << player.Out();
  ExpectEscEndsIt(player);
  server.Signal(SIGCONT);
}

// A socket that takes connections and never says a word, as a sound server
// that has hung does.
class SilentServer {
 public:
  explicit SilentServer(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    listening_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 listen(fd_, 64) == 0;
  }
  ~SilentServer() {
    if (fd_ >= 0) close(fd_);
  }
  bool Listening() const { return listening_; }
  SoundEnvironment Environment() const { return {{"PULSE_SERVER", "unix:" + path_}}; }

 private:
  std::string path_;
  int fd_ = -1;
  bool listening_ = false;
};

TEST(HeldStatesTest, AServerThatNeverAnswersCountsAsNoOutput) {
  ScratchDir dir;
  ASSERT_TRUE(dir.AddSound("ding.wav"));
  SilentServer server(dir / "silent");
  ASSERT_TRUE(server.Listening());
  // The three runs wait on the server side by side.
  const char* const volumes[] = {"/r1", "/v50"};
  std::vector<std::unique_ptr<Process>> runs;
  for (const char* volume : volumes) {
    ProcessOptions options;
    options.args = {"ding", "/q", volume};
    options.working_dir = dir.path();
    options.set = server.Environment();
    runs.push_back(std::make_unique<Process>(options));
  }
  ProcessOptions at_terminal = AtTerminal(dir, {"ding", "/v50"});
  at_terminal.set = server.Environment();
  Process player(at_terminal);
  ASSERT_TRUE(player.WaitForOutput("Playing", 5000)) << player.Out();
  ExpectEscEndsIt(player);
  for (size_t i = 0; i < runs.size(); ++i) {
    // The sound output is given 5 s to answer, the mixer no more.
    if (!runs[i]->WaitForExit(6500)) runs[i]->Kill();
    const ProcessResult result = runs[i]->Result();
    EXPECT_TRUE(result.ExitedWith(0)) << volumes[i] << ": " << Describe(result);
    EXPECT_EQ(result.out, kNoOutputLine) << volumes[i];
  }
}

// A folder that never answers, as on a dead network mount: Esc ends the
// lookup as one that found nothing; Ctrl+\, SIGTERM and SIGHUP end it too.
// A slow folder that answers soon after an Esc typed ahead goes on as if at
// once: that Esc stops the first playback.
TEST(HeldStatesTest, ALookupThatHangsEndsOnEscAndSignals) {
  ScratchDir dir;
  ASSERT_TRUE(dir.AddSound("ta.wav"));
  const std::tuple<const char*, const char*, int> cases[] = {
      {"hang-dirs", "\x1b", 0}, {"hang-dirs", "\x1c", SIGQUIT}, {"hang-dirs", "", SIGTERM},
      {"hang-dirs", "", SIGHUP}, {"slow-dirs", "\x1b", 0}};
  for (const auto& [shim, typed, signal_number] : cases) {
    ProcessOptions options = AtTerminal(dir, {"ta"});
    options.set = {{"LD_PRELOAD", PELDO_READ_SHIM}, {"PELDO_READ_SHIM", shim}};
    WithoutSound(options, dir);
    Process player(options);
    if (signal_number == 0) player.Type(typed);  // Esc typed ahead
    ASSERT_TRUE(player.WaitForOutput(kHeaderLine1.substr(0, kHeaderLine1.size() - 2), 5000));
    if (signal_number != 0) *typed == '\0' ? void(kill(player.Pid(), signal_number)) : player.Type(typed);
    ASSERT_TRUE(player.WaitForExit(kEscExitMs)) << shim << signal_number;
    const bool found = *shim == 's';
    EXPECT_EQ(player.Signal(), signal_number);
    EXPECT_EQ(player.ExitCode(), signal_number != 0 ? -1 : found ? 0 : 1) << player.Out();
    EXPECT_EQ(player.Out().find("File not found: ta.WAV") != std::string::npos, signal_number == 0 && !found);
    EXPECT_EQ(player.Out().find("Playing \"ta.WAV\"") != std::string::npos, found) << player.Out();
    EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << signal_number;
  }
}

// A caller that set its own mode before it started the program (as watch
// does) puts the user's back once the program has taken the keys: Ctrl+C,
// SIGTERM and Ctrl+Z leave the user's mode, not the caller's.
TEST(HeldStatesTest, AModeTheCallerPutBackSinceIsLeftAlone) {
  ScratchDir dir;
  std::ofstream(dir / "x.wav") << "this is not a sound\n";
  for (const int signal_number : {SIGINT, SIGTERM, SIGTSTP}) {
    ProcessOptions options = AtTerminal(dir, {"-c", "stty -icanon -echo; exec \"$P\" x.wav /r-1"});
    options.program = "sh";
    options.set = {{"P", PELDO_BINARY}};
    options.job_control = true;
    Process player(options);
    ASSERT_TRUE(player.WaitForOutput(">> Error:", 5000)) << player.Out();
    player.SetMode(player.Initial());
    const pid_t job = player.JobPid();
    kill(job, signal_number);
    ASSERT_TRUE(WaitUntil([&] { return ProcessState(job) == (signal_number == SIGTSTP ? 'T' : '?'); }));
    EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << signal_number;
  }
}

// Two runs in one job, the second started once the first has the keys (as
// make -j or xargs -P start them), ended in either order: the mode as found.
TEST(HeldStatesTest, TwoRunsInOneJobLeaveTheModeAsFoundInEitherOrder) {
  ScratchDir dir;
  for (const char* name : {"a.wav", "b.wav"}) std::ofstream(dir / name) << "this is not a sound\n";
  for (const bool first_ends_first : {true, false}) {
    ProcessOptions options = AtTerminal(dir, {"-c",
        "sh -c 'echo $$ >b; kill -STOP $$; exec \"$P\" b.wav /r-1 >/dev/tty' | sh -c 'echo $$ >a; exec \"$P\" a.wav /r-1'"});
    options.program = "sh";
    options.set = {{"P", PELDO_BINARY}};
    Process job(options);
    ASSERT_TRUE(job.WaitForOutput("\"a.wav\" until", 5000)) << job.Out();
    pid_t second = 0;  // stopped until the first has the keys
    ASSERT_TRUE(WaitUntil([&] { return ProcessState(second = std::atoi(ReadWholeFile(dir / "b").c_str())) == 'T'; }));
    kill(second, SIGCONT);
    ASSERT_TRUE(job.WaitForOutput("\"b.wav\" until", 5000)) << job.Out();
    const pid_t first = std::atoi(ReadWholeFile(dir / "a").c_str());
    const auto [ends_first, ends_last] = first_ends_first ? std::pair{first, second} : std::pair{second, first};
    // Held stopped meanwhile, so that it cannot take the keys again before
    // its own end: it ends as two runs that Ctrl+C ends together.
    kill(ends_last, SIGSTOP);
    for (const auto& [run, signal_number] : {std::pair{ends_first, SIGTERM}, {ends_last, SIGINT}}) {
      kill(run, signal_number);
      kill(run, SIGCONT);
      EXPECT_TRUE(WaitUntil([&] { return ProcessState(run) == 'Z' || ProcessState(run) == '?'; }));
    }
    ASSERT_TRUE(job.WaitForExit(kEscExitMs));
    EXPECT_TRUE(SameMode(job.Now(), job.Initial())) << "first ends first: " << first_ends_first;
  }
}

class HeldStatesSoundTest : public SoundTest {};

// Stopped inside its own change of the mode (taking the keys, giving them
// back), then "bg": it never stops itself again, and plays to its end.
TEST_F(HeldStatesSoundTest, AStopInsideAModeChangeThenBgPlaysOn) {
  for (const char* stop_at_set : {"1", "2"}) {
    ProcessOptions options = AtTerminal(dir_, {"tone", "/r2"});
    options.job_control = true;
    options.set = {{"LD_PRELOAD", PELDO_READ_SHIM}, {"PELDO_STOP_AT_SET", stop_at_set}};
    Process player(options);
    ASSERT_TRUE(WaitUntil([&] { return ProcessState(player.JobPid()) == 'T'; })) << stop_at_set;
    player.Background();
    ASSERT_TRUE(player.WaitForExit(5000)) << stop_at_set << ": state " << ProcessState(player.JobPid());
    EXPECT_TRUE(player.ExitCode() == 0 && SameMode(player.Now(), player.Initial())) << stop_at_set;
  }
}

// Whether process `pid` (not a child of ours) ends within `timeout_ms`.
bool EndsWithin(pid_t pid, int timeout_ms) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return true;  // gone already
  pollfd exited = {pidfd, POLLIN, 0};
  const bool ended = poll(&exited, 1, timeout_ms) > 0;
  close(pidfd);
  return ended;
}

// A closed window ends the program only by the SIGHUP it sends: the
// kernel's to the foreground, within 1 s. A job in the background, which no
// one signals (as after "disown"), and a run that ignores SIGHUP (nohup)
// play on.
TEST_F(HeldStatesSoundTest, AHangUpEndsItOnlyByTheSignalItSends) {
  for (const auto& [in_background, ignored] : {std::pair{false, true}, {true, true}, {false, false}, {true, false}}) {
    ProcessOptions options = AtTerminal(dir_, {"tone", "/r-1"});
    options.job_control = options.in_background = in_background;
    if (ignored) options.ignored_signals = {SIGHUP};
    Process player(options);
    ASSERT_TRUE(player.WaitForOutput("until ESC", 5000)) << player.Out();
    player.HangUp();
    const bool ends = !in_background && !ignored;  // the job's "shell" waits for it
    ASSERT_EQ(player.WaitForExit(ends ? 1000 : 2000), ends) << in_background << ignored;
    EXPECT_EQ(player.Signal(), ends ? SIGHUP : 0);
  }
}

// bash's jobs as its window closes: bash's SIGHUP ends each within 1 s; a
// job disowned plays on.
TEST_F(HeldStatesSoundTest, ABashJobEndsWithItsWindowUnlessDisowned) {
  for (const bool disowned : {false, true}) {
    ProcessOptions options = AtTerminal(dir_, {"--norc", "--noediting", "-i"});
    options.program = "bash";
    options.set = {{"P", PELDO_BINARY}, {"PS1", "$ "}};
    Process user(options);
    user.Type(std::string("$P tone /r-1 /q & echo $! >pid; ") + (disowned ? "disown; " : "") + "echo J\"\"1\n");
    ASSERT_TRUE(user.WaitForOutput("J1", 5000)) << user.Out();
    const pid_t play = std::atoi(ReadWholeFile(dir_ / "pid").c_str());
    ASSERT_GT(play, 0);
    user.HangUp();
    EXPECT_EQ(EndsWithin(play, disowned ? 2000 : 1000), !disowned) << disowned;
    kill(play, SIGKILL);  // not a child of ours: it would outlive the test
  }
}

TEST_F(HeldStatesSoundTest, StoppedItGivesTheTerminalBackAndContinuedItTakesEscAgain) {
  ProcessOptions options = AtTerminal(dir_, {"tone", "/r-1"});
  options.job_control = true;
  Process player(options);
  ASSERT_TRUE(player.WaitForOutput("until ESC is pressed", 5000)) << player.Out();
  const pid_t job = StopJob(player);
  ASSERT_GT(job, 0) << "not stopped";
  EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << "echo and line mode while stopped";
  kill(job, SIGCONT);
  ASSERT_TRUE(WaitUntil([&] { return (player.Now().c_lflag & ICANON) == 0; })) << "keys again";
  ExpectEscEndsIt(player);
}

// Started as "peldo tone /r-1 &", then "fg": the keys are taken then.
TEST_F(HeldStatesSoundTest, StartedInTheBackgroundItTakesTheKeysInTheForeground) {
  ProcessOptions options = AtTerminal(dir_, {"tone", "/r-1"});
  options.job_control = true;
  options.in_background = true;
  Process player(options);
  ASSERT_TRUE(player.WaitForOutput("until ESC is pressed", 5000)) << player.Out();
  EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << "the mode set from the background";
  player.Foreground();
  ASSERT_TRUE(WaitUntil([&] { return (player.Now().c_lflag & ICANON) == 0; })) << "no keys after fg";
  ExpectEscEndsIt(player);
}

// Ctrl+Z, then "bg", with standard input redirected: in the background the
// program neither reads nor sets the terminal, and plays to its end.
TEST_F(HeldStatesSoundTest, SentToTheBackgroundItPlaysOnWithoutTheTerminal) {
  ProcessOptions options = AtTerminal(dir_, {"tone", "/r2"});
  options.stdin_file = "/dev/null";
  options.job_control = true;
  Process player(options);
  ASSERT_TRUE(player.WaitForOutput("2 times", 5000)) << player.Out();
  const pid_t job = StopJob(player);
  ASSERT_GT(job, 0) << "not stopped";
  player.Background();
  ASSERT_TRUE(player.WaitForExit(5000)) << "state in the background: " << ProcessState(job);
  EXPECT_EQ(player.ExitCode(), 0);
  EXPECT_TRUE(SameMode(player.Now(), player.Initial()));
}

// A user at an interactive shell (bash, dash): each step types a line, waits
// for what it shows, then for the mode: 'k' the keys taken, 'f' the mode
// found, 'e' the play a script started (pid in "pid") ended, the mode found.
TEST_F(HeldStatesSoundTest, AtAShellScriptsAndLoopsKeepTheTerminalAndItsSignals) {
  using Step = std::tuple<const char*, const char*, char>;
  const std::vector<std::vector<Step>> rows = {
      // A script's "&": the mode as found while the script runs, after it
      // ends and after the play ends; the script's "read" edits its line.
      {{"sh -c '$P tone /q & echo $! >pid; sleep 0.3'; echo A\"\"1\n", "A1", 'f'}, {"", "", 'e'},
       {"echo A\"\"2\n", "A2", 'f'}},
      {{"sh -c '$P tone /r-1 /q & sleep 0.3; echo B\"\"1; read n; echo \"got-$n\"; kill $!'\n", "B1", 'f'},
       {"alx\x7fice\n", "got-alice", 'f'}},
      {{"sh -c '$P tone /r-1 /q; true'\n", "", 'k'}, {"\x1b", "", 'f'}},  // a script's own command: keys as ever
      // Ctrl+C ignored, input on a file: in the foreground all the same.
      {{"sh -c 'trap \"\" INT QUIT; $P tone /r-1 /q <tone.wav; echo T$?'\n", "", 'k'}, {"\x1b", "T0", 'f'}},
      // Ctrl+C ends the loop, status 130; Ctrl+Z stops, fg takes the keys.
      {{"for i in 1 2 3; do echo C\"\"$i; $P tone /r-1 /q; done\n", "C1", 'k'}, {"\x03", "", 'f'},
       {"echo S\"\"$?\n", "S130", 'f'}},
      {{"$P tone /r-1 /q\n", "", 'k'}, {"\x1a", "", 'f'}, {"fg\n", "", 'k'}, {"\x1b", "", 'f'},
       {"echo S\"\"$?\n", "S0", 'f'}}};
  for (const char* shell : {"bash", "dash"}) {
    for (const auto& steps : rows) {
      ProcessOptions options = AtTerminal(dir_, {"--norc", "--noediting", "-i"});
      options.program = shell;
      if (*shell == 'd') options.args = {"-i"};
      options.set = {{"P", PELDO_BINARY}, {"PS1", "$ "}};
      options.unset = {"ENV"};
      Process user(options);
      for (const auto& [typed, shown, then] : steps) {
        user.Type(typed);
        ASSERT_TRUE(user.WaitForOutput(shown, 5000)) << shell << " " << typed << user.Out();
        const pid_t play = then == 'e' ? std::atoi(ReadWholeFile(dir_ / "pid").c_str()) : 0;
        ASSERT_TRUE(WaitUntil([&] { return play == 0 || ProcessState(play) == 'Z' || ProcessState(play) == '?'; }));
        const bool keys = then == 'k';
        EXPECT_TRUE(WaitUntil([&] { return ((user.Now().c_lflag & ICANON) == 0) == keys; })) << shell << typed;
        EXPECT_TRUE(keys || SameMode(user.Now(), user.Initial())) << shell << " " << typed;
      }
      EXPECT_EQ(user.Out().find("C2"), std::string::npos) << shell << ": a second run after Ctrl+C";
    }
  }
}

}  // namespace
}  // namespace e2e
