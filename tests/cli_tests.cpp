// velquor-flash as a user runs it: the built program against the simulated unit, its exit
// status, what it prints on stdout and what its trace and progress say on stderr.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include "catalogue/catalogue.h"
#include "sim/sim_unit.h"

#ifndef VELQUOR_RECORDS_DIR
#error "VELQUOR_RECORDS_DIR must name the corpus of records, tests/records"
#endif
#ifndef VELQUOR_FLASH_EXE
#error "VELQUOR_FLASH_EXE must name the built velquor-flash"
#endif

namespace {

struct FlashRun {
    int Status;
    std::string Out;
    std::string Err;
};

std::string ReadWhole(const std::string& path, bool binary = false)
{
    // Text mode: a Windows build writes its newlines as CR LF.
    std::ifstream file(path, binary ? std::ios::in | std::ios::binary : std::ios::in);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

#if defined(_WIN32)
// cmd.exe: double quotes; a path of the build machine (under Wine) lies on drive Z:.
std::string Quote(const std::string& text) { return "\"" + text + "\""; }
std::string ProgramPath()
{
    std::string path = VELQUOR_FLASH_EXE;
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) c = c == '/' ? '\\' : c;
        path = "Z:" + path;
    }
    return path;
}
const char* const kNoInput = "NUL";
const char* ProgramSuffix() { return ".exe"; }
void MakeExecutable(const std::string&) {}
void SetVariable(const char* name, const char* value) { _putenv_s(name, value != nullptr ? value : ""); }
int ExitStatus(int systemResult) { return systemResult; }
#else
}  // namespace
#include <sys/stat.h>
#include <sys/wait.h>
namespace {
std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
std::string ProgramPath() { return VELQUOR_FLASH_EXE; }
const char* const kNoInput = "/dev/null";
const char* ProgramSuffix() { return ""; }
void MakeExecutable(const std::string& path) { chmod(path.c_str(), 0755); }
void SetVariable(const char* name, const char* value)
{
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}
int ExitStatus(int systemResult) { return WIFEXITED(systemResult) ? WEXITSTATUS(systemResult) : -1; }
#endif

// Runs `program` with `args`, standard input empty and not a terminal.
FlashRun RunProgram(const std::string& program, const std::vector<std::string>& args)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test->name();
    for (char& c : name) c = c == '/' ? '_' : c;
    std::string base = testing::TempDir() + "velquor_cli_" + name;
    std::string outPath = base + ".out", errPath = base + ".err";
    std::string command = Quote(program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote(outPath) + " 2>" + Quote(errPath) + " <" + kNoInput;
#if defined(_WIN32)
    command = "\"" + command + "\"";
#endif
    std::fflush(nullptr);
    errno = 0;
    int result = std::system(command.c_str());
#if defined(_WIN32)
    // -1 with errno set: the command processor itself could not be started (seen once under
    // Wine), so nothing ran. One more try; the program's own status is never retried.
    if (result == -1 && errno != 0) {
        std::fprintf(stderr, "[ note     ] the command processor did not start (errno %d); trying once more\n", errno);
        errno = 0;
        result = std::system(command.c_str());
    }
#endif
    FlashRun run = {ExitStatus(result), ReadWhole(outPath), ReadWhole(errPath)};
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

// Runs velquor-flash as it was built.
FlashRun RunFlash(const std::vector<std::string>& args) { return RunProgram(ProgramPath(), args); }

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream stream(text);
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

// "<ms> > <bytes>[ failed]" or "<ms> < <bytes>|failed"
struct TraceLine {
    uint64_t Ms;
    char Direction;
    std::vector<uint8_t> Bytes;
    bool Failed;
};

std::vector<TraceLine> ParseTrace(const std::string& err)
{
    std::vector<TraceLine> trace;
    for (const std::string& line : Lines(err)) {
        std::istringstream words(line);
        TraceLine entry = {0, 0, {}, false};
        std::string direction, word;
        if (!(words >> entry.Ms >> direction) || (direction != ">" && direction != "<")) continue;
        entry.Direction = direction[0];
        while (words >> word) {
            if (word == "failed") {
                entry.Failed = true;
            } else {
                entry.Bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
            }
        }
        trace.push_back(entry);
    }
    return trace;
}

// A request as its first bytes, the rest of the 60 zero.
std::vector<uint8_t> Request(std::vector<uint8_t> head)
{
    head.resize(60, 0);
    return head;
}

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// ---- The table ------------------------------------------------------------------------------

struct CliCase {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    std::vector<std::string> OutHas;
    std::vector<std::string> OutLacks;
    std::vector<std::string> ErrHas;
};

const std::string kReady = "A programming unit was found and is ready to update.";
const std::string kSteps = "1.)\nDisconnect the VELQUOR ESC from the receiver";
const std::string kSuccess = "The update of the ESC was successful!\n";
const std::string kFailureHint = "Update failed. Please try again.";

const CliCase kCases[] = {
    // identify: the record after discovery, in every branch.
    {"identify_other_mode", {"--sim", "mode=1", "identify"}, 0,
     {"result: 0\n", "UnitMode: 0x01\n", "ControllerState: 0x0000\n", "ModeInfoA: 0x5a\n", "ModeInfoB: 0x1234\n",
      "ModeInfoC: 0x89abcdef\n", "ModeInfoD: 0x00c0ffee\n", "ModeInfoE: 0xa5\n",
      "ControllerIdentity: " + std::string(80, '0') + "\n"},
     {}, {}},
    {"identify_no_unit", {"--sim", "unit=none", "identify"}, 1,
     {"result: -4\nDeviceHandle: none\nDevicePath: \nOutputReportLength: 0x00000000\n", "ProductId: 0x0000\n"}, {}, {}},
    {"identify_alien_skipped", {"--sim", "alien=1,others=2", "identify"}, 0,
     {"result: 0\n", "ProductId: 0x0002\n", "pid_0002"}, {}, {}},
    {"identify_dialpuck", {"--sim", "unit=dialpuck", "identify"}, 0, {"result: 0\n", "ProductId: 0x0001\n"}, {}, {}},
    {"identify_refused_info", {"--sim", "fail=info:refuse:5", "identify"}, 1,
     {"result: 5\n", "DeviceHandle: open\n", "ControllerState: 0x0003\n"}, {}, {}},
    {"identify_status_unwritten", {"--sim", "fail=status:write", "--trace", "identify"}, 1,
     {"result: -2\n"}, {}, {" > 01 08 00 00", " failed\n"}},
    {"identify_status_unread", {"--sim", "fail=status:read", "--trace", "identify"}, 1,
     {"result: -3\n"}, {}, {" < failed\n"}},

    // Bad command lines and scenarios: one line on stderr, exit 2, nothing on stdout.
    {"scenario_unknown_key", {"--sim", "bogus=1", "status"}, 2, {}, {"SETBOX"}, {"bogus"}},
    {"scenario_bad_value", {"--sim", "mode=300", "identify"}, 2, {}, {"result"}, {"mode"}},
    {"option_unknown", {"--sim", "", "--frobnicate", "status"}, 2, {}, {"SETBOX"}, {"--frobnicate"}},
    {"option_sim_without_scenario", {"status", "--sim"}, 2, {}, {}, {"--sim"}},
    {"option_bad_language", {"--sim", "", "--lang", "fr", "status"}, 2, {}, {}, {"'fr'"}},
    {"command_missing", {"--sim", ""}, 2, {}, {}, {"no command"}},
    {"command_unknown", {"--sim", "", "flash"}, 2, {}, {}, {"'flash'"}},
    {"command_twice", {"--sim", "", "status", "update"}, 2, {}, {}, {"one command"}},
    {"replay_with_sim", {"--sim", "", "--replay", "x.rec", "status"}, 2, {}, {}, {"--replay and --sim"}},
    {"record_unwritable", {"--sim", "", "--record", "no-such-folder/x.rec", "status"}, 2, {}, {},
     {"the record can't be written to 'no-such-folder/x.rec'"}},
    // Without --sim: the system's HID edge (hidraw, or Windows' HID stack under Wine), on a build
    // machine without a unit.
    {"native_no_unit", {"--lang", "en", "status"}, 4, {"programming unit: 0.0.0\n", "No programming unit was found"}, {}, {}},
    {"version", {"--version", "--bogus", "status"}, 0, {"velquor-flash 2.0.0", " (ESC firmware 1.25)\n"}, {"programming unit"}, {}},
    {"help", {"--help", "--bogus"}, 0,
     {"identify", "status", "update", "--sim SCENARIO", "--trace", "--yes", "--lang en|de", "--realtime",
      "fail=OP:KIND", "Exit status", "VELQUOR ORVANT QX FW Updater 1.25", "--record FILE", "--replay FILE",
      "\n  6  --replay: "},
     {}, {}},

    // list: every interface, and whether discovery takes it.
    {"list", {"--sim", "others=1,alien=1,second=1", "--lang", "en", "list"}, 0,
     {"vendor 0x16c0  product 0x05df  reports in/out 8/8\n    not taken: not a programming unit",
      "vendor 0x21b8  product 0x0003  reports in/out 9/9\n    not taken: not a programming unit",
      "vendor 0x21b8  product 0x0002  reports in/out 60/60\n    taken: the programming unit served",
      "vendor 0x21b8  product 0x0001  reports in/out 60/60\n    not taken: a programming unit, but only the first"},
     {}, {}},
    {"list_unfit_lengths", {"--sim", "inlen=40", "--lang", "en", "list"}, 0,
     {"reports in/out 40/60\n    taken, then refused: its report lengths don't fit"}, {}, {}},
    {"list_none", {"--sim", "unit=none", "--lang", "de", "list"}, 0, {"Das System zeigt keine HID-Schnittstelle."}, {}, {}},

    // watch: a fleet of controllers, one summary line each.
    {"watch_fleet", {"--sim", "fleet=3,fw=0x0100", "--lang", "en", "--yes", "watch"}, 0,
     {"ESC 0x110fa0d2  1.0 -> 1.25  updated\n", "--- Programming unit removed: "}, {"failed"}, {}},
    {"watch_fleet_failure", {"--sim", "fleet=2,fail=erase:refuse:9", "--lang", "de", "--yes", "watch"}, 1,
     {"Regler 0x110fa0d2  1.24 -> keine Firmware  fehlgeschlagen (0x00000009-0x00000000)\n"}, {"aktualisiert"}, {}},
    {"watch_without_yes_only_shows", {"--sim", "fleet=2", "--lang", "en", "watch"}, 0,
     {"--- Programming unit connected: ", kReady}, {"[important note]", "updated"}, {}},

    {"watch_leaves_up_to_date_alone", {"--sim", "fleet=2,fw=0x0119", "--lang", "en", "--yes", "watch"}, 0,
     {"ESC 0x110fa0d2  1.25 -> 1.25  up to date, left alone\n"}, {"[important note]", "updated"}, {}},
    {"watch_reinstall", {"--sim", "fleet=2,fw=0x0119", "--lang", "en", "--yes", "--reinstall", "watch"}, 0,
     {"ESC 0x110fa0d2  1.25 -> 1.25  updated\n", "[Newer firmware found.]"}, {"left alone"}, {}},
    // Events lost on the way: what is plugged in is read off the system's list instead.
    {"watch_lost_events", {"--sim", "fleet=3,fw=0x0100,lost=1", "--lang", "en", "--yes", "watch"}, 0,
     {"ESC 0x110fa0d2  1.0 -> 1.25  updated\n", "--- Programming unit removed: "}, {"failed"}, {}},

    // The closing commands, a unit in use.
    {"update_protect_on_refused", {"--sim", "fail=protect-on:refuse:5", "--lang", "en", "--yes", "update"}, 1,
     {"The new firmware was written, but the ESC could not be finished",
      "errorcode: 0x00000005-0x00000000", kFailureHint},
     {kSuccess}, {}},
    {"update_protect_on_unplugged", {"--sim", "unplug=protect-on", "--lang", "de", "--yes", "update"}, 1,
     {"Die neue Firmware wurde geschrieben, aber der Regler konnte nicht abgeschlossen werden"}, {}, {}},
    {"update_unlock_refused", {"--sim", "fail=unlock:refuse:3", "--lang", "en", "--yes", "update"}, 0,
     {kSuccess, "The programming unit stays locked until it is unplugged and plugged in again"}, {}, {}},
    {"status_unit_in_use", {"--sim", "busy=1", "--lang", "en", "status"}, 5, {"but another program is using it"}, {},
     {"velquor-flash: \\\\?\\hid#vid_21b8&pid_0002", ": in use by another program; nothing was sent to it."}},
    {"update_unit_in_use", {"--sim", "busy=1", "--lang", "de", "--yes", "update"}, 5, {},
     {"[important note]", "[Wichtiger Hinweis]"}, {"wird von einem anderen Programm verwendet"}},

    // What the dialog keeps to itself, said in one line.
    {"notice_ignored_controller", {"--sim", "type=0x0a0640fa", "--lang", "en", "status"}, 4,
     {"The ESC connected (type 0x0a0640fa) is one this updater leaves alone: nothing is changed on it.\n"}, {}, {}},
    {"notice_identification_result", {"--sim", "fail=identity:refuse:0x0e07", "--lang", "en", "update"}, 4,
     {"The programming unit was found but its identification ended with result 3591.\n"}, {}, {}},

    // German throughout: answers, progress words, estimates.
    {"german_update_words", {"--sim", "", "--lang", "de", "--yes", "update"}, 0,
     {"Antwort: OK (--yes)"}, {"Answer", "Cancel"}, {" 50 %  1024/2048 Blöcke  0:", " verbleibend\n", "100 %  2048/2048 Blöcke  0:48\n"}},
    {"german_declined", {"--sim", "", "--lang", "de", "update"}, 3,
     {"Antwort: Abbrechen (kein Terminal zum Fragen; --yes antwortet OK)"}, {"Answer"}, {}},

    // status: the panel and the hint, as the window shows them when it opens.
    {"status_ready_english", {"--sim", "", "--lang", "en", "status"}, 0,
     {"SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24\n\n" + kReady}, {"\r", kSteps}, {}},
    {"status_ready_german", {"--sim", "", "--lang", "de", "status"}, 0,
     {"SETBOX: 1.25\nRegler-Bootloader: 1.5\nRegler: 1.24\n\nAm USB Bus wurde eine Programmiereinheit",
      "Updatevorgangs"},
     {"\r"}, {}},
    {"status_dialpuck", {"--sim", "unit=dialpuck,fw=0xffff,boot=0x01000203", "--lang", "en", "status"}, 0,
     {"DIALPUCK: 1.25\nESC-bootloader: 1.2.3\nESC: ----------\n"}, {}, {}},
    {"status_no_unit", {"--sim", "unit=none", "--lang", "en", "status"}, 4,
     {"programming unit: 0.0.0\nESC-bootloader: 0.0.0\nESC: 0.0.0\n\n"
      "No programming unit was found on the USB Port. To update the ESC do the following:\n\n" + kSteps},
     {}, {}},
    {"status_wrong_mode", {"--sim", "mode=1", "--lang", "en", "status"}, 4,
     {"which is in the wrong mode", kSteps, "programming unit: 0.0.0\n"}, {}, {}},
    {"status_no_controller", {"--sim", "state=2", "--lang", "en", "status"}, 4, {"No updatable ESC connected."}, {}, {}},
    {"status_incompatible", {"--sim", "type=0x12345678", "--lang", "en", "status"}, 4,
     {"[ESC incompatible]\nWith this updater you can only update the firmware of VELQUOR ESCs with the type 'ORVANT QX'.",
      "The connected ESC is not compatible with this updater.", kSteps},
     {"Answer:"}, {}},
    {"status_ignored_controller", {"--sim", "type=0x0a0640fa", "--lang", "en", "status"}, 4,
     {"SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24\n"}, {kReady, kSteps}, {}},

    // update: every way it can end.
    {"update_confirmed", {"--sim", "", "--lang", "en", "--yes", "update"}, 0,
     {"[important note]\nIMPORTANT: Don't interrupt update process!", "Answer: OK (--yes)",
      "SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.25\n\n" + kSuccess},
     {"Newer firmware found.", "Update failed"},
     {"Firmware update in progress, please wait...\n", " 10 %  205/2048 blocks", "100 %  2048/2048 blocks"}},
    {"update_unattended_cancels", {"--sim", "", "--lang", "en", "update"}, 3,
     {"[important note]", "Answer: Cancel (no terminal to ask; --yes answers OK)", "ESC: 1.24\n\n" + kReady},
     {kSuccess, "Update failed"}, {}},
    {"update_same_version_asks", {"--sim", "fw=0x0119", "--lang", "en", "--yes", "update"}, 0,
     {"[Newer firmware found.]\nThe firmware version is older or the same", "Answer: Yes (--yes)", kSuccess}, {}, {}},
    {"update_same_version_unattended", {"--sim", "fw=0x0119", "--lang", "en", "update"}, 3,
     {"Answer: Cancel"}, {"Newer firmware found.", kSuccess}, {}},
    {"update_block_refused", {"--sim", "fail=block#5:refuse:7", "--lang", "en", "--yes", "update"}, 1,
     {"[Update failed!]\nError when writing last firmware data block. Update cancelled.\n"
      "The system shows following errorcode: 0x00000007-0x",
      "SETBOX: 0.0.0\nESC-bootloader: 0.0.0\nESC: 0.0.0\n\n" + kFailureHint},
     {kSuccess}, {}},
    {"update_erase_refused", {"--sim", "fail=erase:refuse:0x0e0a", "--lang", "en", "--yes", "update"}, 1,
     {"Error deleting old firmware.", "errorcode: 0x00000e0a-0x", kFailureHint}, {kSuccess}, {}},
    // A unit's code that looks like one of the link's own failures is still the unit's.
    {"update_erase_refused_all_ones", {"--sim", "fail=erase:refuse:0xffffffff", "--lang", "en", "--yes", "update"}, 1,
     {"Error deleting old firmware.", "errorcode: 0xffffffff-0x00000000", kFailureHint}, {kSuccess}, {}},
    {"update_lock_unwritten", {"--sim", "fail=lock:write", "--lang", "en", "--yes", "update"}, 1,
     {"System-Lock of programming unit couldn't be set.", "errorcode: 0xfffffffe-0x0000001f", kFailureHint}, {}, {}},
    {"update_german_failure", {"--sim", "fail=address:refuse:5", "--lang", "de", "--yes", "update"}, 1,
     {"[Update fehlgeschlagen!]", "Das System meldet Fehlercode 0x00000005-0x", "Das Update wurde aufgrund eines Fehlers"},
     {}, {}},
    {"update_without_unit", {"--sim", "unit=none", "--lang", "en", "--yes", "update"}, 4,
     {"No programming unit was found"}, {"[important note]", "Update failed"}, {}},
    {"update_incompatible", {"--sim", "type=0x140fa0ab", "--lang", "en", "--yes", "update"}, 4,
     {"[ESC incompatible]"}, {"[important note]"}, {}},
};

void PrintTo(const CliCase& c, std::ostream* out) { *out << c.Name; }

class CliCaseTest : public testing::TestWithParam<CliCase> {};

TEST_P(CliCaseTest, ExitStatusAndOutput)
{
    const CliCase& c = GetParam();
    FlashRun run = RunFlash(c.Args);
    EXPECT_EQ(run.Status, c.Status) << run.Out << run.Err;
    for (const std::string& piece : c.OutHas) EXPECT_TRUE(Contains(run.Out, piece)) << "stdout lacks: " << piece << "\n---\n" << run.Out;
    for (const std::string& piece : c.OutLacks) EXPECT_FALSE(Contains(run.Out, piece)) << "stdout has: " << piece << "\n---\n" << run.Out;
    for (const std::string& piece : c.ErrHas) EXPECT_TRUE(Contains(run.Err, piece)) << "stderr lacks: " << piece << "\n---\n" << run.Err;
    if (c.Status == 2) {
        // A refusal is one line, and nothing was done.
        EXPECT_EQ(Lines(run.Err).size(), 1u) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliCaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CliCase>& param) { return std::string(param.param.Name); });

// ---- Whole outputs and traces ----------------------------------------------------------------

TEST(CliIdentify, PrintsTheDefaultUnitsRecordInFieldOrder)
{
    char error[128];
    ASSERT_EQ(SimConfigure("", error, sizeof error), 0) << error;
    FlashRun run = RunFlash({"--sim", "", "identify"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, std::string("result: 0\n"
                                   "DeviceHandle: open\n"
                                   "DevicePath: ") + SimUnitPathAscii() +
                           "\n"
                           "OutputReportLength: 0x0000003c\n"
                           "InputReportLength: 0x0000003c\n"
                           "UnitMode: 0x00\n"
                           "UnitVersion: 0x00011900\n"
                           "UnitVersionExtra: 0x13572468\n"
                           "ControllerState: 0x0003\n"
                           "ControllerStateExtra: 0x0042\n"
                           "ModeInfoA: 0x00\n"
                           "ModeInfoB: 0x0000\n"
                           "ModeInfoC: 0x00000000\n"
                           "ModeInfoD: 0x00000000\n"
                           "ModeInfoE: 0x00\n"
                           "ControllerInfo: c0c1c2c31801c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf\n"
                           "ControllerIdentity: d2a00f11050100008889" "8a8b8c8d8e8f90919293"
                           "9495969798999a9b9c9d" "9e9fa0a1a2a3a4a5a6a7\n"
                           "ProductId: 0x0002\n");
    EXPECT_EQ(run.Err, "");
}

TEST(CliTrace, ListsTheThreeIdentificationExchangesByteForByte)
{
    FlashRun run = RunFlash({"--sim", "", "--trace", "identify"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    std::vector<TraceLine> trace = ParseTrace(run.Err);
    ASSERT_EQ(trace.size(), 6u) << run.Err;
    EXPECT_EQ(Lines(run.Err).size(), 6u) << "every stderr line is a trace line";

    const std::vector<uint8_t> requests[] = {
        Request({0x01, 0x08, 0x00}),
        Request({0x01, 0x1d, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xe0, 0xff, 0xff, 0xff}),
        Request({0x01, 0x22, 0x00}),
    };
    std::vector<uint8_t> status = Request({0x02, 0x08, 0x0c, 0x00, 0x03, 0x00, 0x42, 0x00, 0x00, 0x19, 0x01, 0x00,
                                           0x68, 0x24, 0x57, 0x13});
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(trace[2 * i].Direction, '>');
        EXPECT_EQ(trace[2 * i].Bytes, requests[i]);
        EXPECT_FALSE(trace[2 * i].Failed);
        EXPECT_EQ(trace[2 * i + 1].Direction, '<');
        EXPECT_EQ(trace[2 * i + 1].Bytes.size(), 60u);
        EXPECT_EQ(trace[2 * i + 1].Bytes[1], requests[i][1]);
        if (i > 0) {
            EXPECT_GE(trace[2 * i].Ms, trace[2 * i - 1].Ms);
        }
    }
    EXPECT_EQ(trace[1].Bytes, status);
    // The identity reply carries the type code 0x110fa0d2 little-endian in bytes 4..7.
    EXPECT_EQ(std::vector<uint8_t>(trace[5].Bytes.begin() + 4, trace[5].Bytes.begin() + 8),
              (std::vector<uint8_t>{0xd2, 0xa0, 0x0f, 0x11}));
    // The exact line shape: time, blank, direction, blank, bytes separated by single blanks.
    std::string statusLine = " > 01 08 00";
    for (int i = 3; i < 60; ++i) statusLine += " 00";
    std::string first = Lines(run.Err)[0];
    EXPECT_EQ(first.substr(first.find(' ')), statusLine);
}

TEST(CliTrace, ShowsTheUpdatesPaceOnTheClock)
{
    FlashRun run = RunFlash({"--sim", "", "--trace", "--yes", "update"});
    ASSERT_EQ(run.Status, 0) << run.Out;
    std::vector<TraceLine> trace = ParseTrace(run.Err);

    std::vector<uint64_t> blockTimes;
    size_t eraseRequest = trace.size();
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].Direction != '>' || trace[i].Bytes.size() < 2) continue;
        if (trace[i].Bytes[1] == 0x1b) blockTimes.push_back(trace[i].Ms);
        if (trace[i].Bytes[1] == 0x1e) eraseRequest = i;
    }
    ASSERT_EQ(blockTimes.size(), 2048u);
    for (size_t i = 1; i < blockTimes.size(); ++i) {
        ASSERT_GE(blockTimes[i] - blockTimes[i - 1], 20u) << "block " << i + 1;
    }

    // The erase: its reply read 1000 ms after the request, the next request 4000 + 20 ms later.
    ASSERT_LT(eraseRequest + 2, trace.size());
    const TraceLine& eraseReply = trace[eraseRequest + 1];
    const TraceLine& next = trace[eraseRequest + 2];
    EXPECT_EQ(eraseReply.Direction, '<');
    EXPECT_GE(eraseReply.Ms - trace[eraseRequest].Ms, 1000u);
    EXPECT_EQ(next.Bytes[1], 0x1f);  // the start address
    EXPECT_GE(next.Ms - eraseReply.Ms, 4020u);
}

TEST(CliTrace, NothingIsSentAfterADeclinedWarning)
{
    FlashRun run = RunFlash({"--sim", "", "--trace", "update"});
    ASSERT_EQ(run.Status, 3) << run.Out;
    std::vector<TraceLine> trace = ParseTrace(run.Err);
    ASSERT_EQ(trace.size(), 6u) << "identification only:\n" << run.Err;
}

TEST(CliTrace, AFailedBlockEndsTheTransfer)
{
    FlashRun run = RunFlash({"--sim", "fail=block#5:refuse:7", "--trace", "--yes", "update"});
    ASSERT_EQ(run.Status, 1) << run.Out;
    size_t blocks = 0, afterBlocks = 0;
    for (const TraceLine& line : ParseTrace(run.Err)) {
        if (line.Direction != '>') continue;
        if (line.Bytes[1] == 0x1b) {
            ++blocks;
        } else if (blocks > 0) {
            ++afterBlocks;
        }
    }
    EXPECT_EQ(blocks, 5u);
    EXPECT_EQ(afterBlocks, 0u) << "no closing command after a failure";
}

// ---- The language from the environment ---------------------------------------------------

struct LocaleCase {
    const char* LcAll;
    const char* LcMessages;
    const char* Lang;
    const char* Option;  // --lang value or null
    bool German;
};

TEST(CliLanguage, FollowsTheFirstNonEmptyLocaleVariableUnlessGiven)
{
    const LocaleCase cases[] = {
        {"de_DE.UTF-8", nullptr, nullptr, nullptr, true},
        {"", "", "de_DE.UTF-8", nullptr, true},
        {"", "en_US.UTF-8", "de_DE.UTF-8", nullptr, false},
        {"C", nullptr, "de_DE", nullptr, false},
        {nullptr, nullptr, nullptr, nullptr, false},
        {"de_DE.UTF-8", nullptr, nullptr, "en", false},
        {"en_GB.UTF-8", nullptr, nullptr, "de", true},
    };
    const char* saved[3];
    const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string keep[3];
    for (int i = 0; i < 3; ++i) {
        const char* value = std::getenv(names[i]);
        keep[i] = value != nullptr ? value : "";
        saved[i] = value != nullptr ? keep[i].c_str() : nullptr;
    }
    for (const LocaleCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "LC_ALL=" << (c.LcAll ? c.LcAll : "(unset)") << " LC_MESSAGES="
                                        << (c.LcMessages ? c.LcMessages : "(unset)") << " LANG="
                                        << (c.Lang ? c.Lang : "(unset)") << " --lang " << (c.Option ? c.Option : "-"));
        SetVariable("LC_ALL", c.LcAll);
        SetVariable("LC_MESSAGES", c.LcMessages);
        SetVariable("LANG", c.Lang);
        std::vector<std::string> args = {"--sim", ""};
        if (c.Option != nullptr) args.insert(args.end(), {"--lang", c.Option});
        args.push_back("status");
        FlashRun run = RunFlash(args);
        EXPECT_EQ(run.Status, 0);
        EXPECT_EQ(Contains(run.Out, "Regler: 1.24"), c.German) << run.Out;
        EXPECT_EQ(Contains(run.Out, "ESC: 1.24"), !c.German) << run.Out;
    }
    for (int i = 0; i < 3; ++i) SetVariable(names[i], saved[i]);
}

// A program whose carried image was damaged after the build (one byte of image 157 flipped in
// a copy of the built program) refuses before it sends anything, and says why.
TEST(CliImages, DamagedImageInsideTheProgramIsRefused)
{
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(LookupImage(157, &image, &size));
    std::string program = ReadWhole(ProgramPath(), true);
    size_t at = program.find(std::string(reinterpret_cast<const char*>(image), 256));
    ASSERT_NE(at, std::string::npos) << "image 157 is not inside the program";
    program[at + size / 2] = static_cast<char>(program[at + size / 2] ^ 0x01);
    std::string damaged = testing::TempDir() + "velquor_damaged" + ProgramSuffix();
    {
        std::ofstream out(damaged, std::ios::binary);
        out << program;
    }
    MakeExecutable(damaged);
    FlashRun run = RunProgram(damaged, {"--sim", "", "--trace", "--lang", "en", "--yes", "update"});
    std::remove(damaged.c_str());
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Out, "The firmware carried by this updater is damaged")) << run.Out;
    EXPECT_FALSE(Contains(run.Err, "> 01 0b 01 01")) << "no lock, nor any flash command";
}


// ---- Records: --record, --replay and the corpus in tests/records/ ---------------------------

// A path of the build machine as the program and this test see it (Wine: on drive Z:).
std::string HostPath(const std::string& path)
{
#if defined(_WIN32)
    if (!path.empty() && path[0] == '/') {
        std::string native = "Z:" + path;
        for (char& c : native) c = c == '/' ? '\\' : c;
        return native;
    }
#endif
    return path;
}

// A record file of this test process's own: CTest runs the cases as processes side by side.
std::string TempRecord(const std::string& name)
{
#if defined(_WIN32)
    const unsigned long process = _getpid();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    return testing::TempDir() + "velquor_" + std::to_string(process) + "_" + name + ".rec";
}

void WriteWhole(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::vector<uint8_t>> TracedRequests(const std::string& err)
{
    std::vector<std::vector<uint8_t>> requests;
    for (const TraceLine& line : ParseTrace(err)) {
        if (line.Direction == '>') requests.push_back(line.Bytes);
    }
    return requests;
}

// stdout without what names the interface (the replay's unit is called "replay").
std::string WithoutPaths(const std::string& out)
{
    std::string kept;
    for (const std::string& line : Lines(out)) {
        if (Contains(line, "DevicePath:")) continue;
        kept += line.compare(0, 4, "--- ") == 0 ? line.substr(0, line.find(": ")) : line;
        kept += "\n";
    }
    return kept;
}

struct RecordReplayCase {
    const char* Name;
    const char* Scenario;
    std::vector<std::string> Args;
    int Status;
};

const RecordReplayCase kRecordReplayCases[] = {
    {"identify", "", {"identify"}, 0},
    {"update", "", {"--yes", "update"}, 0},
    {"refused_block", "fail=block#5:refuse:7", {"--yes", "update"}, 1},
    {"silent_unit", "fail=status:hang", {"identify"}, 1},
    {"unplugged_mid_transfer", "unplug=block#100", {"--yes", "update"}, 1},
    {"own_report_then_unread_reply", "extra=block#3,fail=protect-on:read", {"--yes", "update"}, 1},
    {"declined", "", {"update"}, 3},
    {"no_unit", "unit=none", {"status"}, 4},
    {"watch_arrivals_and_removals", "fleet=2,fw=0x0119", {"--yes", "watch"}, 0},
};

void PrintTo(const RecordReplayCase& c, std::ostream* out) { *out << c.Name; }

class RecordReplayTest : public testing::TestWithParam<RecordReplayCase> {};

// What a run on the simulated unit recorded, replayed: the same output, the same requests in the
// same order, the same exit status, and no difference found.
TEST_P(RecordReplayTest, ReplaysToTheSameOutputRequestsAndStatus)
{
    const RecordReplayCase& c = GetParam();
    std::string record = TempRecord(c.Name);
    std::vector<std::string> recordArgs = {"--sim", c.Scenario, "--trace", "--lang", "en", "--record", record};
    std::vector<std::string> replayArgs = {"--replay", record, "--trace", "--lang", "en"};
    recordArgs.insert(recordArgs.end(), c.Args.begin(), c.Args.end());
    replayArgs.insert(replayArgs.end(), c.Args.begin(), c.Args.end());
    FlashRun recorded = RunFlash(recordArgs);
    FlashRun replayed = RunFlash(replayArgs);
    std::string text = ReadWhole(record, true);
    std::remove(record.c_str());
    EXPECT_TRUE(Contains(text, std::string("\nfront-end velquor-flash") + ProgramSuffix() + "\nedge sim\nscenario "))
        << text.substr(0, 200);
    EXPECT_EQ(recorded.Status, c.Status) << recorded.Err;
    EXPECT_EQ(replayed.Status, c.Status) << replayed.Err;
    EXPECT_FALSE(Contains(replayed.Err, "replay stopped")) << replayed.Err;
    EXPECT_EQ(WithoutPaths(replayed.Out), WithoutPaths(recorded.Out));
    EXPECT_EQ(TracedRequests(replayed.Err), TracedRequests(recorded.Err));
    EXPECT_EQ(ParseTrace(replayed.Err).size(), ParseTrace(recorded.Err).size());
}

INSTANTIATE_TEST_SUITE_P(Records, RecordReplayTest, testing::ValuesIn(kRecordReplayCases),
                         [](const testing::TestParamInfo<RecordReplayCase>& param) { return std::string(param.param.Name); });

// A record of a refused fifth block (made once per test run), changed one way or another.
const std::string& RefusedBlockRecord()
{
    static std::string text;
    if (text.empty()) {
        std::string path = TempRecord("refused_block_source");
        RunFlash({"--sim", "fail=block#5:refuse:7", "--record", path, "--yes", "update"});
        text = ReadWhole(path, true);
        std::remove(path.c_str());
    }
    return text;
}

// The offset of the start of line `number` (from 1), and of the n-th line holding `piece`.
size_t LineStart(const std::string& text, size_t number)
{
    size_t at = 0;
    for (size_t line = 1; line < number && at != std::string::npos; ++line) at = text.find('\n', at) + 1;
    return at;
}
size_t NthLineWith(const std::string& text, const std::string& piece, int n, size_t* lineNumber)
{
    size_t line = 1;
    for (size_t start = 0; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.substr(start, end - start).find(piece) != std::string::npos && --n == 0) {
            *lineNumber = line;
            return start;
        }
        start = end + 1;
    }
    return std::string::npos;
}

struct ChangedRecordCase {
    const char* Name;
    std::string (*Change)(const std::string& text, std::string* expected);  // the record, and the message expected
    std::vector<std::string> Args;
    int Status;
};

const ChangedRecordCase kChangedRecords[] = {
    // Request #12, the fifth block: its byte 4 changed in the record.
    {"request_edited",
     [](const std::string& text, std::string* expected) {
         size_t line = 0;
         size_t at = NthLineWith(text, " > 01 1b ", 5, &line);
         size_t byte = text.find(" > ", at) + 3 + 4 * 3;
         std::string changed = text;
         std::string sent = changed.substr(byte, 2);
         changed.replace(byte, 2, sent == "5a" ? "5b" : "5a");
         *expected = "replay stopped: request #12 (line " + std::to_string(line) + ", step block #5) differs from the "
                     "record at byte 4: the record has 0x" + changed.substr(byte, 2) + ", the program sent 0x" + sent;
         return changed;
     },
     {"--yes", "update"}, 6},
    // The refusal's code changed: the replay fails with the new code, which is not the outcome recorded.
    {"outcome_differs",
     [](const std::string& text, std::string* expected) {
         std::string changed = text;
         size_t at = changed.rfind("outcome failure block 0x00000007");
         changed.replace(at + 31, 1, "8");
         *expected = "the update ended 'failure block 0x00000007-0x00000000 firmware none', the record holds "
                     "'failure block 0x00000008-0x00000000 firmware none'";
         return changed;
     },
     {"--yes", "update"}, 6},
    {"cut_at_a_line_end",
     [](const std::string& text, std::string* expected) {
         size_t line = 0;
         size_t at = NthLineWith(text, " > 01 1b ", 2, &line);
         *expected = "replay stopped: the program sent request #9 (step block #2) where the record holds its end (line " +
                     std::to_string(line - 1) + ")";
         return text.substr(0, at);
     },
     {"--yes", "update"}, 6},
    // The record holds one block more than the program sends.
    {"request_left_unsent",
     [](const std::string& text, std::string* expected) {
         size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
         size_t at = text.rfind('\n', text.rfind(" > 01 1b ")) + 1;
         std::string block = text.substr(at, text.find('\n', at) + 1 - at);
         *expected = "replay stopped: the program ended before request #13 (line " + std::to_string(lines + 1) +
                     ", step block #6)";
         return text + block;
     },
     {"--yes", "update"}, 6},
    {"crlf_line_ends",
     [](const std::string& text, std::string* expected) {
         std::string changed;
         for (char c : text) changed += c == '\n' ? std::string("\r\n") : std::string(1, c);
         *expected = "";
         return changed;
     },
     {"--yes", "update"}, 1},
    {"comments_of_a_maintainer",
     [](const std::string& text, std::string* expected) {
         *expected = "";
         return "# sent by a modeller: block 5 refused\n" + text.substr(0, LineStart(text, 12)) + "# here\n\n" +
                text.substr(LineStart(text, 12));
     },
     {"--yes", "update"}, 1},
    // The page's log: its own command and the browser's line, replayed with any command.
    {"a_page_log",
     [](const std::string& text, std::string* expected) {
         *expected = "";
         size_t command = text.find("\ncommand update\n");
         return text.substr(0, command) + "\ncommand page\nbrowser Mozilla/5.0 (X11; Linux x86_64) Chrome/120\n" +
                text.substr(command + 16);
     },
     {"--yes", "update"}, 1},
    {"cut_in_mid_line",
     [](const std::string& text, std::string* expected) {
         *expected = "line 11: the record ends in the middle of this line (it was cut off)";
         return text.substr(0, LineStart(text, 11) + 20);
     },
     {"--yes", "update"}, 2},
    {"garbled_byte",
     [](const std::string& text, std::string* expected) {
         std::string changed = text;
         changed.replace(text.find(" < ", LineStart(text, 10)) + 6, 2, "zz");
         *expected = "line 10: expected a report's bytes (two hex digits each) or 'failed', found 'zz'";
         return changed;
     },
     {"--yes", "update"}, 2},
    {"short_report",
     [](const std::string& text, std::string* expected) {
         *expected = "line 9: a report of 3 bytes; the unit's output reports have 60";
         return text.substr(0, LineStart(text, 9)) + "1 > 01 08 00\n" + text.substr(LineStart(text, 10));
     },
     {"--yes", "update"}, 2},
    {"header_key_missing",
     [](const std::string& text, std::string* expected) {
         *expected = "line 3: expected 'firmware <version>', found 'front-end velquor-flash";
         return text.substr(0, LineStart(text, 3)) + text.substr(LineStart(text, 4));
     },
     {"--yes", "update"}, 2},
    {"another_version",
     [](const std::string& text, std::string* expected) {
         *expected = "line 1: a record of format version 2; this program reads version 1";
         return "velquor-record 2" + text.substr(text.find('\n'));
     },
     {"--yes", "update"}, 2},
    {"not_a_record",
     [](const std::string&, std::string* expected) {
         *expected = "line 1: expected 'velquor-record 1' (this is no record), found 'PK";
         return std::string("PK\x03\x04 an archive\n");
     },
     {"--yes", "update"}, 2},
    {"empty",
     [](const std::string&, std::string* expected) {
         *expected = "the record is empty";
         return std::string();
     },
     {"--yes", "update"}, 2},
    {"another_command",
     [](const std::string& text, std::string* expected) {
         *expected = "is a record of 'update': replay it with that command";
         return text;
     },
     {"identify"}, 2},
};

void PrintTo(const ChangedRecordCase& c, std::ostream* out) { *out << c.Name; }

class ChangedRecordTest : public testing::TestWithParam<ChangedRecordCase> {};

TEST_P(ChangedRecordTest, StopsWithItsOwnStatusAndSaysWhere)
{
    const ChangedRecordCase& c = GetParam();
    ASSERT_FALSE(RefusedBlockRecord().empty());
    std::string expected;
    std::string record = TempRecord(c.Name);
    WriteWhole(record, c.Change(RefusedBlockRecord(), &expected));
    std::vector<std::string> args = {"--replay", record, "--lang", "en"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    FlashRun run = RunFlash(args);
    std::remove(record.c_str());
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_TRUE(Contains(run.Err, expected)) << "stderr lacks: " << expected << "\n---\n" << run.Err;
    // Replayed to its end, the record's failure is told with its codes; stopped, no success is.
    if (c.Status == 1) {
        EXPECT_TRUE(Contains(run.Out, "errorcode: 0x00000007-0x00000000")) << run.Out;
    }
    EXPECT_FALSE(Contains(run.Out, "successful")) << run.Out;
}

INSTANTIATE_TEST_SUITE_P(Records, ChangedRecordTest, testing::ValuesIn(kChangedRecords),
                         [](const testing::TestParamInfo<ChangedRecordCase>& param) { return std::string(param.param.Name); });

TEST(Replay, AMissingRecordIsNamed)
{
    FlashRun run = RunFlash({"--replay", TempRecord("never_written"), "identify"});
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(Contains(run.Err, "_never_written.rec' can't be opened")) << run.Err;
}

// The corpus: every record in tests/records/ replays with the arguments and to the exit status
// its last line names ("# replay ARGS status N"), without a difference.
std::vector<std::string> CorpusRecords()
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(HostPath(VELQUOR_RECORDS_DIR), error)) {
        if (entry.path().extension() == ".rec") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CorpusTest : public testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, ReplaysToItsRecordedStatus)
{
    std::string path = HostPath(std::string(VELQUOR_RECORDS_DIR) + "/" + GetParam() + ".rec");
    std::string text = ReadWhole(path, true);
    size_t note = text.rfind("\n# replay ");
    ASSERT_NE(note, std::string::npos) << path << " has no line '# replay ARGS status N'";
    std::istringstream words(text.substr(note + 10, text.find('\n', note + 1) - note - 10));
    std::vector<std::string> args = {"--replay", path};
    std::string word;
    int status = -1;
    while (words >> word) {
        if (word == "status") {
            words >> status;
        } else {
            args.push_back(word);
        }
    }
    FlashRun run = RunFlash(args);
    EXPECT_EQ(run.Status, status) << run.Err;
    EXPECT_FALSE(Contains(run.Err, "replay stopped")) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(Records, CorpusTest, testing::ValuesIn(CorpusRecords()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// The corpus holds the simulated unit's cases, three records made on hidraw in the VM (against
// the uhid unit), whose header carries the report descriptor the kernel read, two made by
// velquor-flash.exe on Wine's HID stack (against the virtual SETBOX), which shows none, and the
// window's log of a visit with an update there.
TEST(Corpus, HoldsTheSimulatedUnitsCasesAndRecordsMadeOnHidrawAndWindows)
{
    std::vector<std::string> names = CorpusRecords();
    for (const char* name : {"sim-identify", "sim-update", "sim-refused-block", "sim-silent-unit", "sim-unplug",
                             "hidraw-update", "hidraw-refused-block", "hidraw-watch", "win32-flash-update",
                             "win32-flash-refused-block", "win32-window-update"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    const struct {
        const char* Name;
        const char* Edge;
        bool Descriptor;  // the report descriptor follows the unit's line
    } kRealStacks[] = {
        {"hidraw-update", "\nfront-end velquor-flash\nedge hidraw\n", true},
        {"hidraw-refused-block", "\nfront-end velquor-flash\nedge hidraw\n", true},
        {"hidraw-watch", "\nfront-end velquor-flash\nedge hidraw\n", true},
        {"win32-flash-update", "\nfront-end velquor-flash.exe\nedge win32\n", false},
        {"win32-flash-refused-block", "\nfront-end velquor-flash.exe\nedge win32\n", false},
        {"win32-window-update", "\nfront-end VelquorUpdater\nedge win32\ncommand window\n", false},
    };
    for (const auto& record : kRealStacks) {
        std::string text = ReadWhole(HostPath(std::string(VELQUOR_RECORDS_DIR) + "/" + record.Name + ".rec"), true);
        EXPECT_TRUE(Contains(text, record.Edge)) << record.Name;
        EXPECT_TRUE(Contains(text, "\nunit 21b8:0002 input 60 output 60\n")) << record.Name;
        EXPECT_EQ(Contains(text, "\nunit 21b8:0002 input 60 output 60\ndescriptor 06 "), record.Descriptor) << record.Name;
        EXPECT_EQ(Contains(text, "\ndescriptor "), record.Descriptor) << record.Name;
    }
}

}  // namespace
