// The terminal's words by language.
#include "cli/terminal_texts.h"

#include "app/texts.h"

namespace {

struct TerminalTextEntry {
    const char* English;
    const char* German;
};

const TerminalTextEntry kTerminalTexts[TERMINAL_TEXT_COUNT] = {
#define TERMINAL_TEXT(name, english, german) {english, german},
#include "resources/terminal_texts.inc"
#undef TERMINAL_TEXT
};

}  // namespace

const char* TerminalText(TerminalTextId id)
{
    if (id >= TERMINAL_TEXT_COUNT) return "";
    const TerminalTextEntry& entry = kTerminalTexts[id];
    return GetTextLanguage() == LANGUAGE_GERMAN ? entry.German : entry.English;
}

uint32_t TerminalCells(const char* text)
{
    uint32_t cells = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if ((*p & 0xC0) != 0x80) ++cells;  // every byte but a UTF-8 continuation starts a character
    }
    return cells;
}
