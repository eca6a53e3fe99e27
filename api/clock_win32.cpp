#include <string.h>
#include <time.h>
#include <windows.h>

#include "api/clock.h"

void utc_stamp(char* out40) {
    const __time64_t now = _time64(nullptr);
    struct tm utc;
    if (now == -1 || _gmtime64_s(&utc, &now) != 0 || strftime(out40, 40, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        strncpy(out40, "1970-01-01T00:00:00Z", 39);
        out40[39] = '\0';
    }
}

long current_process_id() { return static_cast<long>(GetCurrentProcessId()); }
