// The command line of velquor-flash: [options] COMMAND, options anywhere.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/texts.h"

enum CliCommand { COMMAND_NONE, COMMAND_LIST, COMMAND_IDENTIFY, COMMAND_STATUS, COMMAND_UPDATE, COMMAND_WATCH };

struct CliOptions {
    CliCommand Command;
    bool Help;
    bool Version;          // --version: print the version and nothing else
    const char* Scenario;  // --sim: null when not given; "" is the default unit
    const char* RecordPath;  // --record FILE: null when not given
    const char* ReplayPath;  // --replay FILE: null when not given
    bool Trace;
    bool Yes;
    bool Realtime;
    bool Reinstall;        // --reinstall: watch --yes also updates ESCs that are up to date
    bool LanguageGiven;
    TextLanguage Language;
};

// Reads argv[1..argc-1]. 0, or -1 with a one-line message (no program name, no newline) in
// `error`. --help (and after it --version) makes the rest of the line unimportant: it is 0
// with Help (Version) set whatever else stands there.
int32_t ParseCommandLine(int argc, const char* const* argv, CliOptions* options, char* error,
                         uint32_t errorCapacity);

// The language of the texts: --lang, else the first non-empty of LC_ALL, LC_MESSAGES and LANG.
// `environment` reads a variable (null when unset), as getenv does.
TextLanguage ChooseLanguage(const CliOptions& options, const char* (*environment)(const char* name));

// The command's name on the command line ("update"); "" for none.
const char* CommandName(CliCommand command);

// The full help text.
void PrintHelp(std::FILE* out);

// "velquor-flash VERSION (ESC firmware 1.25)" on one line.
void PrintVersion(std::FILE* out);
