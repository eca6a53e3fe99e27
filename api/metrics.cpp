#include "api/metrics.h"

#include <stdio.h>

#include "api/clock.h"
#include "cgi/constants.h"
#include "cgi/response.h"
#include "sampling/ranking.h"

// The state letter as printed: a byte that would break the JSON string shows as "?".
static char state_char(char state) {
    const unsigned char c = static_cast<unsigned char>(state);
    return c > 0x20 && c < 0x7F && c != '"' && c != '\\' ? state : '?';
}

void write_metrics_document(const sys_snapshot* snap, const char* stamp, int shown, bool sort_by_mem) {
    if (!snap->ok) {
        write_text("{\"ok\":false,\"error\":\"sample_failed\",\"message\":\"could not read local system counters on this "
                   "node\"}\n");
        return;
    }
    write_text("{\"ok\":true,\"action\":\"metrics\",\"plugin\":\"" PLUGIN_ID "\",\"version\":\"" PLUGIN_VERSION "\"");
    write_text(",\"platform\":");
    json_str(snap->platform);
    write_text(",\"host\":");
    json_str(snap->host);
    write_text(",\"cpu_model\":");
    json_str(snap->cpu_model);
    write_text(",\"utc\":");
    json_str(stamp);
    printf(",\"cpu_pct\":%.1f,\"ncores\":%d,\"cores\":", snap->cpu_pct, snap->ncores);
    write_text("[");
    const int ncores = snap->ncores < MAX_CORES ? snap->ncores : MAX_CORES;
    for (int i = 0; i < ncores; i++) {
        printf("%s{\"core\":%d,\"pct\":%.1f}", i ? "," : "", snap->cores[i].core, snap->cores[i].pct);
    }
    write_text("]");
    printf(",\"mem\":{\"total_kb\":%.0f,\"used_kb\":%.0f,\"free_kb\":%.0f,\"cached_kb\":%.0f,\"pct\":%.1f}",
           snap->mem_total_kb, snap->mem_used_kb, snap->mem_free_kb, snap->mem_cached_kb,
           share_pct(snap->mem_used_kb, snap->mem_total_kb));
    printf(",\"swap\":{\"total_kb\":%.0f,\"used_kb\":%.0f,\"pct\":%.1f}", snap->swap_total_kb, snap->swap_used_kb,
           share_pct(snap->swap_used_kb, snap->swap_total_kb));
    printf(",\"uptime_sec\":%.0f,\"load\":{\"available\":%s,\"load1\":%.2f,\"load5\":%.2f,\"load15\":%.2f}",
           snap->uptime_sec, snap->load_available ? "true" : "false", snap->load1, snap->load5, snap->load15);
    printf(",\"proc_count\":%d,\"top\":%d,\"sort\":", snap->proc_count, shown);
    json_str(sort_by_mem ? "mem" : "cpu");
    write_text(",\"processes\":[");
    for (int i = 0; i < shown; i++) {
        const proc_row* p = &snap->processes[i];
        printf("%s{\"pid\":%ld,\"name\":", i ? "," : "", static_cast<long>(p->pid));
        json_str(p->name);
        printf(",\"cpu\":%.1f,\"rss_kb\":%ld,\"state\":\"%c\"}", p->cpu, static_cast<long>(p->rss_kb),
               state_char(p->state));
    }
    write_text("]}\n");
}

void json_metrics(bool sort_by_mem, int top) {
    // One record per run, in static storage: it is far too large for the stack and never
    // belongs on the heap.
    static sys_snapshot snap;
    sample_system(&snap);
    char stamp[40];
    utc_stamp(stamp);
    const int shown = rank_processes(&snap, sort_by_mem, top);
    json_header();
    write_metrics_document(&snap, stamp, shown, sort_by_mem);
}
