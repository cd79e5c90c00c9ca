// The web page's own words (resources/page_texts.inc) as one table, for the updater in the page
// and for the build's tool that writes them into page-texts.js.
#pragma once

struct PageText {
    const char* Key;
    const char* English;
    const char* German;
};

inline constexpr PageText kPageTexts[] = {
#define PAGE_TEXT(key, english, german) {#key, english, german},
#include "resources/page_texts.inc"
#undef PAGE_TEXT
};
