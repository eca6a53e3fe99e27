#pragma once

// Node password gate. Returns 1 when the request may be served (having written nothing);
// otherwise writes the 401 response and returns 0, after which the request is finished.
int require_node_auth();

// The body of the refusal, exposed for tests.
#define UNAUTHORIZED_RESPONSE                                     \
    "Status: 401 Unauthorized\r\n"                                \
    "Content-Type: application/json; charset=utf-8\r\n"           \
    "Cache-Control: no-store\r\n"                                 \
    "X-Content-Type-Options: nosniff\r\n"                         \
    "\r\n"                                                        \
    "{\"ok\":false,\"error\":\"invalid node password\"}\n"

// Equality of two NUL-terminated strings in time that depends only on their lengths,
// never on where they first differ.
int secret_equals(const char* a, const char* b);
