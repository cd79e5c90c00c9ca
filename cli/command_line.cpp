// Parsing of the command line, the language choice and the help text.
#include "cli/command_line.h"

#include <cstring>

#include "app/app.h"
#include "catalogue/catalogue.h"
#include "resources/version.h"

namespace {

struct CommandEntry {
    const char* Name;
    CliCommand Command;
};
const CommandEntry kCommands[] = {
    {"list", COMMAND_LIST},     {"identify", COMMAND_IDENTIFY}, {"status", COMMAND_STATUS},
    {"update", COMMAND_UPDATE}, {"watch", COMMAND_WATCH},
};


// "--name=value" or "--name": the value after '=' when `arg` is the option `name` in that form.
bool MatchesOption(const char* arg, const char* name, const char** inlineValue)
{
    size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0) return false;
    if (arg[length] == '\0') {
        *inlineValue = nullptr;
        return true;
    }
    if (arg[length] == '=') {
        *inlineValue = arg + length + 1;
        return true;
    }
    return false;
}

}  // namespace

const char* CommandName(CliCommand command)
{
    for (const CommandEntry& entry : kCommands) {
        if (entry.Command == command) return entry.Name;
    }
    return "";
}

int32_t ParseCommandLine(int argc, const char* const* argv, CliOptions* options, char* error,
                         uint32_t errorCapacity)
{
    *options = CliOptions{COMMAND_NONE, false, false, nullptr, nullptr, nullptr, false, false, false, false, false, LANGUAGE_ENGLISH};
    if (errorCapacity > 0) error[0] = '\0';

    // --help wins over everything else on the line, mistakes included.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            options->Help = true;
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            options->Version = true;
            return 0;
        }
    }

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (MatchesOption(arg, "--sim", &value)) {
            if (value == nullptr) {
                if (i + 1 >= argc) {
                    std::snprintf(error, errorCapacity, "option --sim needs a scenario ('' for the default unit)");
                    return -1;
                }
                value = argv[++i];
            }
            if (options->Scenario != nullptr) {
                std::snprintf(error, errorCapacity, "option --sim is given twice");
                return -1;
            }
            options->Scenario = value;
        } else if (MatchesOption(arg, "--record", &value) || MatchesOption(arg, "--replay", &value)) {
            bool record = std::strncmp(arg, "--record", 8) == 0;
            const char* name = record ? "--record" : "--replay";
            if (value == nullptr) {
                if (i + 1 >= argc) {
                    std::snprintf(error, errorCapacity, "option %s needs a file", name);
                    return -1;
                }
                value = argv[++i];
            }
            const char** path = record ? &options->RecordPath : &options->ReplayPath;
            if (*path != nullptr) {
                std::snprintf(error, errorCapacity, "option %s is given twice", name);
                return -1;
            }
            if (value[0] == '\0') {
                std::snprintf(error, errorCapacity, "option %s needs a file, not ''", name);
                return -1;
            }
            *path = value;
        } else if (MatchesOption(arg, "--lang", &value)) {
            if (value == nullptr) {
                if (i + 1 >= argc) {
                    std::snprintf(error, errorCapacity, "option --lang needs a language: en or de");
                    return -1;
                }
                value = argv[++i];
            }
            if (options->LanguageGiven) {
                std::snprintf(error, errorCapacity, "option --lang is given twice");
                return -1;
            }
            if (std::strcmp(value, "en") == 0) {
                options->Language = LANGUAGE_ENGLISH;
            } else if (std::strcmp(value, "de") == 0) {
                options->Language = LANGUAGE_GERMAN;
            } else {
                std::snprintf(error, errorCapacity, "option --lang takes en or de, not '%s'", value);
                return -1;
            }
            options->LanguageGiven = true;
        } else if (std::strcmp(arg, "--trace") == 0) {
            options->Trace = true;
        } else if (std::strcmp(arg, "--yes") == 0 || std::strcmp(arg, "-y") == 0) {
            options->Yes = true;
        } else if (std::strcmp(arg, "--realtime") == 0) {
            options->Realtime = true;
        } else if (std::strcmp(arg, "--reinstall") == 0) {
            options->Reinstall = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::snprintf(error, errorCapacity, "unknown option '%s' (see --help)", arg);
            return -1;
        } else {
            CliCommand command = COMMAND_NONE;
            for (const CommandEntry& entry : kCommands) {
                if (std::strcmp(arg, entry.Name) == 0) command = entry.Command;
            }
            if (command == COMMAND_NONE) {
                std::snprintf(error, errorCapacity, "unknown command '%s' (list, identify, status, update or watch)", arg);
                return -1;
            }
            if (options->Command != COMMAND_NONE) {
                std::snprintf(error, errorCapacity, "one command only, not '%s' and '%s'",
                              CommandName(options->Command), arg);
                return -1;
            }
            options->Command = command;
        }
    }

    if (options->ReplayPath != nullptr && options->Scenario != nullptr) {
        std::snprintf(error, errorCapacity, "--replay and --sim can't be given together: the record is the unit");
        return -1;
    }
    if (options->ReplayPath != nullptr && options->RecordPath != nullptr) {
        std::snprintf(error, errorCapacity, "--replay and --record can't be given together");
        return -1;
    }
    if (options->Command == COMMAND_NONE) {
        std::snprintf(error, errorCapacity, "no command given: list, identify, status, update or watch (see --help)");
        return -1;
    }
    return 0;
}

TextLanguage ChooseLanguage(const CliOptions& options, const char* (*environment)(const char* name))
{
    if (options.LanguageGiven) return options.Language;
    static const char* const kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* variable : kVariables) {
        const char* value = environment(variable);
        if (value != nullptr && value[0] != '\0') return LanguageFromLocaleName(value);
    }
    return LANGUAGE_ENGLISH;
}

void PrintVersion(std::FILE* out)
{
    std::fprintf(out, "velquor-flash %s (ESC firmware %u.%u)\n", UpdaterVersion(), CARRIED_FIRMWARE_VERSION >> 8,
                 CARRIED_FIRMWARE_VERSION & 0xFFu);
}

void PrintHelp(std::FILE* out)
{
    char16_t title[256];
    char titleUtf8[768];
    FormatWindowTitle(title, 256);
    Utf16ToUtf8(title, titleUtf8, static_cast<int32_t>(sizeof titleUtf8));
    std::fprintf(out, "velquor-flash: %s- the firmware updater on the terminal\n\n", titleUtf8);
    std::fputs(
        "Usage: velquor-flash [--sim SCENARIO | --replay FILE] [--record FILE] [--trace] [--yes]\n"
        "                     [--reinstall] [--lang en|de] [--realtime] COMMAND\n"
        "\n"
        "Commands:\n"
        "  list       every HID interface the system shows, with vendor, product, report lengths\n"
        "             and whether the updater takes it (the first programming unit is served)\n"
        "  identify   find the programming unit, ask it about itself and the ESC attached to it,\n"
        "             and print the result and every field of the link record\n"
        "  status     look at the unit as the updater's window does when it opens: print the\n"
        "             installed versions (unit, ESC boot loader, ESC) and the hint\n"
        "  update     the same, then, when the ESC is ready, write the carried firmware into it;\n"
        "             the confirmations and messages are printed and answered\n"
        "  watch      wait for units as the window does: show each one's versions and hint when\n"
        "             it is plugged in; with --yes update each ready ESC whose firmware is older\n"
        "             than the carried one (or missing) once, one after another, with a summary\n"
        "             line per ESC, until Ctrl-C (under --sim: until the fleet of the scenario\n"
        "             has passed); an ESC that is up to date is shown and left alone\n"
        "\n"
        "Options:\n"
        "  --sim SCENARIO  use the simulated programming unit, set up by SCENARIO ('' = defaults)\n"
        "  --trace         list every report written (>) and read (<) on stderr: the time in ms\n"
        "                  since the start, then each byte in hex\n"
        "  --record FILE   write a record of the run to FILE: the unit (ids, report lengths, its\n"
        "                  report descriptor where the system shows it), every report written and\n"
        "                  read with its time, the pauses, arrivals and removals, and how an update\n"
        "                  ended; nothing about you or this computer. Written also when the command\n"
        "                  fails or a signal ends it. A record of a failed update is what a\n"
        "                  maintainer needs to see what the unit did\n"
        "  --replay FILE   run the command against the record in FILE instead of a unit: every\n"
        "                  request must equal the recorded one byte for byte, in order, and gets\n"
        "                  the recorded reply (a failure or time-out fails again, a unit pulled out\n"
        "                  is gone); the first request that differs stops the replay (status 6)\n"
        "  --yes           answer every confirmation with OK or Yes\n"
        "  --reinstall     watch --yes: update also the ESCs that are up to date\n"
        "  --lang en|de    language of the texts; without it LC_ALL, LC_MESSAGES or LANG decides\n"
        "  --realtime      with --sim or --replay: wait for real; otherwise the pauses run on a\n"
        "                  virtual clock\n"
        "  --help          show this help\n"
        "  --version       show the program's version\n"
        "\n"
        "Confirmations are answered OK/Yes with --yes; without it you are asked when standard\n"
        "input is a terminal (end of input = Cancel/No), and otherwise the answer is Cancel/No.\n"
        "Messages, versions and hints go to stdout; the trace and the progress to stderr.\n"
        "Ctrl-C ends the program at once, except while the ESC is being written: then the first\n"
        "one only warns that stopping leaves the ESC without firmware, and a second one within 5\n"
        "seconds stops all the same. SIGHUP (terminal closed) and SIGTERM (shutdown) that come\n"
        "while the ESC is being written are held until it is finished; a closed output (a pipe\n"
        "whose reader ended) never stops an update.\n"
        "\n"
        "On Windows (velquor-flash.exe) the program uses Windows' HID stack: every user may use\n"
        "a programming unit (there is no udev rule), a unit is named by its interface path\n"
        "(\\\\?\\hid#vid_21b8&pid_0002...), watch follows the system's device notifications, and\n"
        "a record names the edge win32 and holds no report descriptor (Windows shows none).\n"
        "A unit is used by one program at a time, velquor-flash.exe or the window\n"
        "VelquorUpdater.exe; the other finds it in use. Ctrl-Break acts as Ctrl-C. Closing the\n"
        "console and logging off act as SIGHUP, shutting down as SIGTERM: while the ESC is being\n"
        "written, log-off and shutdown are refused (Windows shows why) and the program ends once\n"
        "the ESC is finished; a closed console is held only the 5 seconds Windows allows.\n"
        "\n"
        "Scenario (--sim): comma-separated key=value items; '' means every default.\n"
        "  unit=setbox|dialpuck|none   the programming unit                      (setbox)\n"
        "  others=N  alien=0|1  second=0|1   foreign HID devices, a unit with product id 3,\n"
        "                              a second unit after the first\n"
        "  mode=N  state=N             unit mode (0 normal) and controller state (3 ready)\n"
        "  type=N                      the ESC's type code                       (0x110fa0d2)\n"
        "  fw=N  newfw=N               installed version, version after an update\n"
        "                              (0x0118, 0x0119; fw=0xffff: no firmware)\n"
        "  boot=N  unitver=N           boot loader and unit versions             (0x105, 0x11900)\n"
        "  inlen=N  outlen=N           the report lengths the unit declares      (60, 60)\n"
        "  fail=OP:KIND                a fault, repeatable; OP: status memread info identity lock\n"
        "                              protect-off erase address block block#K protect-on unlock;\n"
        "                              KIND: write read hang refuse:CODE state:N\n"
        "  unplug=OP                   the unit is pulled out just before OP\n"
        "  extra=OP[:before|:after]    the unit sends a report of its own before OP's reply\n"
        "                              (id 3), or the reply a second time after it\n"
        "  busy=0|1                    another program holds the unit\n"
        "  lost=0|1                    watch: plug-in and pull-out events are lost on the way\n"
        "  fleet=N                     watch: N ESCs one after another               (1)\n"
        "  broken=list|path|open|ids|caps   a platform call fails for the unit\n"
        "  Numbers are decimal or 0x-prefixed hexadecimal. Example:\n"
        "    velquor-flash --sim 'fail=block#5:refuse:7' --yes update\n"
        "\n"
        "Exit status:\n"
        "  0  identify: the unit was identified; status: the ESC is ready to update;\n"
        "     update: the update succeeded; list: the list was shown; watch --sim: the fleet\n"
        "     has passed and every update succeeded\n"
        "  1  identify: the result was not 0; update: the update failed; list: the system gave\n"
        "     no list; watch: an update failed, or device events could not be followed\n"
        "  2  a bad command line or scenario, a record that is missing, cut off or garbled (the\n"
        "     message names its line), or no USB back end in this build\n"
        "  3  a confirmation was answered Cancel or No; nothing was written\n"
        "  4  no ESC ready to update: the Update button never became enabled\n"
        "  5  the programming unit is in use by another program; nothing was sent to it\n"
        "  6  --replay: the program did not do what the record holds: a request differs (the\n"
        "     message names its number and line in the record, its step, the first differing\n"
        "     byte, what the record has and what was sent), an update ended otherwise, or the\n"
        "     program ended before the record did\n"
        "  129, 143  SIGHUP or SIGTERM (on Windows: the console's close or a log-off, 129; a\n"
        "     shutdown, 143); one that came while the ESC was being written ended the program\n"
        "     once the ESC was finished\n"
        "  130  interrupted with Ctrl-C; watch on a real unit always ends so\n",
        out);
}
