/*
 * cebridge agent ABI: what a synchronisation host (the agent) needs to drive the
 * cebridge session plug-in. The plug-in exports exactly the four SE_ functions below
 * (C linkage, C calling convention); requests and answers travel as AgentPacket
 * records whose body is a sequence of parameters (u8 code, u32 LE length, value).
 *
 * This header stands alone and compiles as C99 and as C++20.
 */
#ifndef CEBRIDGE_AGENT_H
#define CEBRIDGE_AGENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define CEBRIDGE_CALL __cdecl
#if defined(CEBRIDGE_BUILDING_PLUGIN)
#define CEBRIDGE_API __declspec(dllexport)
#else
#define CEBRIDGE_API
#endif
#else
#define CEBRIDGE_CALL
#if defined(CEBRIDGE_BUILDING_PLUGIN)
#define CEBRIDGE_API __attribute__((visibility("default")))
#else
#define CEBRIDGE_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The shared request/answer record. 344 bytes on 32-bit targets with the body
 * pointer at offset 208. On 64-bit targets the pointer is 8 bytes wide at 208 and
 * the trailing block follows it, so the record is 352 bytes; every offset before
 * 208 is the same on both.
 */
typedef struct AgentPacket {
    uint8_t leading[40];     /*   0: copied through */
    uint8_t versionMajor;    /*  40 */
    uint8_t versionMinor;    /*  41 */
    uint16_t app;            /*  42 */
    uint32_t tid;            /*  44: echoed in the answer */
    uint16_t mgt;            /*  48 */
    uint16_t cmdType;        /*  50 */
    uint16_t command;        /*  52: CMD_ */
    uint16_t subCommand;     /*  54: SUB_ */
    uint32_t nStatus;        /*  56: ST_ */
    uint32_t nBodyLength;    /*  60 */
    uint8_t reserved64[4];   /*  64 */
    uint16_t sess;           /*  68 */
    uint16_t tp;             /*  70 */
    uint32_t uid;            /*  72: answers with uid above 256 are not handed over */
    uint8_t reserved76[132]; /*  76 */
    uint8_t *pBody;          /* 208: separate heap block of nBodyLength bytes, or NULL */
    uint8_t trailing[132];   /* 212 (32-bit) or 216 (64-bit) */
} AgentPacket;

#define CEBRIDGE_ABI_ASSERT(name, cond) typedef char cebridge_abi_##name[(cond) ? 1 : -1]
CEBRIDGE_ABI_ASSERT(versionMajor, offsetof(AgentPacket, versionMajor) == 40);
CEBRIDGE_ABI_ASSERT(versionMinor, offsetof(AgentPacket, versionMinor) == 41);
CEBRIDGE_ABI_ASSERT(app, offsetof(AgentPacket, app) == 42);
CEBRIDGE_ABI_ASSERT(tid, offsetof(AgentPacket, tid) == 44);
CEBRIDGE_ABI_ASSERT(mgt, offsetof(AgentPacket, mgt) == 48);
CEBRIDGE_ABI_ASSERT(cmdType, offsetof(AgentPacket, cmdType) == 50);
CEBRIDGE_ABI_ASSERT(command, offsetof(AgentPacket, command) == 52);
CEBRIDGE_ABI_ASSERT(subCommand, offsetof(AgentPacket, subCommand) == 54);
CEBRIDGE_ABI_ASSERT(nStatus, offsetof(AgentPacket, nStatus) == 56);
CEBRIDGE_ABI_ASSERT(nBodyLength, offsetof(AgentPacket, nBodyLength) == 60);
CEBRIDGE_ABI_ASSERT(sess, offsetof(AgentPacket, sess) == 68);
CEBRIDGE_ABI_ASSERT(tp, offsetof(AgentPacket, tp) == 70);
CEBRIDGE_ABI_ASSERT(uid, offsetof(AgentPacket, uid) == 72);
CEBRIDGE_ABI_ASSERT(pBody, offsetof(AgentPacket, pBody) == 208);
CEBRIDGE_ABI_ASSERT(trailing, offsetof(AgentPacket, trailing) == 208 + sizeof(void *));
CEBRIDGE_ABI_ASSERT(size, sizeof(AgentPacket) == (sizeof(void *) == 4 ? 344 : 352));

/* Event codes: SE_EventHandle takes requests, the callback receives answers. */
#define EVT_AGENT_TO_DLL 0x5000u
#define EVT_DLL_TO_AGENT 0x5002u

/* Commands (AgentPacket.command). */
#define CMD_PUT 0x02u
#define CMD_GET 0x03u
#define CMD_CONNECT 0x80u
#define CMD_DISCON 0x81u
#define CMD_SETPATH 0x85u
#define CMD_ABORT 0xFFu
#define CMD_NOTI 0x200u
#define CMD_PING 0x300u
#define CMD_APP_CON 0x301u
#define CMD_APP_CLOSE 0x302u
#define CMD_APP_QUERY 0x303u

/* Subcommands (AgentPacket.subCommand). Each name has a second accepted value. */
#define SUB_GET_CAPABILITY 0x01u
#define SUB_GET_SVC 0x02u /* or 0x03 */
#define SUB_GET_SVC_ALT 0x03u
#define SUB_GET_OBJECT 0x04u /* or 0x05 */
#define SUB_GET_OBJECT_ALT 0x05u
#define SUB_PUT_OBJECT 0x11u /* or 0x12 */
#define SUB_PUT_OBJECT_ALT 0x12u
#define SUB_PUT_DELETE 0x13u

/* Status codes (AgentPacket.nStatus). */
#define ST_CONTINUE 0x10u
#define ST_OK 0x20u
#define ST_BAD_REQUEST 0x40u
#define ST_NOT_ACCEPTABLE 0x46u
#define ST_FAILED 0x50u
#define ST_NOT_IMPLEMENTED 0x51u
#define ST_UNSUPPORTED 0x102u
#define ST_BAD_PARAMETER 0x110u
#define ST_DISCONNECTED 0x200u
#define ST_CONNECT_FAILED 0x202u

/* Parameter codes (first byte of each body parameter). */
#define PAR_NAME 0x01u
#define PAR_ERRCODE 0x05u
#define PAR_TYPE 0x42u
#define PAR_TARGET 0x46u
#define PAR_XMLBODY 0x48u
#define PAR_APP_FILEPATH 0x60u
#define PAR_APP_SEARCH 0x61u
#define PAR_APP_FLAGS 0x62u
#define PAR_APP_RANGE 0x63u
#define PAR_APP_MEMTYPE 0x64u
#define PAR_APP_GROUP 0x65u
#define PAR_APP_ID 0x66u
#define PAR_APP_OPTION 0x67u
#define PAR_APP_TIMEOUT 0x68u
#define PAR_APP_COUNT 0x6Au
#define PAR_LENGTH 0xC3u

/* Size of one parameter's header: code byte and 32-bit length. */
#define AGENT_PARAM_HEADER_SIZE 5u

/*
 * The agent's callback. Nonzero: the agent took the packet and will give it back
 * through SE_ReleaseMemory. Zero: refused; the plug-in frees it.
 */
typedef int32_t(CEBRIDGE_CALL *AgentCallbackFn)(uint32_t event, AgentPacket *packet, uint32_t reserved);

CEBRIDGE_API int32_t CEBRIDGE_CALL SE_Initialize(AgentCallbackFn callback, uint32_t reserved1, uint32_t reserved2,
                                                 uint32_t reserved3, const char *logDirectory, const char *logBaseName);
CEBRIDGE_API int32_t CEBRIDGE_CALL SE_EventHandle(uint32_t event, AgentPacket *packet);
CEBRIDGE_API int32_t CEBRIDGE_CALL SE_ReleaseMemory(AgentPacket *packet);
CEBRIDGE_API int32_t CEBRIDGE_CALL SE_UnInitialize(void);

/* Function pointer types for hosts that resolve the exports at run time. */
typedef int32_t(CEBRIDGE_CALL *SE_InitializeFn)(AgentCallbackFn, uint32_t, uint32_t, uint32_t, const char *,
                                                const char *);
typedef int32_t(CEBRIDGE_CALL *SE_EventHandleFn)(uint32_t, AgentPacket *);
typedef int32_t(CEBRIDGE_CALL *SE_ReleaseMemoryFn)(AgentPacket *);
typedef int32_t(CEBRIDGE_CALL *SE_UnInitializeFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* CEBRIDGE_AGENT_H */
