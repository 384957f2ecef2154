// (kept out of the unity build, as windows.h must not come before the others' winsock2.h)
#include <windows.h>
// (after windows.h, which they need)
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <random>

#include "encoding.h"
#include "serve_system.h"

namespace host::serve {
namespace {

std::atomic<std::atomic<bool> *> g_stopOnSignal{nullptr};
std::atomic<std::atomic<bool> *> g_cancelOnSignal{nullptr};

// Runs on a thread of its own, which the system starts for the console's event.
BOOL WINAPI OnConsoleStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    std::atomic<bool> *stop = g_stopOnSignal.load();
    if (!stop) return FALSE;  // not serving: the program's own handling
    *stop = true;
    if (std::atomic<bool> *cancel = g_cancelOnSignal.load()) *cancel = true;
    return TRUE;
}

}  // namespace

std::string NewPrivateFolder(const char *prefix) {
    wchar_t temporary[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH) return {};
    std::random_device source;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char unique[24];
        std::snprintf(unique, sizeof unique, "%08x%08x", source(), source());
        const std::wstring folder = temporary + WideFromUtf8(prefix + std::string(unique));
        if (CreateDirectoryW(folder.c_str(), nullptr)) return Utf8FromWide(folder);
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

void StopOnSignals(std::atomic<bool> &stop, std::atomic<bool> &cancel) {
    g_stopOnSignal = &stop;
    g_cancelOnSignal = &cancel;
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

void StopNoLongerOnSignals() {
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    g_stopOnSignal = nullptr;
    g_cancelOnSignal = nullptr;
}

bool FileOpener::Open(const std::string &file, std::string *why) {
    const std::wstring path = WideFromUtf8(file);
    // The shell may hand the file to a handler that wants COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_ASYNCOK | SEE_MASK_FLAG_NO_UI;
    open.lpVerb = L"open";
    open.lpFile = path.c_str();
    open.nShow = SW_SHOWNORMAL;
    const bool started = ShellExecuteExW(&open);
    if (SUCCEEDED(com)) CoUninitialize();
    if (!started) *why = "Windows found no program to open " + file;
    return started;
}

void FileOpener::Reap() {}  // (the shell's opener is not ours to wait for)

}  // namespace host::serve
