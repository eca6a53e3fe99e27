#pragma once

// Writes the current UTC time as "YYYY-MM-DDTHH:MM:SSZ" into a 40-byte buffer.
void utc_stamp(char* out40);

// The id of the running process.
long current_process_id();
