#pragma once

// Readies standard output for a response; call before the first byte is written.
// On Windows it puts standard output into binary mode, so that the CR LF of the header blocks and
// the bare LF ending each document reach the host unchanged. Elsewhere it ignores SIGPIPE: a
// reader that goes away (a browser leaving mid-page, `| head -c1`) must not end the program with
// a signal; the remaining writes fail quietly and the exit status stays 0.
void prepare_stdout();
