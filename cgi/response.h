#pragma once

// Header block that opens every JSON response (CR LF line ends, then an empty line).
#define JSON_HEADER_BLOCK                                   \
    "Content-Type: application/json; charset=utf-8\r\n"     \
    "Cache-Control: no-store\r\n"                           \
    "X-Content-Type-Options: nosniff\r\n"                   \
    "\r\n"

// Header block that opens the page response.
#define HTML_HEADER_BLOCK                                   \
    "Content-Type: text/html; charset=utf-8\r\n"            \
    "Cache-Control: no-store\r\n"                           \
    "X-Content-Type-Options: nosniff\r\n"                   \
    "\r\n"

// Header block that opens the metrics response in the Prometheus text exposition format.
#define EXPOSITION_HEADER_BLOCK                                     \
    "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"    \
    "Cache-Control: no-store\r\n"                                   \
    "X-Content-Type-Options: nosniff\r\n"                           \
    "\r\n"

// Writes a fixed text to standard output as its exact bytes.
void write_text(const char* text);

// Writes the JSON header block.
void json_header();

// Writes the exposition header block.
void exposition_header();

// Writes `text` as one JSON string value, quotes included. Control bytes are escaped;
// well-formed UTF-8 passes unchanged and every ill-formed subsequence becomes U+FFFD, so the
// output is always valid UTF-8.
void json_str(const char* text);
