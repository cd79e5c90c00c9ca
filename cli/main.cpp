// velquor-flash: the updater on the terminal. Reads the command line, picks the language, the
// HID edge (the simulated unit under --sim, traced under --trace) and the terminal screen, and
// runs the command.
#include <cstdio>
#include <cstdlib>

#include "app/texts.h"
#include "app/ui_platform.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/native_hid.h"
#include "cli/terminal.h"
#include "cli/terminal_texts.h"
#include "cli/terminal_ui.h"
#include "cli/trace.h"
#include "link/device_link.h"
#include "sim/sim_unit.h"

namespace {

constexpr uint32_t MESSAGE_SIZE = 256;

const char* ReadEnvironment(const char* name) { return std::getenv(name); }

uint64_t HidClock() { return g_Hid->Milliseconds(); }

}  // namespace

int main(int argc, char** argv)
{
    CliOptions options;
    char message[MESSAGE_SIZE];
    if (ParseCommandLine(argc, argv, &options, message, MESSAGE_SIZE) != 0) {
        std::fprintf(stderr, "velquor-flash: %s\n", message);
        return EXIT_USAGE;
    }
    if (options.Help) {
        PrintHelp(stdout);
        return EXIT_DONE;
    }
    if (options.Version) {
        PrintVersion(stdout);
        return EXIT_DONE;
    }

    SetTextLanguage(ChooseLanguage(options, ReadEnvironment));
    UseUtf8Terminal();
    StartInterruptHandling(TerminalText(TT_INTERRUPT_WARNING), TerminalText(TT_INTERRUPTED_MID_TRANSFER),
                           TerminalText(TT_SIGNAL_HELD));

    const HidPlatform* hid = &kSimHidPlatform;
    if (options.Scenario == nullptr) {
        hid = NativeHidPlatform();
        if (hid == nullptr) {
            std::fputs("velquor-flash: this build has no USB back end yet; use --sim SCENARIO (see --help)\n", stderr);
            return EXIT_USAGE;
        }
    } else {
        if (SimConfigure(options.Scenario, message, MESSAGE_SIZE) != 0) {
            std::fprintf(stderr, "velquor-flash: %s\n", message);
            return EXIT_USAGE;
        }
        SimSetRealtime(options.Realtime);
    }
    if (options.Trace) {
        StartTrace(hid, stderr);
        hid = &kTraceHidPlatform;
    }
    SelectHidPlatform(hid);

    BoxAnswering answering = BOX_ANSWER_DECLINE;
    if (options.Yes) {
        answering = BOX_ANSWER_CONFIRM;
    } else if (IsTerminal(stdin)) {
        answering = BOX_ANSWER_ASK;
    }
    TerminalUiSettings settings = {answering, IsTerminal(stderr) ? PROGRESS_BAR : PROGRESS_STEPS,
                                   stdout, stderr, stdin, HidClock};
    StartTerminalUi(settings);
    SelectUiPlatform(&kTerminalUi);

    int status = EXIT_USAGE;
    switch (options.Command) {
    case COMMAND_LIST: status = RunList(stdout); break;
    case COMMAND_IDENTIFY: status = RunIdentify(stdout); break;
    case COMMAND_STATUS: status = RunStatus(stdout); break;
    case COMMAND_UPDATE: status = RunUpdate(stdout); break;
    case COMMAND_WATCH: {
        const DeviceEvents* events = options.Scenario != nullptr ? &kSimDeviceEvents : NativeDeviceEvents();
        status = RunWatch(stdout, events, options.Yes, options.Reinstall);
        break;
    }
    case COMMAND_NONE: break;
    }
    // A unit that is there but may not be opened is no "no unit": say what stands in the way.
    // (watch says it at every arrival.)
    if (options.Scenario == nullptr && status != EXIT_DONE && options.Command != COMMAND_WATCH)
        TellUnitRefusedByPermission();
    return status;
}
