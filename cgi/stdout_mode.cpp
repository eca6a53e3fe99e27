#include "cgi/stdout_mode.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

void set_binary_stdout() { _setmode(_fileno(stdout), _O_BINARY); }
#else
void set_binary_stdout() {}
#endif
