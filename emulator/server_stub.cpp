// Stand-in for the database server until emulator/tobrann.cpp defines it.
#include "emulator.h"

namespace ceemu {

#if !defined(_WIN32)
__attribute__((weak))
#endif
HRESULT TobrannInvoke(const std::u16string &, DWORD, const BYTE *, DWORD *cbOutput, BYTE **output) {
    if (cbOutput) *cbOutput = 0;
    if (output) *output = nullptr;
    return CE_HRESULT_FROM_WIN32(CE_ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace ceemu
