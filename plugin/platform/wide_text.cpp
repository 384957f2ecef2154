// Wide-text helpers shared by both halves of the OS seam.
#include "platform/platform.h"

namespace platform {

size_t WideLength(const WCHAR *text) {
    size_t length = 0;
    if (text != nullptr) {
        while (text[length] != 0) ++length;
    }
    return length;
}

}  // namespace platform
