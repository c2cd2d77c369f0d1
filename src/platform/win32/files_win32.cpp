#include <windows.h>

#include "platform/files.h"
#include "platform/paths.h"

namespace platform {

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

private:
    HANDLE handle_;
};

bool flushToDisk(const std::wstring& path, unsigned long& errorCode) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !FlushFileBuffers(file.get())) {
        errorCode = GetLastError();
        return false;
    }
    return true;
}

// The volume and file index that name a file, whatever its path.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    // No access rights are needed to ask; backup semantics open folders too.
    FileHandle file(CreateFileW(toPath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid() && GetFileInformationByHandle(file.get(), &info);
}

}  // namespace

bool sameExistingFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return fileIdentity(a, first) && fileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool copyFile(const std::string& from, const std::string& to, unsigned long& errorCode) {
    if (CopyFileW(toPath(from).c_str(), toPath(to).c_str(), FALSE)) return true;
    errorCode = GetLastError();
    return false;
}

bool replaceFile(const std::string& from, const std::string& to, unsigned long& errorCode) {
    const std::wstring source = toPath(from).native();
    const std::wstring target = toPath(to).native();
    if (!flushToDisk(source, errorCode)) return false;
    // WRITE_THROUGH: the call returns only when the new name is on the disk.
    if (!MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        errorCode = GetLastError();
        return false;
    }
    return true;
}

}  // namespace platform
