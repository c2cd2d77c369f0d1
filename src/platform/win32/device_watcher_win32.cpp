// win32_hid.h brings windows.h, which dbt.h needs first.
#include "platform/win32/win32_hid.h"

#include <dbt.h>

#include <condition_variable>
#include <system_error>
#include <thread>

#include "common/mutex.h"
#include "platform/device_watcher.h"

namespace platform {
namespace {

const char kClassName[] = "CorvaneHidNotify";
const char kWindowTitle[] = "Corvane HID Notify";

// A thread that owns a hidden message-only window registered for HID
// interface arrival and removal broadcasts.
class Win32DeviceWatcher final : public DeviceWatcher {
public:
    ~Win32DeviceWatcher() override { stop(); }

    bool start(std::function<void()> onChange, std::string& error) override;
    void stop() override;

private:
    // Shared by start() and the new thread until the thread has signalled.
    struct Handshake {
        Mutex lock;
        std::condition_variable wake;
        bool ready GUARDED_BY(lock) = false;
        bool ok GUARDED_BY(lock) = false;
        std::string error GUARDED_BY(lock);
    };

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void threadMain(Handshake* handshake);
    bool setUp(HWND& window, HDEVNOTIFY& registration, std::string& error);

    std::function<void()> onChange_;  // set before the thread starts
    std::thread thread_;              // owner's thread only
    DWORD threadId_ = 0;              // written before the handshake signals
    Mutex lock_;                      // guards the published window handles
    HWND window_ GUARDED_BY(lock_) = nullptr;
    HDEVNOTIFY registration_ GUARDED_BY(lock_) = nullptr;
};

bool Win32DeviceWatcher::start(std::function<void()> onChange, std::string& error) {
    {
        MutexLock guard(lock_);
        if (window_ != nullptr) return true;
    }
    if (thread_.joinable()) thread_.join();  // a watcher whose loop ended on an error
    onChange_ = std::move(onChange);
    Handshake handshake;
    try {
        thread_ = std::thread(&Win32DeviceWatcher::threadMain, this, &handshake);
    } catch (const std::system_error&) {
        error = "Failed to initialize notification thread";
        return false;
    }
    MutexLock wait(handshake.lock);
    handshake.wake.wait(wait.native(), [&]() REQUIRES(handshake.lock) { return handshake.ready; });
    if (handshake.ok) return true;
    const std::string failure = handshake.error;
    wait.unlock();
    thread_.join();
    error = failure.empty() ? "Failed to initialize notification thread" : failure;
    return false;
}

void Win32DeviceWatcher::stop() {
    if (!thread_.joinable()) return;
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    threadId_ = 0;
}

bool Win32DeviceWatcher::setUp(HWND& window, HDEVNOTIFY& registration, std::string& error) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &Win32DeviceWatcher::windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass);  // fails harmlessly when the class exists

    window = CreateWindowExA(0, kClassName, kWindowTitle, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, this);
    if (window == nullptr) {
        error = "Failed to create notification window";
        return false;
    }
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    registration = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (registration == nullptr) {
        error = "RegisterDeviceNotification failed";
        DestroyWindow(window);
        window = nullptr;
        return false;
    }
    return true;
}

void Win32DeviceWatcher::threadMain(Handshake* handshake) {
    threadId_ = GetCurrentThreadId();
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;
    std::string error;
    const bool ok = setUp(window, registration, error);
    if (ok) {
        MutexLock guard(lock_);
        window_ = window;
        registration_ = registration;
    }
    {
        MutexLock guard(handshake->lock);
        handshake->ok = ok;
        handshake->error = error;
        handshake->ready = true;
        handshake->wake.notify_all();
    }
    // From here on the handshake belongs to start() alone.
    if (!ok) return;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    MutexLock guard(lock_);
    UnregisterDeviceNotification(registration_);
    registration_ = nullptr;
    DestroyWindow(window_);
    window_ = nullptr;
}

LRESULT CALLBACK Win32DeviceWatcher::windowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (create != nullptr && create->lpCreateParams != nullptr) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (message != WM_DEVICECHANGE) return DefWindowProcA(window, message, wParam, lParam);

    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    const bool interfaceEvent =
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && header != nullptr &&
        header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
    if (interfaceEvent) {
        auto* self =
            reinterpret_cast<Win32DeviceWatcher*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && self->onChange_) self->onChange_();
    }
    return 0;
}

}  // namespace

std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher() {
    return std::make_unique<Win32DeviceWatcher>();
}

}  // namespace platform
