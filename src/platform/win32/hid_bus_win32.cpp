#include "platform/win32/win32_hid.h"

#include <cstring>
#include <vector>

namespace platform {
namespace win32 {

UniqueHandle openDevicePath(const std::string& path, DWORD flags, bool readOnlyFallback) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    UniqueHandle handle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                    OPEN_EXISTING, flags, nullptr));
    if (!handle.valid() && readOnlyFallback) {
        handle = UniqueHandle(
            CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr));
    }
    return handle;
}

namespace {

// Owns a SetupAPI device information set.
class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet() {
        if (valid()) SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

// The device path of one interface, or empty.
std::string interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return {};
    // DWORD storage gives the structure its alignment.
    std::vector<DWORD> storage(size / sizeof(DWORD) + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) return {};
    const std::size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    return std::string(detail->DevicePath, strnlen(detail->DevicePath, room));
}

class Win32HidBus final : public HidBus {
public:
    std::vector<std::string> enumerate() override {
        std::vector<std::string> paths;
        GUID guid;
        HidD_GetHidGuid(&guid);
        DeviceInfoSet set(
            SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (!set.valid()) return paths;
        for (DWORD member = 0;; ++member) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof(data);
            if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, member, &data)) break;
            std::string path = interfacePath(set.get(), data);
            if (!path.empty()) paths.push_back(std::move(path));
        }
        return paths;
    }

    bool probe(const std::string& path, std::uint16_t& vendorId,
               std::uint16_t& productId) override {
        const UniqueHandle handle = openDevicePath(path, 0, true);
        if (!handle.valid()) return false;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (!HidD_GetAttributes(handle.get(), &attributes)) return false;
        vendorId = attributes.VendorID;
        productId = attributes.ProductID;
        return true;
    }

    std::unique_ptr<HidReadHandle> openRead(const std::string& path) override {
        return openReadHandle(path);
    }

    std::unique_ptr<HidWriteHandle> openWrite(const std::string& path) override {
        return openWriteHandle(path);
    }
};

}  // namespace
}  // namespace win32

std::unique_ptr<HidBus> createSystemHidBus() {
    return std::make_unique<win32::Win32HidBus>();
}

}  // namespace platform
