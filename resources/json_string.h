// A text as a JSON string, for the page's words (its script, written by a build tool, and what the
// updater hands the page when it starts): the quotes around it, its quotes and backslashes
// escaped, its control characters as \u00XX, every other byte (UTF-8 included) as it is. `put`
// takes one character at a time.
#pragma once

template <class Put>
void PutJsonString(const char* text, Put put)
{
    static const char kHex[] = "0123456789abcdef";
    put('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\') {
            put('\\');
            put(static_cast<char>(*p));
        } else if (*p < 0x20) {
            const char escaped[] = {'\\', 'u', '0', '0', kHex[*p >> 4], kHex[*p & 15]};
            for (char c : escaped) put(c);
        } else {
            put(static_cast<char>(*p));
        }
    }
    put('"');
}
