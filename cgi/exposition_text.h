#pragma once

// Pieces of the Prometheus text exposition format (version 0.0.4), written to standard output.

// Writes `text` as one label value, quotes included: backslash, double quote and line feed are
// escaped as the format requires, well-formed UTF-8 passes unchanged and every ill-formed
// subsequence becomes U+FFFD, so the value is always valid UTF-8.
void label_value_str(const char* text);

// Writes a sample value: the shortest of up to 15 significant digits that the format's parser
// reads back as the same figure ("12.5", "17179869184"); "NaN", "+Inf" or "-Inf" otherwise.
void sample_value(double value);
