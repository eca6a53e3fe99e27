#pragma once

// Answers one run of the program: a command-line flag, the descriptor request, or the CGI
// request in the environment, written whole to standard output. Returns the exit status (0).
int handle_request(int argc, char** argv);
