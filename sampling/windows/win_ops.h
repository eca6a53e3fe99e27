#pragma once
#include <stdint.h>

// The platform operations that the Windows sampler logic needs, as a small table, so that the
// logic compiles and is tested on every platform. The real table binds them to kernel32; tests
// bind them to a scripted fake. Handles are opaque pointers; `ctx` is handed back to every call.
struct win_memory_status {
    uint64_t total_phys;       // ullTotalPhys
    uint64_t avail_phys;       // ullAvailPhys
    uint64_t total_page_file;  // ullTotalPageFile
    uint64_t avail_page_file;  // ullAvailPageFile
};

struct win_process_entry {
    uint32_t pid;              // th32ProcessID
    uint16_t exe_file[260];    // szExeFile, UTF-16 code units, NUL-terminated
};

#define WIN_PROCESS_ACCESS 0x1010u  // PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ

struct win_ops {
    void* ctx;
    // GetComputerNameW: NUL-terminated UTF-16 name into buf (capacity units); non-zero on success.
    int (*get_computer_name)(void* ctx, uint16_t* buf, uint32_t capacity);
    // GetSystemTimes: cumulative 100 ns counts summed over all processors; non-zero on success.
    int (*get_system_times)(void* ctx, uint64_t* idle, uint64_t* kernel, uint64_t* user);
    // Sleep.
    void (*sleep_ms)(void* ctx, uint32_t ms);
    // GlobalMemoryStatusEx; non-zero on success.
    int (*global_memory_status)(void* ctx, win_memory_status* status);
    // GetTickCount64: milliseconds since the machine started.
    uint64_t (*tick_count64)(void* ctx);
    // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0): a handle, or nullptr for INVALID_HANDLE_VALUE.
    void* (*create_process_snapshot)(void* ctx);
    // Process32FirstW / Process32NextW; zero at the end of the list or on error.
    int (*process_first)(void* ctx, void* snapshot, win_process_entry* entry);
    int (*process_next)(void* ctx, void* snapshot, win_process_entry* entry);
    // OpenProcess(access, FALSE, pid): a handle, or nullptr.
    void* (*open_process)(void* ctx, uint32_t access, uint32_t pid);
    // K32GetProcessMemoryInfo: WorkingSetSize in bytes; non-zero on success.
    int (*working_set_size)(void* ctx, void* process, uint64_t* bytes);
    // CloseHandle.
    void (*close_handle)(void* ctx, void* handle);
};
