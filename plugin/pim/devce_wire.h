// The wire under the DevCe wrappers: one request buffer written front to back, one
// invocation of a `Tobrann` function, and the response it brought back.
#ifndef CEBRIDGE_PIM_DEVCE_WIRE_H
#define CEBRIDGE_PIM_DEVCE_WIRE_H

#include <cstddef>
#include <cstdint>

#include "pim/pim.h"
#include "platform/platform.h"

namespace devce {

// The last error of a call whose response does not hold together although the
// device reported success (ERROR_INVALID_DATA).
constexpr uint32_t kErrorInvalidData = 13;
// The last error of a request the wrapper cannot build (E_INVALIDARG).
constexpr uint32_t kErrorInvalidArgument = 0x80070057u;
// The last error when the local heap cannot hold a request (ERROR_NOT_ENOUGH_MEMORY).
constexpr uint32_t kErrorNotEnoughMemory = 8;

// A request: a zero-filled block from the local heap, written front to back. A write
// that would pass the end is dropped and marks the request broken, so a size
// mistake can never overrun the block.
class Request {
public:
    explicit Request(size_t size);
    ~Request();
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    bool Ok() const { return m_data != nullptr && !m_broken && m_used == m_size; }
    uint8_t *Data() const { return m_data; }
    size_t Size() const { return m_size; }

    Request &U16(uint16_t value);
    Request &U32(uint32_t value);
    // `bytes` bytes from `source`, or zeros when `source` is null.
    Request &Bytes(const void *source, size_t bytes);
    Request &Guid(const CeGuid *volume) { return Bytes(volume, sizeof(CeGuid)); }
    // A fixed field of `bytes` bytes holding `text` cut to fit with its zero.
    Request &WideField(const WCHAR *text, size_t bytes);
    // 1 when `present` (an optional record follows), else 0.
    Request &PresentWord(const void *present) { return U32(present != nullptr ? 1u : 0u); }
    // A pointer to the next `bytes` bytes of the block (null when they do not fit).
    uint8_t *Reserve(size_t bytes);

private:
    uint8_t *m_data = nullptr;
    size_t m_size = 0;
    size_t m_used = 0;
    bool m_broken = false;
};

// One CeRapiInvoke of a `Tobrann` function and its response, which goes back to the
// local heap when this object ends.
class Response {
public:
    Response(const WCHAR *function, const void *request, size_t requestSize);
    Response(const WCHAR *function, const Request &request);
    ~Response();
    Response(const Response &) = delete;
    Response &operator=(const Response &) = delete;

    HRESULT Code() const { return m_code; }
    DWORD Size() const { return m_bytes != nullptr ? m_size : 0; }
    const uint8_t *Bytes() const { return m_bytes; }
    // Little-endian reads; the caller has checked that they lie inside Size().
    uint16_t U16At(size_t offset) const;
    uint32_t U32At(size_t offset) const;

    // The three ways a call is judged. Each sets the last error when it fails.
    bool SucceededBySize(size_t size) const;
    bool SucceededByCode() const;
    bool SucceededNonEmpty(size_t minimum) const;
    // Sets the last error for this call's failure: the device's code, or
    // kErrorInvalidData when the device reported success.
    void Fail() const;
    // Fail(), then `failure` for the wrapper to return.
    template <typename T>
    T Failed(T failure) const {
        Fail();
        return failure;
    }

private:
    HRESULT m_code = 0;
    DWORD m_size = 0;
    BYTE *m_bytes = nullptr;
};

uint16_t ReadU16(const uint8_t *bytes);
uint32_t ReadU32(const uint8_t *bytes);
void WriteU16(uint8_t *bytes, uint16_t value);
void WriteU32(uint8_t *bytes, uint32_t value);

// Refuses a call before anything is sent.
template <typename T>
T Refuse(uint32_t error, T failure) {
    platform::SetLastError(error);
    return failure;
}

}  // namespace devce

#endif  // CEBRIDGE_PIM_DEVCE_WIRE_H
