#include "api/actions.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "api/clock.h"
#include "api/exposition.h"
#include "api/metrics.h"
#include "cgi/constants.h"
#include "cgi/query.h"
#include "cgi/response.h"
#include "sampling/snapshot.h"

int parse_top(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    int negative = 0;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long value = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (value <= MAX_PROCS) value = value * 10 + (*p - '0');  // past the range it no longer matters
    }
    if (negative) value = -value;
    return value >= 1 && value <= MAX_PROCS ? static_cast<int>(value) : DEFAULT_TOP;
}

static void write_unknown_action(const char* action) {
    json_header();
    write_text("{\"ok\":false,\"error\":\"unknown_action\",\"supported\":[\"metrics\",\"info\"],\"requested\":");
    json_str(action);
    write_text("}\n");
}

static void write_info() {
    char stamp[40];
    utc_stamp(stamp);
    const char* password = getenv("KIV_PASSWORD");
    json_header();
    write_text("{\"ok\":true,\"action\":\"info\",\"plugin\":\"" PLUGIN_ID "\",\"version\":\"" PLUGIN_VERSION
               "\",\"platform\":");
    json_str(PLATFORM_NAME);
    printf(",\"pid\":%ld,\"utc\":", current_process_id());
    json_str(stamp);
    write_text(",\"node_auth\":");
    write_text(password && *password ? "true" : "false");
    printf(",\"supported\":[\"metrics\",\"info\"],\"zero_network\":true,\"samples_cpu_delta_ms\":%d}\n",
           CPU_SAMPLE_MS);
}

int mode_json(const char* query) {
    char action[64];
    char sort[16];
    char top[16];
    get_query_val(query, "action", action, sizeof action);
    get_query_val(query, "sort", sort, sizeof sort);
    get_query_val(query, "top", top, sizeof top);

    if (action[0] == '\0' || strcmp(action, "metrics") == 0) {
        char format[16];
        get_query_val(query, "format", format, sizeof format);
        if (strcmp(format, "prometheus") == 0) {
            // Per-process series only when asked for: each pid label is a series of its own.
            prometheus_metrics(strcmp(sort, "mem") == 0, top[0] ? parse_top(top) : 0);
        } else {
            json_metrics(strcmp(sort, "mem") == 0, top[0] ? parse_top(top) : DEFAULT_TOP);
        }
    } else if (strcmp(action, "info") == 0) {
        write_info();
    } else {
        write_unknown_action(action);
    }
    return 0;
}
