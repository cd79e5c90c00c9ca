// velquor-flash on a terminal of its own (POSIX): a narrow terminal gets one line per redraw,
// also one narrowed mid-way; Ctrl-C during the transfer warns first, while outside it ends the
// program at once; SIGHUP and SIGTERM wait for the flash commands, a closed pipe stops nothing.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ReadWhole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The terminal cells of a UTF-8 text.
size_t Cells(const std::string& text)
{
    size_t cells = 0;
    for (unsigned char c : text) cells += (c & 0xC0) != 0x80 ? 1 : 0;
    return cells;
}

TEST(CliTerminal, NarrowTerminalsGetOneLinePerRedraw)
{
    for (int columns : {20, 40, 100}) {
        SCOPED_TRACE(columns);
        std::string out = testing::TempDir() + "velquor_narrow.txt";
        // script(1) gives the program a terminal of the width that stty sets.
        std::string command = "script -qec \"stty cols " + std::to_string(columns) + " rows 20; " VELQUOR_FLASH_EXE
                              " --sim '' --lang de --yes update\" /dev/null >" + out + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::string screen = ReadWhole(out);
        size_t redraws = 0, bars = 0;
        std::string line;
        for (char c : screen + "\n") {
            if (c != '\r' && c != '\n') {
                line += c;
                continue;
            }
            if (line.find(" %  ") != std::string::npos) {
                ++redraws;
                EXPECT_LE(Cells(line), static_cast<size_t>(columns - 1)) << line;
                bars += line.rfind("[", 0) == 0 ? 1 : 0;
            }
            line.clear();
        }
        EXPECT_GE(redraws, 2048u);
        if (columns == 20) {
            EXPECT_EQ(bars, 0u) << "no room for a bar";
        } else if (columns == 100) {
            EXPECT_EQ(bars, redraws) << "room for the bar on every line";
        }
    }
}

struct Child {
    pid_t Pid;
    std::string ErrPath;
};

Child Start(const std::string& arguments)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    Child child = {0, testing::TempDir() + "velquor_" + test->name() + ".err"};
    std::remove(child.ErrPath.c_str());
    std::string command = "exec " VELQUOR_FLASH_EXE " " + arguments + " >/dev/null 2>" + child.ErrPath + " </dev/null";
    child.Pid = fork();
    if (child.Pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

bool WaitFor(const Child& child, const std::string& piece, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadWhole(child.ErrPath).find(piece) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The exit status, or -1 when the child is still running after `limit`.
int ExitWithin(const Child& child, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child.Pid, &status, WNOHANG) == child.Pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

void Stop(const Child& child)
{
    kill(child.Pid, SIGKILL);
    waitpid(child.Pid, nullptr, 0);
}

TEST(CliTerminal, InterruptDuringTheTransferWarnsThenStopsOnTheSecond)
{
    // In real time, so that the erase's pause leaves room; the lock's trace line says the
    // flash commands have begun.
    Child child = Start("--sim '' --realtime --trace --lang en --yes update");
    ASSERT_TRUE(WaitFor(child, "> 01 0b 01 01", std::chrono::seconds(10)));
    kill(child.Pid, SIGINT);
    EXPECT_TRUE(WaitFor(child, "Stopping now leaves the ESC without firmware.", std::chrono::seconds(5)));
    EXPECT_EQ(ExitWithin(child, std::chrono::milliseconds(300)), -1) << "the first interrupt only warns";
    kill(child.Pid, SIGINT);
    int status = ExitWithin(child, std::chrono::seconds(5));
    if (status == -1) Stop(child);
    EXPECT_EQ(status, 130);
    EXPECT_NE(ReadWhole(child.ErrPath).find("Stopped during the update"), std::string::npos);
}

TEST(CliTerminal, InterruptOutsideTheTransferEndsAtOnce)
{
    // The unit never answers its status request: the wait would last 15 s.
    Child child = Start("--sim 'fail=status:hang' --realtime --trace --lang de status");
    ASSERT_TRUE(WaitFor(child, "> 01 08", std::chrono::seconds(10)));
    kill(child.Pid, SIGINT);
    int status = ExitWithin(child, std::chrono::seconds(3));
    if (status == -1) Stop(child);
    EXPECT_EQ(status, 130);
    EXPECT_EQ(ReadWhole(child.ErrPath).find("Strg-C"), std::string::npos) << "no warning outside the transfer";
}

TEST(CliTerminal, LineStaysWithinATerminalNarrowedDuringTheTransfer)
{
    std::string out = testing::TempDir() + "velquor_resized.txt";
    // 100 columns, narrowed to 30 while the blocks go out (the erase's pause ends after 5 s);
    // the refused 150th block ends the transfer about 3 s later.
    std::string command = "script -qec \"stty cols 100 rows 20; (sleep 6.5; stty cols 30 </dev/tty) & " VELQUOR_FLASH_EXE
                          " --sim 'fail=block#150:refuse:7' --realtime --lang en --yes update; wait\" /dev/null >" +
                          out + " 2>&1";
    std::system(command.c_str());
    std::string screen = ReadWhole(out);
    std::string line;
    size_t wide = 0, narrow = 0;
    for (char c : screen + "\n") {
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (line.find(" %  ") != std::string::npos) {
            // 100 columns leave room for the bar, 30 do not.
            if (line.rfind("[", 0) == 0) {
                ++wide;
            } else {
                ++narrow;
                EXPECT_LE(Cells(line), 29u) << "'" << line << "'";
            }
        }
        line.clear();
    }
    EXPECT_GT(wide, 0u);
    EXPECT_GT(narrow, 0u) << "the terminal was narrowed during the transfer";
}

// SIGHUP and SIGTERM during the flash commands are held until they end (here: at the refused
// erase, 5 s in); the exit status then says which came. A closed output stops nothing either:
// the status is the update's own.
TEST(CliTerminal, HangUpAndTerminationWaitForTheFlashCommandsAndPipesNeverStopThem)
{
    const struct {
        int Signal;
        int Status;
        const char* Name;
    } kCases[] = {{SIGHUP, 129, "SIGHUP received"}, {SIGTERM, 143, "SIGTERM received"}};
    std::vector<std::pair<pid_t, std::string>> children;
    for (const auto& c : kCases) {
        std::string err = testing::TempDir() + "velquor_held_" + std::to_string(c.Signal) + ".err";
        std::remove(err.c_str());
        std::string command = "exec " VELQUOR_FLASH_EXE " --sim 'fail=erase:refuse:9' --realtime --trace --lang en "
                              "--yes update >/dev/null 2>" + err + " </dev/null";
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back({pid, err});
    }
    for (size_t i = 0; i < children.size(); ++i) {
        Child child = {children[i].first, children[i].second};
        ASSERT_TRUE(WaitFor(child, "> 01 0b 01 01", std::chrono::seconds(10)));
        kill(child.Pid, kCases[i].Signal);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (const auto& child : children) EXPECT_EQ(waitpid(child.first, nullptr, WNOHANG), 0) << "held while the ESC is written";
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(kCases[i].Name);
        Child child = {children[i].first, children[i].second};
        int status = ExitWithin(child, std::chrono::seconds(10));
        if (status == -1) Stop(child);
        EXPECT_EQ(status, kCases[i].Status);
        std::string err = ReadWhole(child.ErrPath);
        EXPECT_NE(err.find(kCases[i].Name), std::string::npos) << err;
        EXPECT_NE(err.find("< 02 ff"), std::string::npos) << "the erase's refusal was read";
    }

    // The reader of the output ends after one line; the update goes on and fails as it would.
    std::string statusFile = testing::TempDir() + "velquor_pipe.status";
    std::remove(statusFile.c_str());
    std::string command = "sh -c '" VELQUOR_FLASH_EXE " --sim fail=erase:refuse:9 --realtime --lang en --yes update "
                          "2>&1; echo $? >" + statusFile + "' | head -n 1 >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadWhole(statusFile), "1\n") << "the update's own status, not 141";
}

}  // namespace
