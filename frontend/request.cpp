// One request or command from start to finish: command-line flags, the host's descriptor
// request, the password gate, then routing of the CGI request to the JSON side or to the page.
#include "frontend/request.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "api/actions.h"
#include "cgi/constants.h"
#include "cgi/gate.h"
#include "cgi/query.h"
#include "cgi/response.h"
#include "page/page.h"

#define DESCRIPTOR_LINE "{\"name\":\"ravlen\",\"desc\":\"CPU & memory\"}\n"

#define USAGE_FORMAT                                                   \
    "usage: %s [--meta] [--version] [--help]\n"                        \
    "  CGI mode reads QUERY_STRING:\n"                                 \
    "    ?format=json | ?action=metrics   JSON system snapshot\n"      \
    "    ?action=info                     plugin info\n"               \
    "    (no action)                      HTML dashboard\n"

int handle_request(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--meta") == 0) {
            write_text(DESCRIPTOR_LINE);
            return 0;
        }
        if (strcmp(argv[i], "--version") == 0) {
            printf("%s %s\n", PLUGIN_ID, PLUGIN_VERSION);
            return 0;
        }
        if (strcmp(argv[i], "--help") == 0) {
            printf(USAGE_FORMAT, PLUGIN_ID);
            return 0;
        }
    }
    if (getenv("QZ_PLUGIN_META")) {
        write_text(DESCRIPTOR_LINE);
        return 0;
    }

    if (!require_node_auth()) return 0;

    const char* query = getenv("QUERY_STRING");
    if (!query) query = "";
    if (strstr(query, "action=") || strstr(query, "format=json")) return mode_json(query);

    char embed[16];
    const int found = get_query_val(query, "embed", embed, sizeof embed);
    const int embedded = found && (strcmp(embed, "1") == 0 || strcmp(embed, "true") == 0);
    return mode_html(embedded);
}
