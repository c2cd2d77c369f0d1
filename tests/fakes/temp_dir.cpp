#include "fakes/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "platform/paths.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        const std::string name = "corvane-test-" + std::to_string(rd()) + "-" +
                                 std::to_string(stamp % 100000) + "-" + std::to_string(counter++);
        fs::path candidate = fs::temp_directory_path() / name;
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = platform::fromPath(candidate);
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(platform::toPath(path_), ec);
}

std::string TempDir::file(const std::string& name) const {
    return platform::joinPath(path_, name);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(platform::toPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(platform::toPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
