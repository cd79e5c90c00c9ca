// How long a whole update takes on the simulated unit, in real time (the unit's pauses run on
// its virtual clock). Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>

#include "app/app.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"
#include "sim/sim_unit.h"
#include "tests/support/recording_ui.h"

int main()
{
    constexpr int RUNS = 50;
    double fastest = 1e9, total = 0;
    for (int run = 0; run < RUNS; ++run) {
        RecordingUi ui;
        StartRecording(&ui);
        char error[128];
        if (SimSelect("", error, sizeof error) != 0) return 1;
        MainDialogInit(TEST_MAIN_WINDOW);
        auto start = std::chrono::steady_clock::now();
        MainDialogCommand(IDC_UPDATE);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (ControlText(IDC_HINTBOX) != "The update of the ESC was successful!") return 1;
        total += ms;
        if (ms < fastest) fastest = ms;
        CloseLink();
    }
    std::printf("whole update, 2048 blocks, simulated unit: fastest %.3f ms, mean %.3f ms over %d runs "
                "(%llu ms on the unit's clock)\n",
                fastest, total / RUNS, RUNS, static_cast<unsigned long long>(SimNow()));
    return 0;
}
