// Packets: copies, bodies of one parameter, and freeing. Every packet the plug-in
// hands to the agent is allocated here with malloc, record and body separately.
#include "core/session.h"

#include <cstdlib>
#include <cstring>

#include "core/params.h"

AgentPacket *CopyPacketWithoutBody(const AgentPacket *source) {
    if (!source) return nullptr;
    auto *copy = static_cast<AgentPacket *>(std::malloc(sizeof(AgentPacket)));
    if (!copy) return nullptr;
    std::memcpy(copy, source, sizeof(AgentPacket));
    copy->nBodyLength = 0;
    copy->pBody = nullptr;
    return copy;
}

AgentPacket *CopyPacketWithBody(const AgentPacket *source) {
    if (!source) return nullptr;
    // A length the agent claims without a body block carries nothing to copy.
    uint32_t length = source->pBody ? source->nBodyLength : 0;
    if (length == UINT32_MAX) return nullptr;  // one byte more would wrap
    auto *body = static_cast<uint8_t *>(std::calloc(size_t(length) + 1, 1));
    if (!body) return nullptr;
    AgentPacket *copy = CopyPacketWithoutBody(source);
    if (!copy) {
        std::free(body);
        return nullptr;
    }
    if (length > 0) std::memcpy(body, source->pBody, length);
    copy->pBody = body;
    copy->nBodyLength = length;
    return copy;
}

void FreePacket(AgentPacket *packet) {
    if (!packet) return;
    std::free(packet->pBody);
    std::free(packet);
}

bool SetSingleParameterBody(AgentPacket *packet, uint8_t code, const void *value, uint32_t length) {
    SingleParameterBody body(code);
    body.Reserve(length);
    body.Append(value, length);
    return body.AttachTo(packet);
}

void SingleParameterBody::Reserve(size_t valueLength) {
    if (valueLength <= SIZE_MAX - AGENT_PARAM_HEADER_SIZE - 1) Grow(AGENT_PARAM_HEADER_SIZE + valueLength + 1);
}

// Large blocks grow by realloc, which moves their pages rather than copying them.
bool SingleParameterBody::Grow(size_t needed) {
    if (m_failed) return false;
    if (needed <= m_capacity) return true;
    size_t capacity = m_capacity == 0 ? needed : m_capacity;
    while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
    auto *block = static_cast<uint8_t *>(std::realloc(m_block, capacity));
    if (!block) {
        m_failed = true;
        return false;
    }
    m_block = block;
    m_capacity = capacity;
    return true;
}

void SingleParameterBody::Append(const void *data, size_t length) {
    if (length == 0) return;
    if (length > SIZE_MAX - m_used - 1 || !Grow(m_used + length + 1)) {
        m_failed = true;
        return;
    }
    std::memcpy(m_block + m_used, data, length);
    m_used += length;
}

bool SingleParameterBody::AttachTo(AgentPacket *packet) {
    if (!packet || m_failed || ValueLength() > UINT32_MAX - AGENT_PARAM_HEADER_SIZE - 1 || !Grow(m_used + 1)) {
        return false;
    }
    // One zero byte more than counted, like every body copy the plug-in makes.
    m_block[m_used] = 0;
    m_block[0] = m_code;
    WriteParamLength(m_block + 1, static_cast<uint32_t>(ValueLength()));
    std::free(packet->pBody);
    packet->pBody = m_block;
    packet->nBodyLength = static_cast<uint32_t>(m_used);
    m_block = nullptr;
    m_capacity = 0;
    return true;
}
