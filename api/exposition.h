#pragma once
#include "sampling/counters.h"

// Reads the node's raw counters once and writes the whole metrics response in the Prometheus
// text exposition format: header block, then every family this platform measures. With `top`
// above 0, also the per-process families for the `top` largest processes, by resident memory
// when `sort_by_mem` is true, else by cumulative CPU seconds.
void prometheus_metrics(bool sort_by_mem, int top);

// Writes the families of `c`, with its first `shown` process rows; families whose figures are
// absent are left out, HELP and TYPE lines included.
void write_exposition(const node_counters* c, int shown);
