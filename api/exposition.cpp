#include "api/exposition.h"

#include <stdio.h>

#include "cgi/constants.h"
#include "cgi/exposition_text.h"
#include "cgi/response.h"

namespace {

void family(const char* name, const char* type, const char* help) {
    printf("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void value_line(double value) {
    putchar(' ');
    sample_value(value);
    putchar('\n');
}

void single_gauge(const node_counters* c, uint32_t bit, const char* name, const char* help, double value) {
    if (!(c->have & bit)) return;
    family(name, "gauge", help);
    fputs(name, stdout);
    value_line(value);
}

void write_info(const node_counters* c) {
    family("ravlen_info", "gauge", "Identity of the node: plugin version, platform, host name and CPU model.");
    write_text("ravlen_info{version=\"" PLUGIN_VERSION "\",platform=");
    label_value_str(c->platform);
    // An empty label is the same as no label; unknown names are left out.
    if (c->host[0]) {
        write_text(",host=");
        label_value_str(c->host);
    }
    if (c->cpu_model[0]) {
        write_text(",cpu_model=");
        label_value_str(c->cpu_model);
    }
    write_text("}");
    value_line(1);
}

void write_cpu(const node_counters* c) {
    if (c->ncpus <= 0) return;
    family("ravlen_cpu_seconds_total", "counter",
           "Seconds the CPUs spent in each mode since boot; a row without cpu covers the whole machine.");
    const int n = c->ncpus < MAX_CORES ? c->ncpus : MAX_CORES;
    for (int i = 0; i < n; i++) {
        const cpu_time_row& row = c->cpus[i];
        for (int mode = 0; mode < CPU_MODES; mode++) {
            if (!(row.modes & (1u << mode))) continue;
            if (row.cpu == CPU_WHOLE_MACHINE) {
                printf("ravlen_cpu_seconds_total{mode=\"%s\"}", cpu_mode_name(mode));
            } else {
                printf("ravlen_cpu_seconds_total{cpu=\"%ld\",mode=\"%s\"}", static_cast<long>(row.cpu),
                       cpu_mode_name(mode));
            }
            value_line(row.seconds[mode]);
        }
    }
}

void write_processes_by_state(const node_counters* c) {
    if (!(c->have & HAVE_PROC_COUNT)) return;
    family("ravlen_processes", "gauge", "Processes on the node, by scheduling state where the platform reports one.");
    if (c->procs_in_state[0] > 0) {
        fputs("ravlen_processes", stdout);
        value_line(c->procs_in_state[0]);
    }
    for (int state = 1; state < PROC_STATE_SLOTS; state++) {
        if (c->procs_in_state[state] <= 0) continue;
        const char letter[2] = {static_cast<char>(state), '\0'};
        write_text("ravlen_processes{state=");
        label_value_str(letter);
        write_text("}");
        value_line(c->procs_in_state[state]);
    }
}

// One family of per-process series; rows whose figure was not read are left out, and the family
// with them when none was.
void write_process_family(const node_counters* c, int shown, uint32_t figure, const char* name, const char* type,
                          const char* help) {
    bool any = false;
    for (int i = 0; i < shown; i++) {
        const counter_proc_row& row = c->processes[i];
        if (!(row.measured & figure)) continue;
        if (!any) family(name, type, help);
        any = true;
        printf("%s{pid=\"%ld\",name=", name, static_cast<long>(row.pid));
        label_value_str(row.name);
        write_text("}");
        value_line(figure == PROC_CPU ? row.cpu_seconds : row.resident_bytes);
    }
}

}  // namespace

void write_exposition(const node_counters* c, int shown) {
    write_info(c);
    write_cpu(c);
    single_gauge(c, HAVE_MEM_TOTAL, "ravlen_memory_total_bytes", "Physical memory, total.", c->mem_total_bytes);
    single_gauge(c, HAVE_MEM_AVAILABLE, "ravlen_memory_available_bytes",
                 "Physical memory available to new work without swapping.", c->mem_available_bytes);
    single_gauge(c, HAVE_MEM_CACHED, "ravlen_memory_cached_bytes",
                 "Memory used as cache: page cache and reclaimable kernel slabs.", c->mem_cached_bytes);
    single_gauge(c, HAVE_SWAP_TOTAL, "ravlen_swap_total_bytes", "Swap space (the page file on Windows), total.",
                 c->swap_total_bytes);
    single_gauge(c, HAVE_SWAP_FREE, "ravlen_swap_free_bytes", "Swap space (the page file on Windows), free.",
                 c->swap_free_bytes);
    single_gauge(c, HAVE_BOOT_TIME, "ravlen_boot_time_seconds", "When the machine started, in seconds since 1970 UTC.",
                 c->boot_time_seconds);
    single_gauge(c, HAVE_LOAD, "ravlen_load1", "Load average over 1 minute.", c->load1);
    single_gauge(c, HAVE_LOAD, "ravlen_load5", "Load average over 5 minutes.", c->load5);
    single_gauge(c, HAVE_LOAD, "ravlen_load15", "Load average over 15 minutes.", c->load15);
    write_processes_by_state(c);
    write_process_family(c, shown, PROC_CPU, "ravlen_process_cpu_seconds_total", "counter",
                         "CPU seconds used by the process since it started.");
    write_process_family(c, shown, PROC_RESIDENT, "ravlen_process_resident_memory_bytes", "gauge",
                         "Resident memory (working set) of the process.");
}

void prometheus_metrics(bool sort_by_mem, int top) {
    // Static storage, as the sample record: far too large for the stack, never on the heap.
    static node_counters counters;
    read_counters(&counters, top > 0);
    const int shown = rank_counter_processes(&counters, sort_by_mem, top);
    exposition_header();
    write_exposition(&counters, shown);
}
