#pragma once

// Answers a request routed to the JSON side: reads action, sort and top from the raw query
// string and writes the whole response. Always returns 0.
int mode_json(const char* query);

// Reads a `top` value the way atoi does (leading white space, one sign, digits), saturating
// instead of overflowing; anything outside 1..4096 gives the default of 25.
int parse_top(const char* text);
