#pragma once

// Length of the well-formed UTF-8 sequence that starts at `s` with a byte of 0x80 or above
// (2 to 4), or the negative length of its maximal ill-formed subpart (-1 to -3), which a writer
// replaces with one U+FFFD, following the Unicode replacement practice. Never reads past a NUL.
int utf8_sequence(const unsigned char* s);

// The three bytes of U+FFFD in UTF-8.
#define UTF8_REPLACEMENT "\xEF\xBF\xBD"

// Writes the sequence at `s` (whose first byte is 0x80 or above) to standard output: unchanged
// when it is well-formed UTF-8, as one U+FFFD for its maximal ill-formed subpart otherwise.
// Returns the position after what it took.
const unsigned char* put_utf8_sequence(const unsigned char* s);
