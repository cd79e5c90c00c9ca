// The update's progress on the taskbar button (taskbar_win32.h).
#include "platform/win32/taskbar_win32.h"

#include <shobjidl.h>

#include <cstdio>

namespace {

struct TaskbarButton {
    bool Asked;               // COM and the interface were asked for
    bool ComStarted;          // CoInitializeEx succeeded here: CoUninitialize at the end
    ITaskbarList3* Taskbar;   // null where the system has none
    TaskbarProgress Shown;
    uint32_t Percent;
};

TaskbarButton g_Button = {false, false, nullptr, TASKBAR_NONE, 0};
void (*g_Observer)(const char* line) = nullptr;

ITaskbarList3* Taskbar()
{
    if (!g_Button.Asked) {
        g_Button.Asked = true;
        g_Button.ComStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        void* taskbar = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &taskbar))) {
            g_Button.Taskbar = static_cast<ITaskbarList3*>(taskbar);
            if (FAILED(g_Button.Taskbar->HrInit())) {
                g_Button.Taskbar->Release();
                g_Button.Taskbar = nullptr;
            }
        }
    }
    return g_Button.Taskbar;
}

}  // namespace

void ShowTaskbarProgress(HWND window, TaskbarProgress state, uint32_t percent)
{
    if (state != TASKBAR_NORMAL) percent = g_Button.Percent;
    if (percent > 100) percent = 100;
    if (state == g_Button.Shown && percent == g_Button.Percent) return;
    const bool stateChanged = state != g_Button.Shown;
    g_Button.Shown = state;
    g_Button.Percent = state == TASKBAR_NONE ? 0 : percent;

    if (g_Observer != nullptr) {
        char line[32];
        switch (state) {
        case TASKBAR_NONE: std::snprintf(line, sizeof line, "none"); break;
        case TASKBAR_INDETERMINATE: std::snprintf(line, sizeof line, "indeterminate"); break;
        case TASKBAR_NORMAL: std::snprintf(line, sizeof line, "normal %u", static_cast<unsigned>(percent)); break;
        case TASKBAR_ERROR: std::snprintf(line, sizeof line, "error"); break;
        }
        g_Observer(line);
    }

    ITaskbarList3* taskbar = Taskbar();
    if (taskbar == nullptr) return;
    static const TBPFLAG kFlags[4] = {TBPF_NOPROGRESS, TBPF_INDETERMINATE, TBPF_NORMAL, TBPF_ERROR};
    if (stateChanged) taskbar->SetProgressState(window, kFlags[state]);
    if (state == TASKBAR_NORMAL) taskbar->SetProgressValue(window, percent, 100);
}

void EndTaskbarProgress()
{
    if (g_Button.Taskbar != nullptr) g_Button.Taskbar->Release();
    if (g_Button.ComStarted) CoUninitialize();
    g_Button = {false, false, nullptr, TASKBAR_NONE, 0};
}

void SetTaskbarObserver(void (*observer)(const char* line)) { g_Observer = observer; }
