#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/console.h"

namespace platform {
namespace {

std::atomic<bool (*)()> g_stopHandler{nullptr};

bool isConsoleLike(DWORD stdHandle) {
    const DWORD type = GetFileType(GetStdHandle(stdHandle));
    return type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE;
}

BOOL WINAPI consoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    return runConsoleStopHandler(g_stopHandler.load(), event == CTRL_CLOSE_EVENT) ? TRUE : FALSE;
}

}  // namespace

void attachParentConsole() {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // Streams the user redirected to a file or a pipe stay where they are.
    if (isConsoleLike(STD_OUTPUT_HANDLE)) (void)std::freopen("CONOUT$", "w", stdout);
    if (isConsoleLike(STD_ERROR_HANDLE)) (void)std::freopen("CONOUT$", "w", stderr);
    if (isConsoleLike(STD_INPUT_HANDLE)) (void)std::freopen("CONIN$", "r", stdin);
}

bool installConsoleStopHandler(bool (*handler)()) {
    g_stopHandler.store(handler);
    return SetConsoleCtrlHandler(consoleControl, TRUE) != FALSE;
}

}  // namespace platform
