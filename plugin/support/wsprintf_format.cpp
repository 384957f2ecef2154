// The formatter behind every log line: the wsprintf notation the plug-in's messages
// are written in, with the same argument sizes on every platform.
#include "support/support.h"

#include <cstdint>
#include <cstring>

namespace {

// Collects output up to the caller's buffer size minus the terminator.
class BoundedOutput {
public:
    BoundedOutput(char *buffer, size_t size) : m_buffer(buffer), m_limit(size - 1) {}
    void Put(char c) {
        if (m_length < m_limit) m_buffer[m_length++] = c;
    }
    void Put(const char *text, size_t length) {
        for (size_t i = 0; i < length; ++i) Put(text[i]);
    }
    void Repeat(char c, size_t count) {
        for (size_t i = 0; i < count; ++i) Put(c);
    }
    size_t Finish() {
        m_buffer[m_length] = '\0';
        return m_length;
    }

private:
    char *m_buffer;
    size_t m_limit;
    size_t m_length = 0;
};

struct Conversion {
    bool leftAlign = false;
    bool zeroPad = false;
    bool alternate = false;  // '#': 0x before hexadecimal
    size_t width = 0;
    int precision = -1;
    bool wide64 = false;  // ll or I64
    bool isLong = false;  // l
    char type = 0;
};

size_t ReadNumber(const char **cursor) {
    size_t value = 0;
    while (**cursor >= '0' && **cursor <= '9') {
        if (value < 100000) value = value * 10 + static_cast<size_t>(**cursor - '0');
        ++*cursor;
    }
    return value;
}

// Reads the part after '%' up to and including the type letter.
Conversion ReadConversion(const char **cursor) {
    Conversion conversion;
    for (;; ++*cursor) {
        if (**cursor == '-')
            conversion.leftAlign = true;
        else if (**cursor == '0')
            conversion.zeroPad = true;
        else if (**cursor == '#')
            conversion.alternate = true;
        else
            break;
    }
    conversion.width = ReadNumber(cursor);
    if (**cursor == '.') {
        ++*cursor;
        conversion.precision = static_cast<int>(ReadNumber(cursor));
    }
    if (std::strncmp(*cursor, "ll", 2) == 0) {
        conversion.wide64 = true;
        *cursor += 2;
    } else if (**cursor == 'l' || **cursor == 'h') {
        conversion.isLong = **cursor == 'l';
        ++*cursor;
    } else if (std::strncmp(*cursor, "I64", 3) == 0) {
        conversion.wide64 = true;
        *cursor += 3;
    }
    conversion.type = **cursor;
    if (**cursor != '\0') ++*cursor;
    return conversion;
}

void PutPadded(BoundedOutput &out, const Conversion &conversion, const char *prefix, const char *body,
               size_t bodyLength) {
    const size_t prefixLength = std::strlen(prefix);
    const size_t length = prefixLength + bodyLength;
    const size_t padding = conversion.width > length ? conversion.width - length : 0;
    const bool zeroFill = conversion.zeroPad && !conversion.leftAlign;
    if (!conversion.leftAlign && !zeroFill) out.Repeat(' ', padding);
    out.Put(prefix, prefixLength);
    if (zeroFill) out.Repeat('0', padding);
    out.Put(body, bodyLength);
    if (conversion.leftAlign) out.Repeat(' ', padding);
}

void PutInteger(BoundedOutput &out, const Conversion &conversion, uint64_t magnitude, bool negative) {
    const bool hex = conversion.type == 'x' || conversion.type == 'X';
    const char *digits = conversion.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned base = hex ? 16 : 10;
    char reversed[24];
    size_t count = 0;
    do {
        reversed[count++] = digits[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    char body[128];
    size_t length = 0;
    for (int minimum = conversion.precision; static_cast<int>(count) < minimum && length < 100; --minimum)
        body[length++] = '0';
    while (count > 0) body[length++] = reversed[--count];
    const char *prefix = negative ? "-" : (hex && conversion.alternate ? (conversion.type == 'X' ? "0X" : "0x") : "");
    PutPadded(out, conversion, prefix, body, length);
}

// Reads one integer argument. The plug-in's target has 32-bit long, so a long shows
// as its low 32 bits on every platform, as an int does; only ll and I64 show 64 bits.
void PutIntegerArgument(BoundedOutput &out, const Conversion &conversion, va_list *arguments) {
    const bool isSigned = conversion.type == 'd' || conversion.type == 'i';
    if (conversion.wide64) {
        if (isSigned) {
            int64_t value = va_arg(*arguments, int64_t);
            PutInteger(out, conversion, value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value),
                       value < 0);
        } else {
            PutInteger(out, conversion, va_arg(*arguments, uint64_t), false);
        }
        return;
    }
    if (isSigned) {
        const int32_t value =
            conversion.isLong ? static_cast<int32_t>(va_arg(*arguments, long)) : va_arg(*arguments, int32_t);
        PutInteger(out, conversion, value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : value,
                   value < 0);
    } else {
        const uint32_t value =
            conversion.isLong ? static_cast<uint32_t>(va_arg(*arguments, unsigned long)) : va_arg(*arguments, uint32_t);
        PutInteger(out, conversion, value, false);
    }
}

void PutText(BoundedOutput &out, const Conversion &conversion, const char *text) {
    if (text == nullptr) text = "(null)";
    size_t length = std::strlen(text);
    if (conversion.precision >= 0 && length > static_cast<size_t>(conversion.precision))
        length = static_cast<size_t>(conversion.precision);
    PutPadded(out, conversion, "", text, length);
}

}  // namespace

int FormatWsprintf(char *out, size_t outSize, const char *format, va_list arguments) {
    if (out == nullptr || outSize == 0) return 0;
    BoundedOutput output(out, outSize);
    va_list remaining;
    va_copy(remaining, arguments);
    for (const char *cursor = format != nullptr ? format : ""; *cursor != '\0';) {
        if (*cursor != '%') {
            output.Put(*cursor++);
            continue;
        }
        ++cursor;
        const Conversion conversion = ReadConversion(&cursor);
        switch (conversion.type) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X': PutIntegerArgument(output, conversion, &remaining); break;
        case 's': PutText(output, conversion, va_arg(remaining, const char *)); break;
        case 'c': {
            const char c = static_cast<char>(va_arg(remaining, int));
            PutPadded(output, conversion, "", &c, 1);
            break;
        }
        case '\0': break;
        default:  // "%%" and letters wsprintf does not know stand for themselves
            output.Put(conversion.type);
            break;
        }
    }
    va_end(remaining);
    return static_cast<int>(output.Finish());
}
