// Decoding request bodies into the parameter records handlers read.
#include "core/params.h"

#include <cstdlib>
#include <cstring>

#include "core/session.h"

uint32_t ReadParamLength(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void WriteParamLength(uint8_t *at, uint32_t length) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(length >> (8 * i));
}

bool ParameterWalker::Next(BodyParameter *param) {
    uint32_t left = m_bodyLength - m_offset;
    if (left < AGENT_PARAM_HEADER_SIZE) return false;
    const uint8_t *at = m_body + m_offset;
    uint32_t length = ReadParamLength(at + 1);
    if (length > left - AGENT_PARAM_HEADER_SIZE) {
        m_offset = m_bodyLength;  // an overrunning length ends the walk
        return false;
    }
    param->code = at[0];
    param->length = length;
    param->value = at + AGENT_PARAM_HEADER_SIZE;
    param->valueOffset = m_offset + AGENT_PARAM_HEADER_SIZE;
    param->endOffset = param->valueOffset + length;
    m_offset = param->endOffset;
    return true;
}

bool CopyParamText(char *field, size_t fieldSize, const BodyParameter &param) {
    size_t copied = param.length < fieldSize - 1 ? param.length : fieldSize - 1;
    std::memset(field, 0, fieldSize);
    std::memcpy(field, param.value, copied);
    return copied < param.length;
}

namespace {

// Keeps the value's own heap copy, one zero byte longer than the value.
void TakeXmlBody(ObjectParams *params, const BodyParameter &param) {
    auto *copy = static_cast<char *>(std::calloc(size_t(param.length) + 1, 1));
    if (!copy) return;
    std::memcpy(copy, param.value, param.length);
    std::free(params->body);
    params->body = copy;
    params->bodyLength = param.length;
}

}  // namespace

bool DecodeObjectParams(const uint8_t *body, uint32_t bodyLength, ObjectParams *params) {
    if (!params) return false;
    ParameterWalker walker(body, bodyLength);
    BodyParameter param;
    while (walker.Next(&param)) {
        const int length = int(bodyLength), end = int(param.endOffset);
        switch (param.code) {
        case PAR_NAME:
            params->nameCut = CopyParamText(params->name, sizeof params->name, param);
            LogLine(LOG_TRACE, "PAR_NAME %d,%d", length, end);
            break;
        case PAR_TYPE:
            params->typeCut = CopyParamText(params->type, sizeof params->type, param);
            LogLine(LOG_TRACE, "PAR_TYPE %d,%d", length, end);
            break;
        case PAR_APP_FILEPATH:
            params->filePathCut = CopyParamText(params->filePath, sizeof params->filePath, param);
            LogLine(LOG_TRACE, "PAR_APP_FILEPATH %d,%d", length, end);
            break;
        case PAR_APP_MEMTYPE:
            CopyParamText(params->memType, sizeof params->memType, param);
            LogLine(LOG_TRACE, "PAR_APP_MEMTYPE %d,%d", length, end);
            break;
        case PAR_APP_ID:
            params->idCut = CopyParamText(params->id, sizeof params->id, param);
            LogLine(LOG_TRACE, "PAR_APP_ID %d,%d", length, end);
            break;
        case PAR_APP_GROUP:
            CopyParamText(params->group, sizeof params->group, param);
            LogLine(LOG_TRACE, "PAR_APP_GROUP %d,%d", length, end);
            break;
        case PAR_XMLBODY: TakeXmlBody(params, param); break;
        default: break;
        }
    }
    return true;
}

void FreeObjectParams(ObjectParams *params) {
    if (!params) return;
    std::free(params->body);
    params->body = nullptr;
    params->bodyLength = 0;
}

int ParseListingParams(const uint8_t *body, uint32_t bodyLength, ListingParams *params) {
    LogLine(LOG_TRACE, "parse CBS Info %d: body length", int(bodyLength));
    if (!body) {
        LogLine(LOG_TRACE, "Parse CBS pBody is NULL");
        return 0;
    }
    ParameterWalker walker(body, bodyLength);
    BodyParameter param;
    while (walker.Next(&param)) {
        const int length = int(bodyLength), start = int(param.valueOffset);
        LogLine(LOG_TRACE, "nParamSize:%d", int(param.length));
        LogLine(LOG_TRACE, "Parsing");
        switch (param.code) {
        case PAR_TYPE:
            CopyParamText(params->type, sizeof params->type, param);
            LogLine(LOG_TRACE, "PAR_TYPE %d,%d", length, start);
            break;
        case PAR_TARGET:
            CopyParamText(params->target, sizeof params->target, param);
            LogLine(LOG_TRACE, "PAR_TARGET %d,%d", length, start);
            break;
        case PAR_APP_SEARCH:
            CopyParamText(params->search, sizeof params->search, param);
            LogLine(LOG_TRACE, "PAR_APP_SEARCH %d,%d", length, start);
            break;
        case PAR_APP_TIMEOUT:
            CopyParamText(params->timeout, sizeof params->timeout, param);
            LogLine(LOG_TRACE, "PAR_APP_TIMEOUT %d,%d", length, start);
            break;
        default: break;
        }
    }
    return 1;
}
