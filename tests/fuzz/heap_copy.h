// An input of a fuzz entry in a heap block of its exact size, so any read past it
// shows under AddressSanitizer.
#ifndef CEBRIDGE_TESTS_FUZZ_HEAP_COPY_H
#define CEBRIDGE_TESTS_FUZZ_HEAP_COPY_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace fuzz {

// A heap block of exactly `size` bytes holding `data` (none for an empty input), or
// with `withZero` one byte more, a zero, as a text the plug-in was handed.
class HeapCopy {
public:
    HeapCopy(const uint8_t *data, size_t size, bool withZero = false)
        : m_bytes(new uint8_t[size + (withZero ? 1 : 0)]), m_size(size) {
        if (size > 0) std::memcpy(m_bytes.get(), data, size);
        if (withZero) m_bytes[size] = 0;
    }
    uint8_t *data() const { return m_bytes.get(); }
    size_t size() const { return m_size; }
    char *text() const { return reinterpret_cast<char *>(m_bytes.get()); }

private:
    std::unique_ptr<uint8_t[]> m_bytes;
    size_t m_size;
};

}  // namespace fuzz

#endif  // CEBRIDGE_TESTS_FUZZ_HEAP_COPY_H
