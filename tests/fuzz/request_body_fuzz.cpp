// Fuzz entry for request bodies from the agent: the input is a body, read by both
// body decoders, by the SETPATH reader and by the packet dump (with the command and
// status the first two bytes choose, so the transfer-chunk form is dumped too).
#include <cstddef>
#include <cstdint>

#include "core/session.h"
#include "fuzz_support.h"

int FuzzRequestBody(const uint8_t *data, size_t size) {
    const fuzz::FuzzLog log;
    fuzz::Cursor cursor(data, size);
    const uint8_t commandChoice = cursor.Byte();
    const uint8_t statusChoice = cursor.Byte();
    const fuzz::HeapCopy body = cursor.Rest();
    const uint32_t length = static_cast<uint32_t>(body.size());

    ObjectParams object{};
    DecodeObjectParams(body.data(), length, &object);
    FreeObjectParams(&object);

    ListingParams listing{};
    ParseListingParams(body.data(), length, &listing);

    SetPathParams setPath{};
    fuzz::StoppedSession().ParseSetPath(body.data(), length, &setPath);

    static const uint16_t kCommands[] = {CMD_PUT, CMD_GET, CMD_SETPATH, CMD_NOTI, 0x7777};
    AgentPacket packet{};
    packet.command = kCommands[commandChoice % (sizeof kCommands / sizeof kCommands[0])];
    packet.nStatus = (statusChoice & 1) != 0 ? ST_CONTINUE : 0;
    packet.nBodyLength = length;
    packet.pBody = body.data();
    DumpPacket(EVT_AGENT_TO_DLL, &packet);
    return 0;
}

#ifdef CEBRIDGE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzRequestBody(data, size); }
#endif
