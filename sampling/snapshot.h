#pragma once
#include <stdint.h>

#define MAX_CORES 256
#define MAX_PROCS 4096
#define CPU_SAMPLE_MS 80

#ifndef PLATFORM_NAME
#error "PLATFORM_NAME must be defined by the build"
#endif
