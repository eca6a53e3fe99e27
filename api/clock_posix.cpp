#include <string.h>
#include <time.h>
#include <unistd.h>

#include "api/clock.h"

void utc_stamp(char* out40) {
    const time_t now = time(nullptr);
    struct tm utc;
    if (!gmtime_r(&now, &utc) || strftime(out40, 40, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        strncpy(out40, "1970-01-01T00:00:00Z", 39);
        out40[39] = '\0';
    }
}

long current_process_id() { return static_cast<long>(getpid()); }
