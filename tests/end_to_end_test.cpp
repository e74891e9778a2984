// Runs the real program against the simulated device, its clock driven by
// libfaketime. The simulator's log and the program's standard output and
// error go to one file, so a transcript shows device calls and console lines
// in the order they happened. Runs that reach the loop end with SIGKILL, the only way the
// program ever ends: a line still in a buffer then is missing from the file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Env = std::vector<std::string>;
// Told the transcript so far and the real seconds since start; true ends the run.
using Until = std::function<bool(const std::string &, double)>;

const std::string Opened = "count devices=1 status=0\nopen id=1 status=0\n";
const std::string Load = "load id=1 path=C:\\Qmx\\ZPR\\samples\\lorvex_20Hz_60sec_length.zpr status=";
const std::string Loaded = Opened + Load + "0\n";
const std::string Banner = "\nTriggering loop will start within a minute: \n\n";

// The line printed for a trigger at `when` ("20261208 10:01:00"), and what a
// transcript holds for a good trigger and for a failed one.
std::string TriggerLine(const std::string &when)
{
    return "Trigger: " + when + "  \n";
}
std::string Triggered(const std::string &when)
{
    return "trigger id=1 status=0\n" + TriggerLine(when);
}
std::string Failed(const std::string &when)
{
    return "trigger id=1 status=-1\n" + TriggerLine(when) + "AWG10K_Trigger() Error\n";
}

// A folder of its own, removed with what it holds however the test ends.
struct Folder {
    char path[32] = "/tmp/minute-trigger-test-XXXXXX";
    Folder() { EXPECT_NE(nullptr, mkdtemp(path)); }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string &name) const { return path + ("/" + name); }
};

struct Transcript {
    std::string text;
    int status = -1;  // exit status; -1 when the run was ended by the test
};

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Writes by rename, so the clock never reads a half-written time.
void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream(path + ".new", std::ios::binary) << text;
    ASSERT_EQ(0, std::rename((path + ".new").c_str(), path.c_str()));
}

// The transcript without the simulator's time stamps, "2026-12-08T10:01:00.
// 000012345Z " at the start of its lines: what must be exact.
std::string Untimed(const std::string &text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        const bool stamped = end - at > 31 && text[at + 4] == '-' && text[at + 10] == 'T' && text[at + 19] == '.' &&
                             text[at + 29] == 'Z';
        out += text.substr(stamped ? at + 31 : at, stamped ? end - at - 31 : end - at);
        at = end;
    }
    return out;
}

Env Faked(const std::string &when)
{
    return {"LD_PRELOAD=" FAKETIME_LIBRARY, "FAKETIME=" + when};
}

Until Seconds(double limit)
{
    return [limit](const std::string &, double elapsed) { return elapsed >= limit; };
}

// Until `needle` is in the transcript `times` times, then a little longer, so
// that a doubled trigger would have time to show.
Until Seen(const std::string &needle, int times, double settle = 0.4)
{
    auto seen = std::make_shared<double>(-1);
    return [=](const std::string &text, double elapsed) {
        int n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        if (*seen < 0 && n >= times) *seen = elapsed;
        return *seen >= 0 && elapsed >= *seen + settle;
    };
}

Until Triggers(int lines)
{
    return Seen("Trigger: ", lines);
}

// Until `end`, writing each text of `plan` to `path` once its time (real
// seconds since start) has come.
Until Writing(const std::string &path, std::vector<std::pair<double, std::string>> plan, Until end)
{
    auto next = std::make_shared<size_t>(0);
    return [=](const std::string &text, double elapsed) {
        if (*next < plan.size() && elapsed >= plan[*next].first) WriteFile(path, plan[(*next)++].second);
        return end(text, elapsed);
    };
}

// Where the program's standard streams lead. Anything but the transcript is
// what a careless start leaves it with.
enum class Streams {
    Transcript,  // standard output and error both
    BrokenPipe,  // output to a pipe whose reader leaves after the first byte
    NoOutput,    // standard output closed, as by `>&-`
    Traced,      // as Transcript, with every write noted by strace in the folder's "writes"
};

// How a run goes: what ends it (nothing: only the program's own exit), its
// arguments, its streams, and the folder for its files (its own unless given).
struct Options {
    Until until = nullptr;
    std::vector<std::string> args = {};
    Streams streams = Streams::Transcript;
    const Folder *folder = nullptr;
    Options &With(Streams s) { return streams = s, *this; }
    Options &In(const Folder &f) { return folder = &f, *this; }
};

Transcript RunProgram(Env env, const Options &options = {})
{
    std::optional<Folder> own;
    const Folder &folder = options.folder != nullptr ? *options.folder : own.emplace();
    const std::string path = folder / "transcript";
    env.push_back("AWG10K_SIM_LOG=" + path);
    env.push_back("LD_LIBRARY_PATH=" SIMULATOR_DIR);
    // libfaketime is preloaded ahead of the sanitizer runtime in sanitized builds.
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    // The kernel's clock state is stood in for in every run, whatever this machine's is.
    const auto preload = std::find_if(env.begin(), env.end(), [](auto &e) { return e.rfind("LD_PRELOAD=", 0) == 0; });
    if (preload == env.end())
        env.push_back("LD_PRELOAD=" CLOCK_SYNC_STAND_IN);
    else
        *preload += ":" CLOCK_SYNC_STAND_IN;

    int pipe_ends[2] = {-1, -1};
    if (options.streams == Streams::BrokenPipe) {
        EXPECT_EQ(0, pipe2(pipe_ends, O_CLOEXEC));
        fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);  // the reader only; the program's end blocks as usual
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // As a shell starts it, whatever this test runner ignores: an ignored
        // SIGPIPE would be inherited and hide the program's own handling.
        signal(SIGPIPE, SIG_DFL);
        // A group of its own, so that the kill below ends strace's program
        // with it: a killed strace lets its program run on.
        setpgid(0, 0);
        const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        dup2(options.streams == Streams::BrokenPipe ? pipe_ends[1] : out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (options.streams == Streams::NoOutput) close(STDOUT_FILENO);
        const std::string writes = folder / "writes";
        std::vector<char *> argv, envp;
        if (options.streams == Streams::Traced) {
            for (const char *a : {STRACE, "-f", "-qq", "-e", "trace=write", "-s", "256", "-o"})
                argv.push_back(const_cast<char *>(a));
            argv.push_back(const_cast<char *>(writes.c_str()));
        }
        argv.push_back(const_cast<char *>(PROGRAM));
        for (const auto &a : options.args) argv.push_back(const_cast<char *>(a.c_str()));
        for (const auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }

    if (pipe_ends[1] >= 0) close(pipe_ends[1]);
    int reader = pipe_ends[0];
    Transcript t;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        char first;
        if (reader >= 0 && read(reader, &first, 1) == 1) {
            close(reader);
            reader = -1;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            t.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool done = options.until && options.until(ReadFile(path), elapsed);
        if (done || elapsed > 60) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            EXPECT_TRUE(done) << "still running after 60 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (reader >= 0) close(reader);
    t.text = ReadFile(path);
    std::remove(path.c_str());
    return t;
}

TEST(StartUp, EachFailureEndsWithItsOwnMessageAndStatus1)
{
    const struct {
        Env env;
        std::string transcript;
    } rows[] = {
        // The library wrote a count, but a failed call's count is not believed.
        {{"AWG10K_SIM_FAIL=count", "AWG10K_SIM_DEVICES=3"},
         "count devices=3 status=-1\nAWG10K_GetNumberOfDevices() Error"},
        {{"AWG10K_SIM_DEVICES=0"}, "count devices=0 status=0\nDeviceNumber=0"},
        {{"AWG10K_SIM_FAIL=open"}, "count devices=1 status=0\nopen status=-1\nAWG10K_Open() Error"},
        {{"AWG10K_SIM_FAIL=load"}, Opened + Load + "-1\nclose id=1 status=0\nAWG10K_SetFile() Error"},
        // Mistyped simulator settings are named and stop the program at its first call.
        {{"AWG10K_SIM_DEVICES=two", "AWG10K_SIM_FAIL=trigger,bogus"},
         "AWG10K simulator: AWG10K_SIM_DEVICES=\"two\": the device count must be a whole number from 0 to 255\n"
         "AWG10K simulator: AWG10K_SIM_FAIL=\"trigger,bogus\": entries are count, open, load, close, trigger, "
         "comma-separated\ncount status=-1\nAWG10K_GetNumberOfDevices() Error"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.env[0]);
        const Transcript t = RunProgram(row.env);
        EXPECT_EQ(1, t.status);
        EXPECT_EQ(row.transcript, Untimed(t.text));
    }
}

TEST(StartUp, SeveralDevicesGoOnToTheLoop)
{
    Env env = Faked("@2026-12-08 10:00:30");
    env.push_back("AWG10K_SIM_DEVICES=2");
    const Transcript t = RunProgram(env, {Seconds(0.5), {"--help", "", "-d 2"}});
    // Still in its loop when ended, having printed the banner and no trigger yet.
    EXPECT_EQ(-1, t.status);
    EXPECT_EQ("count devices=2 status=0\nopen id=1 status=0\n" + Load + "0\n" + Banner, Untimed(t.text));
}

TEST(Loop, TheFirstTriggerComesAtTheNextSecondZeroOrAtOnceWithinIt)
{
    // Five times real speed: second 0 lasts 200 ms of real time.
    Transcript t = RunProgram(Faked("@2026-12-08 10:00:59 x5"), {Seconds(1.2)});
    EXPECT_EQ(Loaded + Banner + Triggered("20261208 10:01:00"), Untimed(t.text));
    // On time: the log shows the trigger inside second 0, not after it.
    EXPECT_NE(std::string::npos, t.text.find("2026-12-08T10:01:00.")) << t.text;

    t = RunProgram(Faked("@2026-12-08 10:01:00"), {Seconds(0.5)});
    EXPECT_EQ(Loaded + Banner + Triggered("20261208 10:01:00"), Untimed(t.text));
}

TEST(Loop, OneTriggerAMinuteWithTheRightDate)
{
    // Midnight, month and year end, past the end of 32-bit time: a time cut
    // to 32 bits anywhere on its way from the clock shows as 1902. At ten
    // times real speed, second 0 still lasts 100 ms of real time.
    Transcript t = RunProgram(Faked("@2038-12-31 23:58:59 x10"), {Triggers(2)});
    EXPECT_EQ(Loaded + Banner + Triggered("20381231 23:59:00") + Triggered("20390101 00:00:00"), Untimed(t.text));
}

// Whatever the program's standard streams lead to, every minute is triggered
// and nothing it prints lands in a file the library holds open.
TEST(Streams, NeitherAGoneReaderNorAClosedDescriptorStopsOrMisdirectsATrigger)
{
    const std::string Trigger = "trigger id=1 status=0\n";
    // The reader leaves after the first byte of the banner; the minutes after
    // it are triggered all the same, and the program is still running.
    Transcript t = RunProgram(Faked("@2026-12-08 10:00:59 x10"), Options{Seen(Trigger, 2)}.With(Streams::BrokenPipe));
    EXPECT_EQ(-1, t.status);
    EXPECT_EQ(Loaded + Trigger + Trigger, Untimed(t.text));

    // With standard output closed, the log the simulator opens would be
    // handed descriptor 1, and the banner written into it. On the real clock:
    // libfaketime opens a file of its own before any of the program's code
    // runs, and would take descriptor 1 first.
    t = RunProgram({}, Options{Seconds(0.5)}.With(Streams::NoOutput));
    EXPECT_EQ(-1, t.status);
    EXPECT_EQ(std::string::npos, t.text.find("Trigger")) << t.text;
    EXPECT_EQ(Loaded, Untimed(t.text).substr(0, Loaded.size()));
}

// The only end a running program has is a kill, which can cut a line that
// leaves in pieces: each line leaves in one write, the banner with the empty
// lines around it too.
TEST(Streams, EachLineLeavesInOneWrite)
{
    const Folder dir;
    RunProgram(Faked("@2026-12-08 10:00:59"), Options{Triggers(1)}.With(Streams::Traced).In(dir));
    const std::string writes = ReadFile(dir / "writes");
    for (const std::string &line : {Banner, TriggerLine("20261208 10:01:00")}) {
        std::string shown;  // as strace shows it
        for (const char c : line) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
        const std::string call = "\"" + shown + "\", " + std::to_string(line.size()) + ") = ";
        EXPECT_NE(std::string::npos, writes.find(call)) << "no write of " << call << " in\n" << writes;
    }
}

// The clock is stepped through libfaketime's time-stamp file; a new time
// there restarts the fake clock from it, though the first reading after the
// change can fall a hair short of it (10:01:01.9999 for 10:01:02).
TEST(Loop, ClockStepsOverOrBackIntoSecondZero)
{
    const Folder dir;
    const std::string stamp = dir / "faketime";
    const Env env{"LD_PRELOAD=" FAKETIME_LIBRARY, "FAKETIME_TIMESTAMP_FILE=" + stamp, "FAKETIME_NO_CACHE=1"};

    // 10:00:58.5 jumps to 10:01:02: that minute goes without a trigger. Then
    // 10:01:59 runs on into 10:02:00 as usual.
    WriteFile(stamp, "@2026-12-08 10:00:58");
    const Until jumps = Writing(stamp, {{0.5, "@2026-12-08 10:01:02"}, {1.0, "@2026-12-08 10:01:59"}}, Seconds(2.6));
    Transcript t = RunProgram(env, Options{jumps}.In(dir));
    EXPECT_EQ(Loaded + Banner + Triggered("20261208 10:02:00"), Untimed(t.text));

    // Triggered at 10:01:00, saw 10:01:01, then stepped back into 10:01:00.
    WriteFile(stamp, "@2026-12-08 10:00:59");
    t = RunProgram(env, Options{Writing(stamp, {{2.5, "@2026-12-08 10:01:00"}}, Seconds(3.0))}.In(dir));
    EXPECT_EQ(Loaded + Banner + Triggered("20261208 10:01:00") + Triggered("20261208 10:01:00"), Untimed(t.text));
}

// Standard error, beside the trigger lines: a failed trigger's note after
// its line, never retried (the line still tells the minute); the clock's
// state (its rules: clock_watch_test.cpp), at start after a refused read,
// and a change after a trigger, the figure rounded up. At ten times real
// speed second 0 lasts 100 ms and a minute 6 s: the state is written 3 s
// after the first boundary.
TEST(StandardError, AFailedTriggerAndTheClocksStateFollowTheLines)
{
    const Folder dir;
    const std::string state = dir / "clock-sync";
    WriteFile(state, "refuse");
    Env env = Faked("@2026-12-08 10:10:59 x10");
    env.insert(env.end(), {"CLOCK_SYNC_STAND_IN=" + state, "AWG10K_SIM_FAIL=trigger"});
    const Transcript t = RunProgram(env, {Writing(state, {{3, "12001"}}, Triggers(4))});
    EXPECT_EQ(Loaded + Banner +
                  "Clock: synchronisation unknown (ntp_adjtime: Operation not permitted); "
                  "triggers follow this PC's clock, unchecked against UTC\n" +
                  Failed("20261208 10:11:00") + Failed("20261208 10:12:00") + Failed("20261208 10:13:00") +
                  Failed("20261208 10:14:00") +
                  "Clock at 20261208 10:12:00: synchronised (reported maximum error 13 ms)\n",
              Untimed(t.text));
}

}  // namespace
