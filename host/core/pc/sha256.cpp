#include "sha256.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "local_files.h"

namespace host {
namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotate(uint32_t value, int bits) { return (value >> bits) | (value << (32 - bits)); }

}  // namespace

Sha256::Sha256()
    : m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Block(const uint8_t *block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
               uint32_t(block[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    const uint32_t results[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) m_state[i] += results[i];
}

void Sha256::Update(const void *data, size_t size) {
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    m_totalBytes += size;
    while (size > 0) {
        size_t take = std::min(size, m_pending.size() - m_pendingSize);
        std::copy(bytes, bytes + take, m_pending.begin() + long(m_pendingSize));
        m_pendingSize += take, bytes += take, size -= take;
        if (m_pendingSize == m_pending.size()) {
            Block(m_pending.data());
            m_pendingSize = 0;
        }
    }
}

std::string Sha256::HexDigest() {
    // Padding: 0x80, zeros up to 56 bytes of a block, then the length in bits, big-endian.
    const uint64_t bits = m_totalBytes * 8;
    uint8_t padding[72] = {0x80};
    size_t zeros = (m_pendingSize < 56 ? 56 : 120) - m_pendingSize;
    for (int i = 0; i < 8; ++i) padding[zeros + size_t(i)] = uint8_t(bits >> (56 - 8 * i));
    Update(padding, zeros + 8);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t word : m_state)
        for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(word >> shift) & 0xf];
    return hex;
}

std::string Sha256Hex(const std::string &bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

Outcome FileSha256(const std::string &path, std::string *hex) {
    std::FILE *file = OpenLocal(path, "rb");
    if (!file) return SystemFailure(path);
    Sha256 hash;
    std::vector<char> buffer(1 << 16);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) hash.Update(buffer.data(), got);
    Outcome read = std::ferror(file) ? SystemFailure(path) : Outcome::Ok();
    std::fclose(file);
    if (read.ok) *hex = hash.HexDigest();
    return read;
}

}  // namespace host
