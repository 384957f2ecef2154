// The packet dump: header lines and one line per parameter, in the log.
#include <algorithm>
#include <cstring>

#include "core/params.h"
#include "core/session.h"

namespace {

const char kDoubleRule[] = "===================================================";
const char kSingleRule[] = "--------------------------------------------------";
constexpr uint32_t kScratchSize = 10240;

uint32_t U32At(const uint8_t *scratch, uint32_t index) { return ReadParamLength(scratch + 4 * index); }

}  // namespace

const char *CommandDumpName(uint16_t command) {
    switch (command) {
    case CMD_PUT: return "PUT";
    case CMD_GET: return "GET";
    case CMD_CONNECT: return "CONNECT";
    case CMD_DISCON: return "DISCON";
    case CMD_SETPATH: return "SETPATH";
    case CMD_ABORT: return "ABORT";
    case CMD_NOTI: return "CMD NOTI";
    case CMD_PING: return "PING";
    case CMD_APP_CON: return "APP CON";
    case CMD_APP_CLOSE: return "APP CLOSE";
    case CMD_APP_QUERY: return "APP_QUERY";
    default: return "UnSupported";
    }
}

void DumpHeader(const AgentPacket *packet, const char *label) {
    // Transfer chunks would flood the log with headers; their parameters suffice.
    if (packet->command == CMD_PUT && packet->nStatus == ST_CONTINUE) return;
    LogLine(LOG_TRACE, "%s", kDoubleRule);
    LogLine(LOG_TRACE, "%s %s(0x%x) TID:%ld SubC:0x%x St:0x%x Len:%d ", label, CommandDumpName(packet->command),
            unsigned(packet->command), long(int32_t(packet->tid)), unsigned(packet->subCommand),
            unsigned(packet->nStatus), int(packet->nBodyLength));
    LogLine(LOG_TRACE, "  V:%d.%02d APP:%d MGT:%d CMDT:%d Sess:0x%X TP:%d UID:%d", int(packet->versionMajor),
            int(packet->versionMinor), int(packet->app), int(packet->mgt), int(packet->cmdType), unsigned(packet->sess),
            int(packet->tp), int(packet->uid));
}

DumpResult DumpParameter(const uint8_t *cursor, uint32_t *consumed, uint32_t totalLength, uint32_t remaining) {
    *consumed = 0;
    uint8_t code = cursor[0];
    if (code == 0) {
        LogLine(LOG_TRACE, "End of Param !!");
        return DUMP_END;
    }
    if (remaining < AGENT_PARAM_HEADER_SIZE) {  // not even a whole header is left
        LogLine(LOG_FAULT, "ParamCode:0x%x ParamLen:%d", unsigned(code), int(remaining - 1));
        return DUMP_ERROR;
    }
    uint32_t length = ReadParamLength(cursor + 1);
    if (totalLength < AGENT_PARAM_HEADER_SIZE || length > totalLength - AGENT_PARAM_HEADER_SIZE) {
        LogLine(LOG_FAULT, "ParamCode:0x%x ParamLen:%d", unsigned(code), int(length));
        return DUMP_ERROR;
    }
    *consumed = AGENT_PARAM_HEADER_SIZE + length;

    // A value that fits the body as a whole but not what is left of it still gets
    // its line, from the bytes that are there; the caller then reports the overrun
    // from the consumed count.
    static thread_local uint8_t scratch[kScratchSize];
    std::memset(scratch, 0, sizeof scratch);
    const uint32_t present = std::min(length, remaining - AGENT_PARAM_HEADER_SIZE);
    if (length > 0 && length < kScratchSize) std::memcpy(scratch, cursor + AGENT_PARAM_HEADER_SIZE, present);

    switch (code) {
    case PAR_XMLBODY: LogLine(LOG_TRACE, "\t 0x%x\t%d XMLBODY", unsigned(code), int(length)); break;
    case PAR_APP_FLAGS:
    case PAR_APP_OPTION:
        if (length > 1) return DUMP_ERROR;
        LogLine(LOG_TRACE, "\t 0x%x\t\t%d\t0x%x", unsigned(code), int(length), unsigned(scratch[0]));
        break;
    case PAR_APP_RANGE:
        LogLine(LOG_TRACE, "\t 0x%x\t%d\tDATA[START:%d END:%d Size:%d]", unsigned(code), int(length),
                int(U32At(scratch, 0)), int(U32At(scratch, 1)), int(U32At(scratch, 2)));
        break;
    case PAR_APP_COUNT:
        LogLine(LOG_TRACE, "\t 0x%x\t%d\t%d", unsigned(code), int(length), int(U32At(scratch, 0)));
        break;
    default:
        LogLine(LOG_TRACE, "\t 0x%x\t%d\t%s", unsigned(code), int(length), reinterpret_cast<const char *>(scratch));
        break;
    }
    return DUMP_NEXT;
}

void DumpPacket(uint32_t event, const AgentPacket *packet) {
    if (!packet) return;
    const char *label = event == EVT_AGENT_TO_DLL ? "Agent=>DLL" : "DLL=>Agent";
    DumpHeader(packet, label);
    if (packet->nBodyLength > 0 && packet->pBody) {
        LogLine(LOG_TRACE, "%s", kSingleRule);
        LogLine(LOG_TRACE, "\t CODE\tLEN\tDATA");
        uint64_t total = 0;
        while (total < packet->nBodyLength) {
            uint32_t consumed = 0;
            uint32_t remaining = packet->nBodyLength - uint32_t(total);
            DumpResult result = DumpParameter(packet->pBody + total, &consumed, packet->nBodyLength, remaining);
            if (result != DUMP_NEXT) break;
            total += consumed;
            if (total > packet->nBodyLength) {
                LogLine(LOG_FAULT, "TotalParam Size:%d BODYSIZE:%d Packet Info Corrupted.Check!!", int(total),
                        int(packet->nBodyLength));
                break;
            }
        }
    }
    LogLine(LOG_TRACE, "%s", kDoubleRule);
}
