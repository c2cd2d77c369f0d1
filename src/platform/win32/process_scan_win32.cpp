#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

#include <cctype>

#include "platform/process_scan.h"

namespace platform {

namespace {

struct SnapshotHandle {
    HANDLE handle;
    explicit SnapshotHandle(HANDLE h) : handle(h) {}
    ~SnapshotHandle() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    SnapshotHandle(const SnapshotHandle&) = delete;
    SnapshotHandle& operator=(const SnapshotHandle&) = delete;
};

}  // namespace

bool isAnyProcessRunning(const std::vector<std::string>& names) {
    SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.handle == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.handle, &entry); more;
         more = Process32Next(snapshot.handle, &entry)) {
        if (matchesAnyName(executableBaseName(entry.szExeFile), names)) return true;
    }
    return false;
}

}  // namespace platform
