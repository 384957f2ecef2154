// Device files and storage: what the files/ operations of DeviceSession share.
// The operations themselves (FbsSetPath, FbsList, GetFile, PutFile, ...) are
// declared with the session in core/session.h; this header holds the helpers
// they have in common: device path composition, name checks, the listing's
// scratch record and time text, and the transfer answers.
#ifndef CEBRIDGE_FILES_H
#define CEBRIDGE_FILES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "cebridge/agent.h"

class DeviceSession;
class PtrArray;

namespace files {

// Device paths are composed in buffers of MAX_PATH characters, terminator included.
constexpr size_t kDevicePathSize = 260;
// One transfer chunk, download and upload alike.
constexpr uint32_t kChunkSize = 65535;
// Upload reports progress after every tenth chunk.
constexpr uint32_t kUploadChunksPerReport = 10;

// The per-entry scratch record the dispatcher hands to FbsList: 2052 bytes,
// zeroed. Only name and size are written; type stays empty.
struct ListingScratch {
    char name[512];
    uint32_t size;
    char type[1536];
};
static_assert(sizeof(ListingScratch) == 2052, "the dispatcher allocates 2052 bytes");

// "[\]A\B\...\<name>" from the folder list (null: the root). With
// `leadingSeparator` every folder and the name are preceded by '\'; without it
// the folders are followed by '\' and the path has no leading '\' ("A\B\name",
// or the bare name at the root). An empty name leaves a trailing '\'.
// False when the path would not fit `outSize` bytes with its terminator: the
// caller refuses the request rather than cut the path. `out` is then empty.
bool ComposeDevicePath(const PtrArray *folders, const char *name, bool leadingSeparator, char *out, size_t outSize);

// True when `name` is one path component the agent may name inside the
// current folder: no '\' or '/', no wildcard, not "." or "..". An empty name
// passes only when `allowEmpty`.
bool IsPlainName(const char *name, bool allowEmpty);

// Lower-cases ASCII letters in place; bytes of multibyte characters stay.
void LowerAscii(char *text);

// A device FILETIME as "YYYYMMDDTHHMMSSZ" in the PC's local time (the "Z" is
// written although the value is local). A time that cannot be converted gives
// all-zero fields.
std::string FormatListingTime(uint64_t fileTime);

// A transfer's progress report: a packet copied from the session's last request,
// status ST_CONTINUE, one PAR_LENGTH parameter holding `bytes` as decimal digits.
// False, with nothing sent, when an abort has arrived: the transfer then stops.
bool SendTransferProgress(DeviceSession &session, uint64_t bytes);

}  // namespace files

#endif  // CEBRIDGE_FILES_H
