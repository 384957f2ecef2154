// A stand-in for the device's `Tobrann` server behind CeRapiInvoke: it keeps the
// last request and answers with a canned code and response, allocated at its
// exact size so that any read past it shows under AddressSanitizer.
#ifndef CEBRIDGE_TESTS_DEVCE_FAKE_SERVER_H
#define CEBRIDGE_TESTS_DEVCE_FAKE_SERVER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pim/pim.h"
#include "platform/platform.h"

struct FakeServer {
    // What the last call sent.
    std::u16string library;
    std::u16string function;
    std::vector<uint8_t> request;
    int calls = 0;
    // What the next call answers.
    HRESULT code = 0;
    std::vector<uint8_t> response;
};

// Points the RAPI table at the fake for the fixture's lifetime.
class FakeServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    FakeServer &server() { return m_server; }
    void Answer(HRESULT code, std::vector<uint8_t> response = {}) {
        m_server.code = code;
        m_server.response = std::move(response);
    }

private:
    FakeServer m_server;
    platform::RapiTable m_table{};
};

// The contact's first name, the property both DevCe suites write and read.
constexpr CEPROPID kFirstName = (0x0082u << 16) | CEVT_LPWSTR;

// Little-endian builders for golden bytes.
void PutU16(std::vector<uint8_t> &bytes, uint16_t value);
void PutU32(std::vector<uint8_t> &bytes, uint32_t value);
void PutWide(std::vector<uint8_t> &bytes, const std::u16string &text);  // with its zero
std::vector<uint8_t> Hex(const std::string &text);                      // "1f 00 82 00 ..."

#endif  // CEBRIDGE_TESTS_DEVCE_FAKE_SERVER_H
