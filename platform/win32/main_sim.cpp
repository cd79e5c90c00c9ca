// VelquorUpdaterSim.exe: the same program on the simulated programming unit, for demonstrations
// and tests. The scenario comes from the environment variable VELQUOR_SIM (empty: every default).
// VELQUOR_SIM_REALTIME=1 makes the simulator's pauses take real time, as they do on a real unit
// (an update then takes about 46 s); otherwise they run on its virtual clock and pass at once.
// VELQUOR_TASKBAR_LOG names a file into which every change of the taskbar button's progress is
// written, one line each, as the edge sends it to the system (taskbar_win32.h), for the tests.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/dialog_win32.h"
#include "platform/win32/taskbar_win32.h"
#include "record/record_format.h"
#include "sim/sim_unit.h"

namespace {

FILE* g_TaskbarLog = nullptr;

void LogTaskbarChange(const char* line)
{
    std::fprintf(g_TaskbarLog, "%s\n", line);
    std::fflush(g_TaskbarLog);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    const char* scenario = std::getenv("VELQUOR_SIM");
    char error[256];
    if (SimSelect(scenario != nullptr ? scenario : "", error, sizeof error) != 0) {
        MessageBoxA(nullptr, error, "VELQUOR_SIM", MB_ICONERROR | MB_OK);
        return 2;
    }
    const char* realtime = std::getenv("VELQUOR_SIM_REALTIME");
    SimSetRealtime(realtime != nullptr && std::strcmp(realtime, "1") == 0);
    const char* taskbarLog = std::getenv("VELQUOR_TASKBAR_LOG");
    if (taskbarLog != nullptr && taskbarLog[0] != '\0') {
        g_TaskbarLog = std::fopen(taskbarLog, "wb");
        if (g_TaskbarLog == nullptr) {
            MessageBoxA(nullptr, taskbarLog, "VELQUOR_TASKBAR_LOG can't be written", MB_ICONERROR | MB_OK);
            return 2;
        }
        SetTaskbarObserver(LogTaskbarChange);
    }
    const DialogHidEdge edge = {&kSimHidPlatform, RECORD_FRONT_END_WINDOW_SIM, RecordEdgeName(RECORD_EDGE_SIM),
                                scenario != nullptr ? scenario : "",
                                nullptr, nullptr};
    int result = RunUpdaterDialog(instance, edge, nullptr);
    if (g_TaskbarLog != nullptr) std::fclose(g_TaskbarLog);
    return result;
}
