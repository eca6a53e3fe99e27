#pragma once

// Puts standard output into binary mode where the platform has a text mode (Windows), so that
// the CR LF of the header blocks and the bare LF ending each document reach the host unchanged.
// Does nothing elsewhere. Call before the first byte is written.
void set_binary_stdout();
