#pragma once
// Readable names for the rows of a parameterised table, in place of GoogleTest's byte dump of the
// row: its index, then its text with letters and digits kept, each byte outside printable ASCII
// as two hex digits, and everything else as a single "_", cut to 40 characters (all in hex when
// that leaves nothing readable). The index keeps
// names unique; nothing depends on memory contents, so names are the same in every build.
#include <stddef.h>
#include <stdio.h>

#include <string>

inline std::string case_name(size_t index, const std::string& text) {
    char number[16];
    snprintf(number, sizeof number, "%02zu_", index);
    std::string name = number;
    for (unsigned char c : text) {
        if (name.size() >= 40) break;
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            name += static_cast<char>(c);
            continue;
        }
        if (name.back() != '_') name += '_';
        if (c < 0x20 || c >= 0x7F) {
            snprintf(number, sizeof number, "%02X_", c);
            name += number;
        }
    }
    while (name.size() > 3 && name.back() == '_') name.pop_back();
    if (name.size() > 3) return name;
    // Nothing readable: every byte in hex, or "empty".
    if (text.empty()) return name + "empty";
    for (unsigned char c : text) {
        if (name.size() >= 40) break;
        snprintf(number, sizeof number, "%02X", c);
        name += number;
    }
    return name;
}
