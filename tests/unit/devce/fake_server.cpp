#include "fake_server.h"

#include <cstring>

#include "support/phone_copy.h"

namespace {

FakeServer *g_server = nullptr;

HRESULT RAPI_CALL FakeInvoke(const WCHAR *dll, const WCHAR *function, DWORD cbInput, BYTE *pInput, DWORD *pcbOutput,
                             BYTE **ppOutput, void *, DWORD) {
    FakeServer &server = *g_server;
    ++server.calls;
    server.library = U16Text(dll);
    server.function = U16Text(function);
    server.request.assign(pInput, pInput + (pInput != nullptr ? cbInput : 0));
    *pcbOutput = static_cast<DWORD>(server.response.size());
    *ppOutput = nullptr;
    if (!server.response.empty()) {
        *ppOutput = static_cast<BYTE *>(platform::LocalAllocZeroed(server.response.size()));
        std::memcpy(*ppOutput, server.response.data(), server.response.size());
    }
    return server.code;
}

}  // namespace

void FakeServerTest::SetUp() {
    g_server = &m_server;
    m_table = platform::LoadRapiTable(nullptr, nullptr);
    m_table.CeRapiInvoke = &FakeInvoke;
    platform::OverrideRapiForTests(&m_table);
}

void FakeServerTest::TearDown() {
    platform::OverrideRapiForTests(nullptr);
    g_server = nullptr;
}

void PutU16(std::vector<uint8_t> &bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t> &bytes, uint32_t value) {
    PutU16(bytes, static_cast<uint16_t>(value));
    PutU16(bytes, static_cast<uint16_t>(value >> 16));
}

void PutWide(std::vector<uint8_t> &bytes, const std::u16string &text) {
    for (char16_t c : text) PutU16(bytes, c);
    PutU16(bytes, 0);
}

std::vector<uint8_t> Hex(const std::string &text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ' || text[i] == '\n') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}
