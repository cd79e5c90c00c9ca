// VelquorUpdaterSim.exe: the same program on the simulated programming unit, for demonstrations
// and tests. The scenario comes from the environment variable VELQUOR_SIM (empty: every default).
// VELQUOR_SIM_REALTIME=1 makes the simulator's pauses take real time, as they do on a real unit
// (an update then takes about 46 s); otherwise they run on its virtual clock and pass at once.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32/dialog_win32.h"
#include "sim/sim_unit.h"

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
    const DialogHidEdge edge = {&kSimHidPlatform, "VelquorUpdaterSim", "sim", scenario != nullptr ? scenario : "",
                                nullptr, nullptr};
    return RunUpdaterDialog(instance, edge, nullptr);
}
