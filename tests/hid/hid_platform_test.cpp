#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/device_watcher.h"
#include "platform/hid_bus.h"

#ifdef _WIN32
#include <windows.h>

#include <dbt.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "fakes/temp_dir.h"
#include "platform/hidraw.h"
#endif

using namespace std::chrono_literals;
using ReadResult = platform::HidReadHandle::ReadResult;

namespace {

// The ids of the configured panels: no machine running these tests has one.
constexpr std::uint16_t kPanelVid = 0x1A2B;
constexpr std::uint16_t kPanelPid = 0x3C4D;

class ChangeCounter {
public:
    std::function<void()> callback() {
        return [this] { ++count_; };
    }
    int count() const { return count_; }
    bool waitFor(int n, std::chrono::milliseconds timeout = 3000ms) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (count_ < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

private:
    std::atomic<int> count_{0};
};

TEST(SystemHidBusTest, EnumerationFindsNoConfiguredPanel) {
    auto bus = platform::createSystemHidBus();
    int matches = 0;
    for (const std::string& path : bus->enumerate()) {
        EXPECT_FALSE(path.empty());
        std::uint16_t vid = 0;
        std::uint16_t pid = 0;
        if (bus->probe(path, vid, pid) && vid == kPanelVid && pid == kPanelPid) ++matches;
    }
    EXPECT_EQ(matches, 0);
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    EXPECT_FALSE(bus->probe("no-such-device-path", vid, pid));
    EXPECT_FALSE(bus->openRead("no-such-device-path"));
    EXPECT_FALSE(bus->openWrite("no-such-device-path"));
}

TEST(SystemDeviceWatcherTest, StartsStopsAndRestarts) {
    auto watcher = platform::createSystemDeviceWatcher();
    ChangeCounter changes;
    std::string error;
    ASSERT_TRUE(watcher->start(changes.callback(), error)) << error;
    EXPECT_TRUE(watcher->start(changes.callback(), error));
    const auto before = std::chrono::steady_clock::now();
    watcher->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    watcher->stop();
    ASSERT_TRUE(watcher->start(changes.callback(), error)) << error;
}

#ifdef _WIN32

// Wine brings HID devices of its own (vendor 0x845E); a real Windows machine
// has some HID device or other. The read path is exercised on the first one
// that opens.
std::unique_ptr<platform::HidReadHandle> openAnyHidDevice(platform::HidBus& bus,
                                                          std::string& path) {
    for (const std::string& candidate : bus.enumerate()) {
        if (auto handle = bus.openRead(candidate)) {
            path = candidate;
            return handle;
        }
    }
    return nullptr;
}

TEST(Win32HidBusTest, OverlappedReadTimesOutKeepsItsReadAndCancels) {
    auto bus = platform::createSystemHidBus();
    std::string path;
    auto handle = openAnyHidDevice(*bus, path);
    if (!handle) GTEST_SKIP() << "no HID device can be opened here";
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    EXPECT_TRUE(bus->probe(path, vid, pid)) << path;
    std::string serial;
    handle->serialNumber(serial);  // may or may not exist; must not crash

    std::uint8_t buffer[64] = {};
    std::size_t count = 0;
    const auto first = handle->read(buffer, sizeof(buffer), count, 20ms);
    EXPECT_NE(first, ReadResult::Failed) << path;
    if (first == ReadResult::Timeout) {
        // The same read is still in flight: waiting on it again is fine.
        EXPECT_NE(handle->read(buffer, sizeof(buffer), count, 20ms), ReadResult::Failed);
    }
    auto blocked = std::async(std::launch::async, [&] {
        std::uint8_t local[64];
        std::size_t n = 0;
        ReadResult result = ReadResult::Data;
        while (result == ReadResult::Data)
            result = handle->read(local, sizeof(local), n, 60000ms);
        return result;
    });
    std::this_thread::sleep_for(30ms);
    handle->cancel();
    ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), ReadResult::Failed);
    EXPECT_EQ(handle->read(buffer, sizeof(buffer), count, 60000ms), ReadResult::Failed);
}

TEST(Win32HidBusTest, HandleWithAReadInFlightClosesCleanly) {
    auto bus = platform::createSystemHidBus();
    std::string path;
    auto handle = openAnyHidDevice(*bus, path);
    if (!handle) GTEST_SKIP() << "no HID device can be opened here";
    std::uint8_t buffer[64] = {};
    std::size_t count = 0;
    handle->read(buffer, sizeof(buffer), count, 10ms);
    handle.reset();  // cancels and waits for the outstanding read first
    auto again = bus->openRead(path);
    EXPECT_TRUE(again);
}

HWND findNotifyWindow(HWND after = nullptr) {
    return FindWindowExA(HWND_MESSAGE, after, "CorvaneHidNotify", nullptr);
}

LRESULT sendDeviceChange(HWND window, WPARAM event, DWORD deviceType) {
    DEV_BROADCAST_HDR header{};
    header.dbch_size = sizeof(header);
    header.dbch_devicetype = deviceType;
    return SendMessageA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header));
}

TEST(Win32DeviceWatcherTest, InterfaceArrivalsAndRemovalsCallOnChange) {
    auto watcher = platform::createSystemDeviceWatcher();
    ChangeCounter changes;
    std::string error;
    if (!watcher->start(changes.callback(), error)) {
        // The only acceptable failures are the documented ones.
        EXPECT_TRUE(error == "Failed to create notification window" ||
                    error == "RegisterDeviceNotification failed" ||
                    error == "Failed to initialize notification thread")
            << error;
        GTEST_SKIP() << error;
    }
    HWND window = findNotifyWindow();
    ASSERT_NE(window, nullptr);
    char title[64] = {};
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ(title, "Corvane HID Notify");

    EXPECT_EQ(sendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE), 0);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(sendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE), 0);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(sendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME), 0);
    EXPECT_EQ(sendDeviceChange(window, DBT_DEVNODES_CHANGED, DBT_DEVTYP_DEVICEINTERFACE), 0);
    EXPECT_EQ(SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 0);
    EXPECT_EQ(changes.count(), 2);

    // A second start neither fails nor creates a second window.
    EXPECT_TRUE(watcher->start(changes.callback(), error));
    EXPECT_EQ(findNotifyWindow(window), nullptr);

    const auto before = std::chrono::steady_clock::now();
    watcher->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(findNotifyWindow(), nullptr);
    watcher->stop();

    ASSERT_TRUE(watcher->start(changes.callback(), error)) << error;
    window = findNotifyWindow();
    ASSERT_NE(window, nullptr);
    sendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_EQ(changes.count(), 3);
}

#else

TEST(HidrawUeventTest, ParsesIdsSerialAndName) {
    const std::string text =
        "DRIVER=hid-generic\n"
        "HID_ID=0003:00001A2B:00003C4D\n"
        "HID_NAME=Corvane Panel PFD\n"
        "HID_PHYS=usb-0000:00:14.0-2/input0\n"
        "HID_UNIQ=E6614103E7452D2F\n"
        "MODALIAS=hid:b0003g0001v00001A2Bp00003C4D\n";
    platform::HidrawUevent uevent;
    ASSERT_TRUE(platform::parseHidrawUevent(text, uevent));
    EXPECT_EQ(uevent.busType, 3);
    EXPECT_EQ(uevent.vendorId, 0x1A2B);
    EXPECT_EQ(uevent.productId, 0x3C4D);
    EXPECT_EQ(uevent.serial, "E6614103E7452D2F");
    EXPECT_EQ(uevent.name, "Corvane Panel PFD");

    ASSERT_TRUE(
        platform::parseHidrawUevent("HID_UNIQ=\r\nHID_ID=0005:0000abcd:0000ef01\r\n", uevent));
    EXPECT_EQ(uevent.busType, 5);
    EXPECT_EQ(uevent.vendorId, 0xABCD);
    EXPECT_EQ(uevent.productId, 0xEF01);
    EXPECT_EQ(uevent.serial, "");
}

TEST(HidrawUeventTest, RejectsMissingOrMalformedIds) {
    platform::HidrawUevent uevent;
    uevent.vendorId = 0x1111;
    for (const char* bad : {"", "HID_NAME=x\nHID_UNIQ=y\n", "HID_ID=0003:00001A2B\n",
                            "HID_ID=0003:00011A2B:00003C4D\n", "HID_ID=0003:00001A2G:00003C4D\n",
                            "HID_ID=0003::00003C4D\n", "HID_ID=0003:000000001A2B:00003C4D\n"}) {
        EXPECT_FALSE(platform::parseHidrawUevent(bad, uevent)) << bad;
    }
    EXPECT_EQ(uevent.vendorId, 0x1111);
}

// A /dev and /sys/class/hidraw in a temporary folder. Nodes are FIFOs, so
// reads block and wake like a real hidraw node.
class FakeHidraw {
public:
    FakeHidraw() {
        std::filesystem::create_directories(dev());
        std::filesystem::create_directories(sys());
    }
    std::string dev() const { return dir_.path() + "/dev"; }
    std::string sys() const { return dir_.path() + "/sys"; }
    std::string addNode(const std::string& name, const std::string& uevent) {
        const std::string node = dev() + "/" + name;
        EXPECT_EQ(::mkfifo(node.c_str(), 0600), 0);
        if (!uevent.empty()) {
            std::filesystem::create_directories(sys() + "/" + name + "/device");
            std::ofstream(sys() + "/" + name + "/device/uevent") << uevent;
        }
        return node;
    }

private:
    TempDir dir_;
};

TEST(HidrawBusTest, EnumeratesNodesInNumberOrderAndProbesThroughSysfs) {
    FakeHidraw fake;
    const std::string panel =
        fake.addNode("hidraw10", "HID_ID=0003:00001A2B:00003C4D\nHID_UNIQ=SER-9\n");
    fake.addNode("hidraw2", "HID_ID=0003:0000845E:00000001\n");
    fake.addNode("hidraw3", "");  // no sysfs entry
    fake.addNode("hidrawX", "");
    fake.addNode("mouse0", "");
    auto bus = platform::createHidrawBus(fake.dev(), fake.sys());
    const std::vector<std::string> expected = {fake.dev() + "/hidraw2", fake.dev() + "/hidraw3",
                                               panel};
    EXPECT_EQ(bus->enumerate(), expected);
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    ASSERT_TRUE(bus->probe(panel, vid, pid));
    EXPECT_EQ(vid, 0x1A2B);
    EXPECT_EQ(pid, 0x3C4D);
    EXPECT_FALSE(bus->probe(fake.dev() + "/hidraw3", vid, pid));
    EXPECT_FALSE(bus->probe(fake.dev() + "/hidraw99", vid, pid));

    auto reader = bus->openRead(panel);
    ASSERT_TRUE(reader);
    std::string serial;
    ASSERT_TRUE(reader->serialNumber(serial));
    EXPECT_EQ(serial, "SER-9");
    std::uint8_t feature[32] = {0x20};
    EXPECT_FALSE(reader->getFeature(feature, sizeof(feature)));  // a FIFO has no feature reports
}

TEST(HidrawBusTest, ReadWaitsAtMostTheTimeoutDeliversDataAndBothHandlesCancel) {
    FakeHidraw fake;
    const std::string node = fake.addNode("hidraw0", "HID_ID=0003:00001A2B:00003C4D\n");
    auto bus = platform::createHidrawBus(fake.dev(), fake.sys());
    auto reader = bus->openRead(node);
    auto writer = bus->openWrite(node);
    ASSERT_TRUE(reader && writer);

    std::uint8_t buffer[32] = {};
    std::size_t count = 0;
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(reader->read(buffer, sizeof(buffer), count, 30ms), ReadResult::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 25ms);

    std::uint8_t report[32] = {0x01, 0x00, 0x01, 0x00, 0x34, 0x12, 0x01};
    std::size_t written = 0;
    unsigned long error = 0;
    ASSERT_TRUE(writer->write(report, sizeof(report), written, error));
    EXPECT_EQ(written, 32u);
    ASSERT_EQ(reader->read(buffer, sizeof(buffer), count, 1000ms), ReadResult::Data);
    EXPECT_EQ(count, 32u);
    EXPECT_EQ(buffer[4], 0x34);
    EXPECT_FALSE(writer->setOutputReport(report, sizeof(report), error));  // not a HID node
    EXPECT_NE(error, 0ul);

    auto blocked = std::async(std::launch::async, [&] {
        std::uint8_t local[32];
        std::size_t n = 0;
        return reader->read(local, sizeof(local), n, 60000ms);
    });
    std::this_thread::sleep_for(20ms);
    before = std::chrono::steady_clock::now();
    reader->cancel();
    ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), ReadResult::Failed);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    // Cancelled for good, even with data waiting.
    ASSERT_TRUE(writer->write(report, sizeof(report), written, error));
    EXPECT_EQ(reader->read(buffer, sizeof(buffer), count, 60000ms), ReadResult::Failed);
    writer->cancel();
    EXPECT_FALSE(writer->write(report, sizeof(report), written, error));
    EXPECT_EQ(error, static_cast<unsigned long>(ECANCELED));
}

TEST(InotifyDeviceWatcherTest, HidrawCreationAndDeletionCallOnChange) {
    TempDir dir;
    auto watcher = platform::createInotifyDeviceWatcher(dir.path());
    ChangeCounter changes;
    std::string error;
    ASSERT_TRUE(watcher->start(changes.callback(), error)) << error;
    std::ofstream(dir.file("ttyUSB0")) << "x";
    std::ofstream(dir.file("hidraw7")) << "x";
    ASSERT_TRUE(changes.waitFor(1));
    std::filesystem::remove(dir.file("hidraw7"));
    ASSERT_TRUE(changes.waitFor(2));
    std::filesystem::remove(dir.file("ttyUSB0"));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(changes.count(), 2);
    watcher->stop();
    watcher->stop();
}

TEST(InotifyDeviceWatcherTest, MissingFolderGivesAClearError) {
    auto watcher = platform::createInotifyDeviceWatcher("/no/such/folder");
    std::string error;
    EXPECT_FALSE(watcher->start([] {}, error));
    EXPECT_NE(error.find("/no/such/folder"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    watcher->stop();
}

#endif

}  // namespace
