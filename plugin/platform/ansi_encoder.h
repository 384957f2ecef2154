// Private to the OS seam: the one-character step of converting wide text to the ANSI
// code page, which each half implements with its own converter. The loops that
// build whole texts from it are shared (wide_text.cpp).
#ifndef CEBRIDGE_PLATFORM_ANSI_ENCODER_H
#define CEBRIDGE_PLATFORM_ANSI_ENCODER_H

#include <string>

#include "platform/platform.h"

namespace platform::detail {

class AnsiEncoder {
public:
    AnsiEncoder();
    ~AnsiEncoder();
    AnsiEncoder(const AnsiEncoder &) = delete;
    AnsiEncoder &operator=(const AnsiEncoder &) = delete;

    // The bytes of one character (`count` is 1, or 2 for a surrogate pair); empty when
    // the code page has no such character.
    std::string Encode(const WCHAR *units, size_t count);
    // True when, from the start of a text, each ASCII character encodes as its own
    // single byte, so a leading ASCII run may be copied as it is.
    bool AsciiAsItself() const;

private:
    void *m_converter;
};

}  // namespace platform::detail

#endif  // CEBRIDGE_PLATFORM_ANSI_ENCODER_H
