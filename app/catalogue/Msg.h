#pragma once

// The compiled-in message catalogue: every text the program shows, addressed by
// a numeric id, in English (0), German (1) and Swedish (2). Any other language
// index selects German.
class CMsg {
public:
    virtual ~CMsg() = default;

    // Text of `id` in the current language, or "----Error in Stringtable----".
    // The pointer is valid for the life of the process (UTF-8).
    static const char* Get(unsigned id);

    static void SetLanguage(int language);
    static int Language();
};
