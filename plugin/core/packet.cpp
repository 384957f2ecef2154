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
    if (!packet || length > UINT32_MAX - AGENT_PARAM_HEADER_SIZE - 1) return false;
    uint32_t bodyLength = AGENT_PARAM_HEADER_SIZE + length;
    // One zero byte more than counted, like every body copy the plug-in makes.
    auto *body = static_cast<uint8_t *>(std::calloc(size_t(bodyLength) + 1, 1));
    if (!body) return false;
    body[0] = code;
    WriteParamLength(body + 1, length);
    if (length > 0) std::memcpy(body + AGENT_PARAM_HEADER_SIZE, value, length);
    std::free(packet->pBody);
    packet->pBody = body;
    packet->nBodyLength = bodyLength;
    return true;
}
