// Walking a request body: the parameters one after another, each checked against
// the bytes that are left, so no reader ever looks past the body's length.
#ifndef CEBRIDGE_CORE_PARAMS_H
#define CEBRIDGE_CORE_PARAMS_H

#include <cstddef>
#include <cstdint>

#include "cebridge/agent.h"

uint32_t ReadParamLength(const uint8_t *at);  // u32 little-endian
void WriteParamLength(uint8_t *at, uint32_t length);

struct BodyParameter {
    uint8_t code;
    uint32_t length;
    const uint8_t *value;
    uint32_t valueOffset;  // where the value starts in the body
    uint32_t endOffset;    // just past the value
};

class ParameterWalker {
public:
    ParameterWalker(const uint8_t *body, uint32_t bodyLength) : m_body(body), m_bodyLength(body ? bodyLength : 0) {}
    // The next whole parameter. False at the end of the body, and for good at the
    // first parameter whose header or value would run past it.
    bool Next(BodyParameter *param);

private:
    const uint8_t *m_body;
    uint32_t m_bodyLength;
    uint32_t m_offset = 0;
};

// Copies a value into a fixed text field, keeping a final NUL. True when the value
// had to be cut to fit.
bool CopyParamText(char *field, size_t fieldSize, const BodyParameter &param);

// The two halves of DumpPacket. DumpParameter dumps the parameter at `cursor`,
// with `remaining` body bytes from there on out of `totalLength`; it sets
// `consumed` and returns one of the results below.
enum DumpResult { DUMP_NEXT, DUMP_END, DUMP_ERROR };
void DumpHeader(const AgentPacket *packet, const char *label);
DumpResult DumpParameter(const uint8_t *cursor, uint32_t *consumed, uint32_t totalLength, uint32_t remaining);

#endif  // CEBRIDGE_CORE_PARAMS_H
