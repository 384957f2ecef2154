// Tests of the emulated phone through its exports: the built libceemu is loaded
// at run time, exactly as the plug-in loads its RAPI provider.
#ifndef CEBRIDGE_TESTS_E2E_EMULATOR_FIXTURE_H
#define CEBRIDGE_TESTS_E2E_EMULATOR_FIXTURE_H

#include <cebridge/rapi.h>
#include <gtest/gtest.h>

#include <string>

#include "support/phone_copy.h"

namespace ceemu_test {

// Every RAPI operation of the loaded emulator, as pfnCeRapiInitEx and so on.
struct EmulatorApi {
#define CEEMU_TEST_POINTER(name) PFN_##name name = nullptr;
    CEBRIDGE_RAPI_OPERATIONS(CEEMU_TEST_POINTER)
#undef CEEMU_TEST_POINTER
};

// Loads the emulator once per test program; fails the test when it cannot.
const EmulatorApi &Emulator();
// A symbol of the built emulator (loaded once per test program), or null.
void *EmulatorSymbol(const char *name);

// True when the link start descriptor (POSIX) or event (Win32) is signalled in time.
bool LinkSignalled(HANDLE handle, int timeoutMs);

// Device text from UTF-16 (what CE_TEXT literals hold).
std::basic_string<WCHAR> Wide(const std::u16string &text);

class EmulatorTest : public ::testing::Test {
protected:
    const EmulatorApi &api = Emulator();
    PhoneCopy phone;

    void TearDown() override { api.CeRapiUninit(); }

    // Starts the link and waits until it stands; returns the start record.
    RAPIINIT Connect();
    void Disconnect() { api.CeRapiUninit(); }

    // Writes a whole device file through the RAPI calls; true on success.
    bool PutFile(const std::u16string &path, const std::string &bytes, DWORD creation = CREATE_ALWAYS);
    // Reads a whole device file through the RAPI calls.
    std::string GetFile(const std::u16string &path);
    // CeCreateFile with read and write access and no sharing.
    HANDLE Open(const std::u16string &path, DWORD creation, DWORD access = GENERIC_READ | GENERIC_WRITE);
    void AddFault(const std::string &operation, uint32_t nth, bool persistent, uint32_t error);
};

}  // namespace ceemu_test

#endif  // CEBRIDGE_TESTS_E2E_EMULATOR_FIXTURE_H
