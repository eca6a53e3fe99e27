#pragma once

// Takes one sample of the node, ranks its processes and writes the whole metrics response
// (header block, then the metrics document or the sample-failed document).
void json_metrics(bool sort_by_mem, int top);
