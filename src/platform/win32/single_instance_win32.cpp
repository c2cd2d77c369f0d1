#include <windows.h>

#include "platform/single_instance.h"

namespace platform {

struct SingleInstance::Handle {
    HANDLE mutex = nullptr;
};

SingleInstance::SingleInstance(const std::string& name) : handle_(new Handle) {
    handle_->mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    if (!handle_->mutex) {
        state_ = State::Unavailable;
    } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
        state_ = State::AlreadyRunning;
    } else {
        state_ = State::Acquired;
    }
}

SingleInstance::~SingleInstance() {
    if (handle_->mutex) CloseHandle(handle_->mutex);
}

}  // namespace platform
