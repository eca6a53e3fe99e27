#include "cgi/stdout_mode.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

void prepare_stdout() { _setmode(_fileno(stdout), _O_BINARY); }
#else
#include <signal.h>

void prepare_stdout() { signal(SIGPIPE, SIG_IGN); }
#endif
