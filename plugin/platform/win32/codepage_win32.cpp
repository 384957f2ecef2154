// The PC's ANSI code page on Windows: CP_ACP, with the runtime's locale set to
// "korean" first: the plug-in converts under that locale before every conversion.
#include "platform/platform.h"

#include <clocale>

#include "platform/ansi_encoder.h"

namespace platform {

namespace {

void UseKoreanLocale() { std::setlocale(LC_ALL, "korean"); }

}  // namespace

namespace detail {

AnsiEncoder::AnsiEncoder() : m_converter(nullptr) { UseKoreanLocale(); }

AnsiEncoder::~AnsiEncoder() = default;

bool AnsiEncoder::AsciiAsItself() const { return false; }

std::string AnsiEncoder::Encode(const WCHAR *units, size_t count) {
    char bytes[16];
    const int written =
        WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(count), bytes, sizeof bytes, nullptr, nullptr);
    return written > 0 ? std::string(bytes, static_cast<size_t>(written)) : std::string();
}

}  // namespace detail

WideString AnsiToWide(const char *text) {
    if (text == nullptr) return WideString();
    UseKoreanLocale();
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 1) return WideString();
    WideString result(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, result.data(), needed);
    result.resize(static_cast<size_t>(needed) - 1);
    return result;
}

}  // namespace platform
