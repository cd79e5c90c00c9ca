// The terminal front end's own words in the language chosen for the texts (GetTextLanguage),
// from resources/terminal_texts.inc. UTF-8.
#pragma once

#include <cstdint>

enum TerminalTextId : uint32_t {
#define TERMINAL_TEXT(name, english, german) name,
#include "resources/terminal_texts.inc"
#undef TERMINAL_TEXT
    TERMINAL_TEXT_COUNT
};

const char* TerminalText(TerminalTextId id);

// The number of character cells a UTF-8 text takes on a terminal (one per character; the
// texts here have no wide or combining characters).
uint32_t TerminalCells(const char* text);
