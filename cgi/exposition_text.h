#pragma once

// Pieces of the Prometheus text exposition format (version 0.0.4), written to standard output.

// Writes `text` as one label value, quotes included: backslash, double quote and line feed are
// escaped as the format requires, well-formed UTF-8 passes unchanged and every ill-formed
// subsequence becomes U+FFFD, so the value is always valid UTF-8.
void label_value_str(const char* text);

// Writes a sample value with up to 15 significant digits and no trailing zeros, so that tick
// counts turned into seconds read as written ("217.2", "17179869184", "1e+16"); a value that
// is not finite as "NaN", "+Inf" or "-Inf", the format's own words.
void sample_value(double value);
