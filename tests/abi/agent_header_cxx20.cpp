// agent.h compiles alone as C++20 (-pedantic); the layout asserts live in the header.
#include "cebridge/agent.h"

static_assert(sizeof(void *) != 4 || sizeof(AgentPacket) == 344, "the 32-bit record is 344 bytes");
static_assert(sizeof(void *) != 8 || sizeof(AgentPacket) == 352, "the 64-bit record is 352 bytes");
static_assert(offsetof(AgentPacket, pBody) == 208, "the body pointer sits at 208");

size_t cebridge_agent_packet_size_cxx() { return sizeof(AgentPacket); }
