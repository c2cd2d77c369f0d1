// Windows only: a log viewer that holds the log open without delete sharing
// makes every rename of it fail. The log must keep its history and rotate
// once the viewer lets go.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/temp_dir.h"
#include "fakes/test_clocks.h"
#include "log/logger.h"
#include "platform/paths.h"

namespace {

// Opens a file the way a typical viewer does: reading, sharing read and
// write but not delete.
class HeldFile {
public:
    explicit HeldFile(const std::string& path)
        : handle_(CreateFileW(platform::toPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() { release(); }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void release() {
        if (held()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

TEST(LoggerHeldFile, HeldLogKeepsHistoryAndRotatesOnceReleased) {
    TempDir dir;
    ManualClock clock;
    const std::string log = dir.file("CorvaneHID.log");
    for (int i = 1; i <= 5; ++i)
        writeFileBytes(log + "." + std::to_string(i), "old" + std::to_string(i));
    writeFileBytes(log, std::string(100, 'c'));
    Logger& logger = Logger::instance();
    logger.setClock(&clock);
    logger.open(dir.path(), "CorvaneHID", 100, 5, false);

    HeldFile viewer(log);
    ASSERT_TRUE(viewer.held());
    for (int i = 0; i < 20; ++i)
        logger.log(LogLevel::Info, "while held");
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(readFileBytes(log + "." + std::to_string(i)), "old" + std::to_string(i));
    EXPECT_GT(std::filesystem::file_size(platform::toPath(log)), 100u + 20u * 30u);

    viewer.release();
    clock.advance(Logger::kRotationRetry);
    logger.log(LogLevel::Info, "released");
    logger.close();
    logger.setClock(nullptr);
    EXPECT_EQ(readFileBytes(log + ".1").substr(0, 100), std::string(100, 'c'));
    EXPECT_EQ(readFileBytes(log + ".2"), "old1");
    EXPECT_EQ(readFileBytes(log + ".5"), "old4");
    EXPECT_NE(readFileBytes(log).find("released"), std::string::npos);
}

}  // namespace
