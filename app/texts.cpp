// The compiled string table (built from resources/texts.inc), the language choice, the
// formatter and the bounded UTF-16 helpers. Everything works on caller-provided buffers and
// never writes past `capacity` units or bytes.
#include "app/texts.h"

namespace {

struct TableEntry {
    uint32_t Id;
    const char* English;  // UTF-8
    const char* German;   // UTF-8
};

constexpr TableEntry TEXT_TABLE[] = {
#define TEXT_ENTRY(id, en, de) {id, en, de},
#include "resources/texts.inc"
#undef TEXT_ENTRY
};

constexpr int32_t TEXT_TABLE_COUNT = static_cast<int32_t>(sizeof(TEXT_TABLE) / sizeof(TEXT_TABLE[0]));

constexpr bool TableIdsAscend() {
    for (int32_t i = 1; i < TEXT_TABLE_COUNT; ++i) {
        if (TEXT_TABLE[i - 1].Id >= TEXT_TABLE[i].Id) return false;
    }
    return true;
}
static_assert(TableIdsAscend(), "texts.inc must list every id once, in ascending order");

TextLanguage g_TextLanguage = LANGUAGE_ENGLISH;

const TableEntry* FindEntry(uint32_t id) {
    int32_t low = 0;
    int32_t high = TEXT_TABLE_COUNT;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (TEXT_TABLE[middle].Id < id) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return (low < TEXT_TABLE_COUNT && TEXT_TABLE[low].Id == id) ? &TEXT_TABLE[low] : nullptr;
}

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes one code point of UTF-8 at `text`, which is terminated. Ill-formed input yields
// U+FFFD and consumes the maximal well-formed prefix (at least one byte), so that no byte
// after the terminator is ever read: the terminator is never a continuation byte.
char32_t DecodeUtf8(const unsigned char* text, int32_t* consumed) {
    const unsigned char lead = text[0];
    *consumed = 1;
    if (lead < 0x80) return lead;

    int32_t length;
    char32_t value;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        if (lead == 0xE0) secondLow = 0xA0;   // no overlong forms
        if (lead == 0xED) secondHigh = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        if (lead == 0xF0) secondLow = 0x90;   // no overlong forms
        if (lead == 0xF4) secondHigh = 0x8F;  // nothing above U+10FFFF
    } else {
        return REPLACEMENT_CHARACTER;  // stray continuation byte, C0, C1 or F5..FF
    }

    for (int32_t i = 1; i < length; ++i) {
        const unsigned char next = text[i];
        const unsigned char low = (i == 1) ? secondLow : static_cast<unsigned char>(0x80);
        const unsigned char high = (i == 1) ? secondHigh : static_cast<unsigned char>(0xBF);
        if (next < low || next > high) {
            *consumed = i;
            return REPLACEMENT_CHARACTER;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    *consumed = length;
    return value;
}

// Appends the units of `text` to `out` at `*length`, keeping room for the terminator.
void PutUnits(char16_t* out, int32_t capacity, int32_t* length, const char16_t* text, int32_t count) {
    for (int32_t i = 0; i < count && *length < capacity - 1; ++i) {
        out[(*length)++] = text[i];
    }
}

// Writes `number` in base 10 or 16 (lower-case digits) into `digits`, most significant first,
// without padding, and returns the digit count (at most 10 for 32 bits).
int32_t NumberDigits(uint32_t number, uint32_t base, char16_t* digits) {
    char16_t reversed[12];
    int32_t count = 0;
    do {
        const uint32_t digit = number % base;
        reversed[count++] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + (digit - 10));
        number /= base;
    } while (number != 0);
    for (int32_t i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    return count;
}

}  // namespace

void SetTextLanguage(TextLanguage language) {
    g_TextLanguage = (language == LANGUAGE_GERMAN) ? LANGUAGE_GERMAN : LANGUAGE_ENGLISH;
}

TextLanguage GetTextLanguage() { return g_TextLanguage; }

TextLanguage LanguageFromLocaleName(const char* name) {
    // "de_DE" (or the Windows spelling "de-DE"), alone or followed by ".codeset" or "@modifier".
    if (name == nullptr) return LANGUAGE_ENGLISH;
    if (name[0] != 'd' || name[1] != 'e') return LANGUAGE_ENGLISH;
    if (name[2] != '_' && name[2] != '-') return LANGUAGE_ENGLISH;
    if (name[3] != 'D' || name[4] != 'E') return LANGUAGE_ENGLISH;
    const char next = name[5];
    return (next == '\0' || next == '.' || next == '@') ? LANGUAGE_GERMAN : LANGUAGE_ENGLISH;
}

int32_t LoadTableText(uint32_t id, char16_t* buffer, int32_t capacity) {
    return LoadTableTextIn(g_TextLanguage, id, buffer, capacity);
}

int32_t LoadTableTextIn(TextLanguage language, uint32_t id, char16_t* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    const TableEntry* entry = FindEntry(id);
    if (entry == nullptr) {
        buffer[0] = u'\0';
        return 0;
    }
    return Utf8ToUtf16(language == LANGUAGE_GERMAN ? entry->German : entry->English, buffer, capacity);
}

int32_t TableTextCount() { return TEXT_TABLE_COUNT; }

uint32_t TableTextId(int32_t index) {
    return (index >= 0 && index < TEXT_TABLE_COUNT) ? TEXT_TABLE[index].Id : 0;
}

int32_t FormatText(char16_t* out, int32_t capacity, const char16_t* format, const FormatArg* args,
                   int32_t argCount) {
    if (out == nullptr || capacity <= 0) return 0;
    int32_t length = 0;
    int32_t nextArg = 0;
    const char16_t* p = (format != nullptr) ? format : u"";
    while (*p != u'\0' && length < capacity - 1) {
        if (*p != u'%') {
            out[length++] = *p++;
            continue;
        }
        const char16_t* directive = p++;
        if (*p == u'%') {
            out[length++] = u'%';
            ++p;
            continue;
        }
        const bool zeroPad = (*p == u'0');
        if (zeroPad) ++p;
        int32_t width = 0;
        while (*p >= u'0' && *p <= u'9') {
            if (width < TEXT_BUFFER_SIZE) width = width * 10 + (*p - u'0');
            ++p;
        }
        const char16_t conversion = *p;
        if (conversion != u's' && conversion != u'u' && conversion != u'x') {
            // Not a directive this formatter knows: keep its characters as they stand.
            PutUnits(out, capacity, &length, directive, static_cast<int32_t>(p - directive));
            continue;
        }
        ++p;
        const FormatArg* arg = (nextArg < argCount && args != nullptr) ? &args[nextArg] : nullptr;
        ++nextArg;
        char16_t digits[12];
        const char16_t* piece = nullptr;
        int32_t pieceLength = 0;
        if (conversion == u's') {
            if (arg != nullptr && arg->ArgKind == FormatArg::TEXT && arg->Text != nullptr) {
                piece = arg->Text;
                pieceLength = TextLength(arg->Text);
            }
        } else if (arg != nullptr && arg->ArgKind == FormatArg::NUMBER) {
            pieceLength = NumberDigits(arg->Number, conversion == u'x' ? 16u : 10u, digits);
            piece = digits;
        }
        if (piece == nullptr) continue;  // missing or mismatched argument: nothing
        const char16_t fill = zeroPad ? u'0' : u' ';
        for (int32_t i = pieceLength; i < width && length < capacity - 1; ++i) out[length++] = fill;
        PutUnits(out, capacity, &length, piece, pieceLength);
    }
    out[length] = u'\0';
    return length;
}

int32_t TextLength(const char16_t* text) {
    if (text == nullptr) return 0;
    int32_t length = 0;
    while (text[length] != u'\0') ++length;
    return length;
}

int32_t CopyText(char16_t* out, int32_t capacity, const char16_t* text) {
    if (out == nullptr || capacity <= 0) return 0;
    int32_t length = 0;
    if (text != nullptr) {
        while (text[length] != u'\0' && length < capacity - 1) {
            out[length] = text[length];
            ++length;
        }
    }
    out[length] = u'\0';
    return length;
}

int32_t AppendText(char16_t* out, int32_t capacity, const char16_t* text) {
    if (out == nullptr || capacity <= 0) return 0;
    int32_t length = 0;
    while (length < capacity - 1 && out[length] != u'\0') ++length;
    if (text != nullptr) {
        for (int32_t i = 0; text[i] != u'\0' && length < capacity - 1; ++i) out[length++] = text[i];
    }
    out[length] = u'\0';
    return length;
}

bool TextEqualsIgnoringAsciiCase(const char16_t* a, const char16_t* b) {
    if (a == nullptr) a = u"";
    if (b == nullptr) b = u"";
    for (;; ++a, ++b) {
        char16_t x = *a;
        char16_t y = *b;
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y) return false;
        if (x == u'\0') return true;
    }
}

int32_t Utf16ToUtf8(const char16_t* text, char* out, int32_t capacity) {
    if (out == nullptr || capacity <= 0) return 0;
    int32_t length = 0;
    const char16_t* p = (text != nullptr) ? text : u"";
    while (*p != u'\0') {
        char32_t code = *p++;
        if (IsHighSurrogate(static_cast<char16_t>(code)) && IsLowSurrogate(*p)) {
            code = 0x10000 + ((code - 0xD800) << 10) + (*p++ - 0xDC00u);
        } else if (IsHighSurrogate(static_cast<char16_t>(code)) || IsLowSurrogate(static_cast<char16_t>(code))) {
            code = REPLACEMENT_CHARACTER;
        }
        unsigned char bytes[4];
        int32_t count;
        if (code < 0x80) {
            bytes[0] = static_cast<unsigned char>(code);
            count = 1;
        } else if (code < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            count = 2;
        } else if (code < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            count = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            count = 4;
        }
        if (length + count > capacity - 1) break;  // never cut a character in half
        for (int32_t i = 0; i < count; ++i) out[length++] = static_cast<char>(bytes[i]);
    }
    out[length] = '\0';
    return length;
}

int32_t Utf8ToUtf16(const char* text, char16_t* out, int32_t capacity) {
    if (out == nullptr || capacity <= 0) return 0;
    int32_t length = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
    while (*p != 0) {
        int32_t consumed;
        const char32_t code = DecodeUtf8(p, &consumed);
        if (code >= 0x10000) {
            if (length + 2 > capacity - 1) break;  // never cut a surrogate pair in half
            out[length++] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out[length++] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            if (length + 1 > capacity - 1) break;
            out[length++] = static_cast<char16_t>(code);
        }
        p += consumed;
    }
    out[length] = u'\0';
    return length;
}
