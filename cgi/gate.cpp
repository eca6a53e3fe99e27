#include "cgi/gate.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cgi/query.h"
#include "cgi/response.h"

int secret_equals(const char* a, const char* b) {
    const size_t la = strlen(a);
    const size_t lb = strlen(b);
    const size_t n = la > lb ? la : lb;
    unsigned diff = la != lb;
    for (size_t i = 0; i < n; i++) {
        const unsigned char ca = i < la ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char cb = i < lb ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned>(ca ^ cb);
    }
    return diff == 0;
}

// "Authorization: Bearer <password>", leading and separating spaces (0x20 only) allowed.
static int bearer_matches(const char* auth, const char* password) {
    while (*auth == ' ') auth++;
    if (strncmp(auth, "Bearer ", 7) != 0) return 0;
    auth += 7;
    while (*auth == ' ') auth++;
    return secret_equals(auth, password);
}

int require_node_auth() {
    const char* password = getenv("KIV_PASSWORD");
    if (!password || !*password) return 1;

    const char* header = getenv("HTTP_X_KIV_PASSWORD");
    if (header && secret_equals(header, password)) return 1;

    const char* auth = getenv("HTTP_AUTHORIZATION");
    if (auth && bearer_matches(auth, password)) return 1;

    const char* query = getenv("QUERY_STRING");
    char pwd[256];
    if (query && get_query_val(query, "pwd", pwd, sizeof pwd) && secret_equals(pwd, password)) return 1;

    write_text(UNAUTHORIZED_RESPONSE);
    return 0;
}
