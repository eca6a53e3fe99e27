// get_query_val on any query, key and capacity: it writes nothing outside `capacity` bytes,
// and what it returns is the raw value cut to capacity-1 bytes, then decoded once.
// Input: one byte choosing the capacity (2..300), the key up to a NUL, then the query.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cgi/query.h"

static const size_t GUARD = 32;
static const unsigned char CANARY = 0xA5;

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reference reading: the first field (at the start or after an "&") that is key "=" value.
static bool reference_value(const std::string& query, const std::string& key, size_t capacity, std::string* out) {
    size_t start = 0;
    for (;;) {
        if (query.compare(start, key.size() + 1, key + "=") == 0) break;
        const size_t amp = query.find('&', start);
        if (amp == std::string::npos) return false;
        start = amp + 1;
    }
    const size_t from = start + key.size() + 1;
    const size_t amp = query.find('&', from);
    std::string raw = query.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
    if (raw.size() > capacity - 1) raw.resize(capacity - 1);
    std::string decoded;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '+') {
            decoded += ' ';
        } else if (raw[i] == '%' && i + 2 < raw.size() && hex_value(raw[i + 1]) >= 0 && hex_value(raw[i + 2]) >= 0) {
            decoded += static_cast<char>(hex_value(raw[i + 1]) * 16 + hex_value(raw[i + 2]));
            i += 2;
        } else {
            decoded += raw[i];
        }
    }
    // The result is a C string: a decoded NUL ends it.
    *out = decoded.substr(0, decoded.find('\0'));
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t capacity = 2 + data[0] % 299;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const size_t rest_size = size - 1;
    const char* nul = static_cast<const char*>(memchr(rest, '\0', rest_size));
    if (!nul) return 0;
    const std::string key(rest, nul);
    std::string query(nul + 1, rest + rest_size);
    query = query.substr(0, query.find('\0'));

    // Exact-size copies, so that AddressSanitizer sees any read past their ends.
    char* key_c = static_cast<char*>(malloc(key.size() + 1));
    char* query_c = static_cast<char*>(malloc(query.size() + 1));
    memcpy(key_c, key.c_str(), key.size() + 1);
    memcpy(query_c, query.c_str(), query.size() + 1);

    unsigned char* block = static_cast<unsigned char*>(malloc(capacity + 2 * GUARD));
    memset(block, CANARY, capacity + 2 * GUARD);
    char* out = reinterpret_cast<char*>(block + GUARD);
    const int found = get_query_val(query_c, key_c, out, capacity);

    for (size_t i = 0; i < GUARD; i++) {
        if (block[i] != CANARY || block[GUARD + capacity + i] != CANARY) abort();  // wrote outside
    }
    if (!memchr(out, '\0', capacity)) abort();  // not terminated within capacity

    std::string expected;
    const bool expected_found = reference_value(query, key, capacity, &expected);
    if (found != (expected_found ? 1 : 0)) abort();
    if (std::string(out) != expected) abort();

    free(block);
    free(query_c);
    free(key_c);
    return 0;
}
