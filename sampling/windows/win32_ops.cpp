// The Windows platform operations bound to kernel32, and the sampler entry of the Windows build.
#define PSAPI_VERSION 2  // K32GetProcessMemoryInfo from kernel32, no psapi.dll
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <string.h>

#include "sampling/snapshot.h"
#include "sampling/windows/win_ops.h"
#include "sampling/windows/win_sampler.h"

static_assert(sizeof(wchar_t) == sizeof(uint16_t), "szExeFile holds UTF-16 code units");
static_assert(sizeof(win_process_entry::exe_file) == sizeof(PROCESSENTRY32W::szExeFile),
              "the entry's name buffer matches szExeFile");

namespace {

uint64_t filetime_count(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

int get_computer_name(void*, uint16_t* buf, uint32_t capacity) {
    DWORD size = capacity;
    return GetComputerNameW(reinterpret_cast<wchar_t*>(buf), &size) ? 1 : 0;
}

int get_system_times(void*, uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    FILETIME i, k, u;
    if (!GetSystemTimes(&i, &k, &u)) return 0;
    *idle = filetime_count(i);
    *kernel = filetime_count(k);
    *user = filetime_count(u);
    return 1;
}

void sleep_ms(void*, uint32_t ms) { Sleep(ms); }

int global_memory_status(void*, win_memory_status* status) {
    MEMORYSTATUSEX m;
    memset(&m, 0, sizeof m);
    m.dwLength = sizeof m;
    if (!GlobalMemoryStatusEx(&m)) return 0;
    status->total_phys = m.ullTotalPhys;
    status->avail_phys = m.ullAvailPhys;
    status->total_page_file = m.ullTotalPageFile;
    status->avail_page_file = m.ullAvailPageFile;
    return 1;
}

uint64_t tick_count64(void*) { return GetTickCount64(); }

void* create_process_snapshot(void*) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot;
}

// Process32FirstW and Process32NextW share one shape: a fresh record per call, then a copy out.
int process_entry(void* snapshot, win_process_entry* entry, BOOL(WINAPI* step)(HANDLE, PROCESSENTRY32W*)) {
    PROCESSENTRY32W e;
    memset(&e, 0, sizeof e);
    e.dwSize = sizeof e;
    if (!step(snapshot, &e)) return 0;
    entry->pid = e.th32ProcessID;
    memcpy(entry->exe_file, e.szExeFile, sizeof entry->exe_file);
    entry->exe_file[MAX_PATH - 1] = 0;
    return 1;
}

int process_first(void*, void* snapshot, win_process_entry* entry) {
    return process_entry(snapshot, entry, Process32FirstW);
}

int process_next(void*, void* snapshot, win_process_entry* entry) {
    return process_entry(snapshot, entry, Process32NextW);
}

void* open_process(void*, uint32_t access, uint32_t pid) { return OpenProcess(access, FALSE, pid); }

int working_set_size(void*, void* process, uint64_t* bytes) {
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    if (!K32GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    *bytes = counters.WorkingSetSize;
    return 1;
}

void close_handle(void*, void* handle) { CloseHandle(handle); }

}  // namespace

void sample_system(sys_snapshot* snap) {
    const win_ops ops = {
        nullptr,
        get_computer_name,
        get_system_times,
        sleep_ms,
        global_memory_status,
        tick_count64,
        create_process_snapshot,
        process_first,
        process_next,
        open_process,
        working_set_size,
        close_handle,
    };
    sample_windows(snap, &ops);
}
