// Request building and response handling shared by every DevCe wrapper.
#include "pim/devce_wire.h"

#include <cstring>

#include "platform/platform.h"

namespace devce {

uint16_t ReadU16(const uint8_t *bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t ReadU32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void WriteU16(uint8_t *bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void WriteU32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

Request::Request(size_t size) : m_size(size) {
    m_data = static_cast<uint8_t *>(platform::LocalAllocZeroed(size == 0 ? 1 : size));
}

Request::~Request() { platform::LocalFree(m_data); }

uint8_t *Request::Reserve(size_t bytes) {
    if (m_data == nullptr || m_broken || bytes > m_size - m_used) {
        m_broken = true;
        return nullptr;
    }
    uint8_t *field = m_data + m_used;
    m_used += bytes;
    return field;
}

Request &Request::U16(uint16_t value) {
    if (uint8_t *field = Reserve(2)) WriteU16(field, value);
    return *this;
}

Request &Request::U32(uint32_t value) {
    if (uint8_t *field = Reserve(4)) WriteU32(field, value);
    return *this;
}

Request &Request::Bytes(const void *source, size_t bytes) {
    uint8_t *field = Reserve(bytes);
    if (field != nullptr && source != nullptr && bytes != 0) std::memcpy(field, source, bytes);
    return *this;
}

Request &Request::WideField(const WCHAR *text, size_t bytes) {
    uint8_t *field = Reserve(bytes);
    if (field == nullptr || text == nullptr || bytes < 2) return *this;
    const size_t maxCharacters = bytes / 2 - 1;
    for (size_t i = 0; i < maxCharacters && text[i] != 0; ++i) WriteU16(field + 2 * i, static_cast<uint16_t>(text[i]));
    return *this;
}

Response::Response(const WCHAR *function, const void *request, size_t requestSize) {
    // The provider reads the request and never writes or frees it.
    BYTE *input = static_cast<BYTE *>(const_cast<void *>(request));
    m_code = platform::Rapi().CeRapiInvoke(CE_TEXT("Tobrann"), function, static_cast<DWORD>(requestSize), input,
                                           &m_size, &m_bytes, nullptr, 0);
}

Response::Response(const WCHAR *function, const Request &request)
    : Response(function, request.Data(), request.Size()) {}

Response::~Response() {
    if (m_bytes != nullptr) platform::LocalFree(m_bytes);
}

uint16_t Response::U16At(size_t offset) const { return ReadU16(m_bytes + offset); }
uint32_t Response::U32At(size_t offset) const { return ReadU32(m_bytes + offset); }

void Response::Fail() const { platform::SetLastError(m_code != 0 ? static_cast<uint32_t>(m_code) : kErrorInvalidData); }

bool Response::SucceededBySize(size_t size) const {
    if (Size() == size) return true;
    Fail();
    return false;
}

bool Response::SucceededByCode() const {
    if (m_code == 0) return true;
    Fail();
    return false;
}

bool Response::SucceededNonEmpty(size_t minimum) const {
    if (Size() != 0 && Size() >= minimum) return true;
    Fail();
    return false;
}

}  // namespace devce
