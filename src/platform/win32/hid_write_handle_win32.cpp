#include <vector>

#include "platform/win32/win32_hid.h"

namespace platform {
namespace win32 {
namespace {

class Win32WriteHandle final : public HidWriteHandle {
public:
    explicit Win32WriteHandle(UniqueHandle device) : device_(std::move(device)) {}

    bool write(const std::uint8_t* data, std::size_t length, std::size_t& written,
               unsigned long& error) override {
        DWORD count = 0;
        const BOOL ok = WriteFile(device_.get(), data, static_cast<DWORD>(length), &count, nullptr);
        written = count;
        if (!ok) error = GetLastError();
        return ok != FALSE;
    }

    bool setOutputReport(const std::uint8_t* data, std::size_t length,
                         unsigned long& error) override {
        // The call takes a non-const buffer.
        std::vector<std::uint8_t> report(data, data + length);
        if (HidD_SetOutputReport(device_.get(), report.data(), static_cast<ULONG>(length))) {
            return true;
        }
        error = GetLastError();
        return false;
    }

private:
    UniqueHandle device_;
};

}  // namespace

std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path) {
    UniqueHandle device = openDevicePath(path, 0, false);
    if (!device.valid()) return nullptr;
    return std::make_unique<Win32WriteHandle>(std::move(device));
}

}  // namespace win32
}  // namespace platform
