// SHA-256 of bytes and of files, as lowercase hex: the digests a backup's manifest
// records for every file it holds.
#ifndef CEBRIDGE_HOST_SHA256_H
#define CEBRIDGE_HOST_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "outcome.h"

namespace host {

class Sha256 {
public:
    Sha256();
    void Update(const void *data, size_t size);
    // The digest as 64 lowercase hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t *block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_pending{};
    size_t m_pendingSize = 0;
    uint64_t m_totalBytes = 0;
};

std::string Sha256Hex(const std::string &bytes);
// The digest of a file's content; a PC failure ("PATH: reason") when it cannot be read.
Outcome FileSha256(const std::string &path, std::string *hex);

}  // namespace host

#endif  // CEBRIDGE_HOST_SHA256_H
