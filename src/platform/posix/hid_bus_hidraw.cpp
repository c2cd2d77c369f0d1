#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/hidraw.h"
#include "platform/posix/hidraw_handles.h"

namespace platform {
namespace hidraw {

UniqueFd openNode(const std::string& path, int flags, bool readOnlyFallback) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | flags));
    if (!fd.valid() && readOnlyFallback)
        fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
    return fd;
}

namespace {

// "hidraw12" -> 12; -1 for any other name.
long nodeNumber(const std::string& name) {
    const std::string prefix = "hidraw";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    long number = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 1000000) return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class HidrawBus final : public HidBus {
public:
    HidrawBus(std::string devDir, std::string sysClassDir)
        : devDir_(std::move(devDir)), sysClassDir_(std::move(sysClassDir)) {}

    // hidraw nodes in number order, so that hidraw10 follows hidraw9.
    std::vector<std::string> enumerate() override {
        std::vector<std::pair<long, std::string>> nodes;
        if (DIR* dir = ::opendir(devDir_.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const long number = nodeNumber(entry->d_name);
                if (number >= 0) nodes.emplace_back(number, devDir_ + "/" + entry->d_name);
            }
            ::closedir(dir);
        }
        std::sort(nodes.begin(), nodes.end());
        std::vector<std::string> paths;
        for (auto& node : nodes)
            paths.push_back(std::move(node.second));
        return paths;
    }

    bool probe(const std::string& path, std::uint16_t& vendorId,
               std::uint16_t& productId) override {
        if (!openNode(path, O_NONBLOCK, true).valid()) return false;
        HidrawUevent uevent;
        if (!readUevent(path, uevent)) return false;
        vendorId = uevent.vendorId;
        productId = uevent.productId;
        return true;
    }

    std::unique_ptr<HidReadHandle> openRead(const std::string& path) override {
        HidrawUevent uevent;
        readUevent(path, uevent);  // no serial number when sysfs says nothing
        return openReadHandle(path, uevent.serial);
    }

    std::unique_ptr<HidWriteHandle> openWrite(const std::string& path) override {
        return openWriteHandle(path);
    }

private:
    bool readUevent(const std::string& path, HidrawUevent& uevent) const {
        std::ifstream file(sysClassDir_ + "/" + baseName(path) + "/device/uevent");
        if (!file) return false;
        std::ostringstream text;
        text << file.rdbuf();
        return parseHidrawUevent(text.str(), uevent);
    }

    const std::string devDir_;
    const std::string sysClassDir_;
};

}  // namespace
}  // namespace hidraw

std::unique_ptr<HidBus> createHidrawBus(const std::string& devDir, const std::string& sysClassDir) {
    return std::make_unique<hidraw::HidrawBus>(devDir, sysClassDir);
}

std::unique_ptr<HidBus> createSystemHidBus() {
    return createHidrawBus("/dev", "/sys/class/hidraw");
}

}  // namespace platform
