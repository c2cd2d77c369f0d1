#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

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

bool isNotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Reads at most limit bytes; false with GetLastError() on a read failure.
bool readUpTo(HANDLE file, std::uint64_t limit, std::string& bytes) {
    char buffer[16384];
    while (bytes.size() < limit) {
        const std::uint64_t room = limit - bytes.size();
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(room < sizeof buffer ? room : sizeof buffer);
        if (!ReadFile(file, buffer, ask, &got, nullptr)) return false;
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    return true;
}

}  // namespace

InputFile readInputFile(const std::string& path, std::string& bytes, unsigned long& errorCode,
                        std::uint64_t maxBytes) {
    const std::wstring name = toPath(path).native();
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &attributes)) {
        if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return InputFile::Folder;
    } else if (isNotFound(GetLastError())) {
        errorCode = GetLastError();
        return InputFile::NotFound;
    }
    // Devices and pipes may have no attributes: the opened handle's type
    // tells (a pipe's open fails at once when no instance is free).
    FileHandle file(CreateFileW(name.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        errorCode = GetLastError();
        return isNotFound(errorCode) ? InputFile::NotFound : InputFile::Failed;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return InputFile::NotRegular;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        errorCode = GetLastError();
        return InputFile::Failed;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return InputFile::TooLarge;
    std::string content;
    if (!readUpTo(file.get(), maxBytes + 1, content)) {
        errorCode = GetLastError();
        return InputFile::Failed;
    }
    if (content.size() > maxBytes) return InputFile::TooLarge;
    bytes = std::move(content);
    return InputFile::Ok;
}

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
