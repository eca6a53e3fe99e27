#pragma once
#include "sampling/snapshot.h"

// Takes one sample of the node, ranks its processes and writes the whole metrics response
// (header block, then the metrics document or the sample-failed document).
void json_metrics(bool sort_by_mem, int top);

// Writes the document line for a sampled and ranked snapshot: the sample-failed document when
// snap->ok is 0, otherwise the metrics document with its first `shown` process rows.
void write_metrics_document(const sys_snapshot* snap, const char* stamp, int shown, bool sort_by_mem);
