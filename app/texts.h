// The user-facing texts: ids, the compiled string table for the front ends that do not load
// them from Windows resources, the language choice, and a small formatter for the few format
// texts ("%s", "%u", "%08x").
#pragma once

#include <cstdint>

#include "resources/text_ids.h"

// Every text is loaded into a buffer of this many UTF-16 units, terminator included.
constexpr int32_t TEXT_BUFFER_SIZE = 2048;

enum TextLanguage { LANGUAGE_ENGLISH, LANGUAGE_GERMAN };

// The language of the compiled string table (English until set).
void SetTextLanguage(TextLanguage language);
TextLanguage GetTextLanguage();

// German for a German (Germany) locale name such as "de_DE.UTF-8" or "de_DE", English for
// anything else, null and "" included.
TextLanguage LanguageFromLocaleName(const char* name);

// Loads text `id` of the compiled table in the current language, cut to `capacity` - 1 units
// and terminated, as LoadStringW does. Returns the length copied; 0 (and "") for an unknown id.
int32_t LoadTableText(uint32_t id, char16_t* buffer, int32_t capacity);
// The same for an explicit language.
int32_t LoadTableTextIn(TextLanguage language, uint32_t id, char16_t* buffer, int32_t capacity);

// Every id the table carries, ascending, and their count (the same ids in both languages).
int32_t TableTextCount();
uint32_t TableTextId(int32_t index);

// One argument of FormatText.
struct FormatArg {
    enum Kind { TEXT, NUMBER } ArgKind;
    const char16_t* Text;   // for %s
    uint32_t Number;        // for %u and %08x
};
inline FormatArg TextArg(const char16_t* text) { return FormatArg{FormatArg::TEXT, text, 0}; }
inline FormatArg NumberArg(uint32_t number) { return FormatArg{FormatArg::NUMBER, nullptr, number}; }

// printf-style formatting of UTF-16 text into `out` (capacity in units, terminator included),
// cut to fit. Understands %s, %u, %x, %08x (any zero-padded width) and %%; a missing or
// mismatched argument formats as nothing. Returns the length written.
int32_t FormatText(char16_t* out, int32_t capacity, const char16_t* format, const FormatArg* args,
                   int32_t argCount);

// Bounded helpers over UTF-16 buffers (capacity includes the terminator).
int32_t TextLength(const char16_t* text);
int32_t CopyText(char16_t* out, int32_t capacity, const char16_t* text);    // returns new length
int32_t AppendText(char16_t* out, int32_t capacity, const char16_t* text);  // returns new length
bool TextEqualsIgnoringAsciiCase(const char16_t* a, const char16_t* b);

// Conversions for the terminal and the tests: UTF-16 to UTF-8 and back, cut to fit.
int32_t Utf16ToUtf8(const char16_t* text, char* out, int32_t capacity);
int32_t Utf8ToUtf16(const char* text, char16_t* out, int32_t capacity);
