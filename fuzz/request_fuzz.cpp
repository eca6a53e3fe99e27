// The whole run (flags, descriptor request, gate, routing, info, unknown actions, the page) on
// fuzzed arguments, query string and carrier values. Runs that would take a metrics sample are
// skipped. Every run must write exactly one known response, and the one its inputs call for.
// Input: one byte whose bits say which variables are set, then NUL-separated fields: the query
// string, KIV_PASSWORD, HTTP_X_KIV_PASSWORD, HTTP_AUTHORIZATION, QZ_PLUGIN_META, then arguments.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi/gate.h"
#include "cgi/query.h"
#include "frontend/request.h"
#include "cgi/response.h"
#include "fuzz/json_check.h"
#include "fuzz/stdout_capture.h"
#include "page/page.h"

static const char* const VARIABLES[] = {"QUERY_STRING", "KIV_PASSWORD", "HTTP_X_KIV_PASSWORD", "HTTP_AUTHORIZATION",
                                        "QZ_PLUGIN_META"};
static const size_t VARIABLE_COUNT = sizeof VARIABLES / sizeof VARIABLES[0];
static const size_t MAX_ARGS = 6;

static const char DESCRIPTOR[] = "{\"name\":\"ravlen\",\"desc\":\"CPU & memory\"}\n";
static const char VERSION[] = "plugin_ravlen 1.0.1\n";
static const char USAGE[] =
    "usage: plugin_ravlen [--meta] [--version] [--help]\n"
    "  CGI mode reads QUERY_STRING:\n"
    "    ?format=json | ?action=metrics   JSON system snapshot\n"
    "    ?action=info                     plugin info\n"
    "    (no action)                      HTML dashboard\n";

static bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

static bool ends_with(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Would the request reach the metrics sample? Only when no flag and no descriptor request
// answer first, and the query routes to the JSON side with an empty or "metrics" action.
static bool routes_to_metrics(const char* query) {
    if (!strstr(query, "action=") && !strstr(query, "format=json")) return false;
    char action[64];
    get_query_val(query, "action", action, sizeof action);
    return action[0] == '\0' || strcmp(action, "metrics") == 0;
}

// The gate's rule, restated: no password configured, or one carrier holds it exactly.
static bool admitted(const char* password, const char* header, const char* auth, const char* query) {
    if (!password || !*password) return true;
    if (header && strcmp(header, password) == 0) return true;
    if (auth) {
        std::string a = auth;
        a.erase(0, a.find_first_not_of(' ') == std::string::npos ? a.size() : a.find_first_not_of(' '));
        if (starts_with(a, "Bearer ")) {
            a.erase(0, 7);
            a.erase(0, a.find_first_not_of(' ') == std::string::npos ? a.size() : a.find_first_not_of(' '));
            if (a == password) return true;
        }
    }
    char pwd[256];
    return query && get_query_val(query, "pwd", pwd, sizeof pwd) && strcmp(pwd, password) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static stdout_capture capture;
    static std::string page_standalone, page_embedded;
    if (page_standalone.empty()) {
        capture.begin();
        mode_html(0);
        page_standalone = capture.end();
        capture.begin();
        mode_html(1);
        page_embedded = capture.end();
    }
    if (size < 1) return 0;

    std::vector<std::string> fields;
    std::string field;
    for (size_t i = 1; i < size; i++) {
        if (data[i] == '\0') {
            fields.push_back(field);
            field.clear();
        } else {
            field += static_cast<char>(data[i]);
        }
    }
    fields.push_back(field);
    fields.resize(VARIABLE_COUNT + MAX_ARGS < fields.size() ? VARIABLE_COUNT + MAX_ARGS : fields.size());
    while (fields.size() < VARIABLE_COUNT) fields.push_back("");

    std::vector<std::string> env_texts;
    for (size_t v = 0; v < VARIABLE_COUNT; v++) {
        if (data[0] & (1u << v)) env_texts.push_back(std::string(VARIABLES[v]) + "=" + fields[v]);
    }
    std::vector<char*> env;
    for (std::string& e : env_texts) env.push_back(&e[0]);
    env.push_back(nullptr);

    std::string program = "plugin_ravlen";
    std::vector<char*> argv{&program[0]};
    const char* flag = nullptr;
    for (size_t a = VARIABLE_COUNT; a < fields.size(); a++) {
        argv.push_back(&fields[a][0]);
        const std::string& arg = fields[a];
        if (!flag && (arg == "--meta" || arg == "--version" || arg == "--help")) flag = arg.c_str();
    }
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    const bool meta = data[0] & (1u << 4);
    const char* query = data[0] & 1u ? fields[0].c_str() : "";
    if (!flag && !meta && routes_to_metrics(query)) return 0;

    auto variable = [&](size_t v) { return data[0] & (1u << v) ? fields[v].c_str() : nullptr; };
    const bool expect_admitted = admitted(variable(1), variable(2), variable(3), variable(0));
    const bool expect_json = strstr(query, "action=") || strstr(query, "format=json");
    char embed[16];
    const bool expect_embedded =
        get_query_val(query, "embed", embed, sizeof embed) && (strcmp(embed, "1") == 0 || strcmp(embed, "true") == 0);

    char** saved = environ;
    environ = env.data();
    capture.begin();
    const int status = handle_request(argc, argv.data());
    const std::string out = capture.end();
    environ = saved;
    if (status != 0) abort();

    if (flag) {
        const std::string f = flag;
        if (out != (f == "--meta" ? DESCRIPTOR : f == "--version" ? VERSION : USAGE)) abort();
    } else if (meta) {
        if (out != DESCRIPTOR) abort();
    } else if (!expect_admitted) {
        if (out != UNAUTHORIZED_RESPONSE) abort();
    } else if (expect_json) {
        if (!starts_with(out, JSON_HEADER_BLOCK)) abort();
        const std::string body = out.substr(strlen(JSON_HEADER_BLOCK));
        if (!ends_with(body, "\n") || body.find('\n') != body.size() - 1) abort();  // one line, LF-terminated
        if (!is_one_json_document(body.substr(0, body.size() - 1))) abort();
    } else {
        if (!starts_with(out, HTML_HEADER_BLOCK) || !ends_with(out, "</html>\n")) abort();
        if (out != (expect_embedded ? page_embedded : page_standalone)) abort();
    }
    return 0;
}
