/* agent.h compiles alone as C99 (-pedantic); the layout asserts live in the header. */
#include "cebridge/agent.h"

size_t cebridge_agent_packet_size(void) { return sizeof(AgentPacket); }
