// Text between the phone and the PC: the phone's text travels in the PC's ANSI code
// page (CP949 unless CEBRIDGE_CODEPAGE says otherwise, as the plug-in uses), the
// host's own text is UTF-8. Converters are kept open per thread.
#ifndef CEBRIDGE_HOST_ENCODING_H
#define CEBRIDGE_HOST_ENCODING_H

#include <cstdint>
#include <string>

#include "outcome.h"

namespace host {

// Whether CEBRIDGE_CODEPAGE can be used (or is not set); kBadInput saying why not.
Outcome CheckCodePage();
std::string DeviceToTerminal(const std::string &ansi);
// Text for the phone in its code page: a character it cannot say becomes one '?',
// never a look-alike letter.
std::string TerminalToDevice(const std::string &text);
// A name typed for the phone in its code page; each character the code page cannot
// say becomes kUnsayable (never a look-alike letter: that would name another file).
constexpr char kUnsayable = '\x1A';
std::string TerminalToDeviceName(const std::string &text);
// A name of TerminalToDeviceName for people: '?' where it lost a character.
std::string ShownUnsayable(const std::string &name);
// The phone's code page as messages name it ("CP949").
std::string DeviceCodePageName();
// What the user can do when the code page cannot say a name: which setting chooses it,
// and one that says every name.
std::string CodePageWayOut();
#if defined(_WIN32)
std::wstring WideFromUtf8(const std::string &utf8);
std::string Utf8FromWide(const std::wstring &wide);
#endif
// Text in a named character set (a MIME name: "ISO-8859-1", "EUC-KR", "SHIFT_JIS"...)
// as UTF-8; unchanged when the set is unknown here.
std::string CharsetToUtf8(const std::string &text, const std::string &charset);

// `text` with its ASCII letters in upper case; other bytes (UTF-8, the code page's)
// stay as they are.
std::string AsciiUpper(std::string text);

// UTF-16 bytes (little- or big-endian) as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::string &bytes, bool bigEndian);
// A text file's bytes as UTF-8: UTF-16 marked by its byte order mark converted, any
// other text as it is (a UTF-8 byte order mark kept for the reader to skip).
std::string TextFileAsUtf8(const std::string &bytes);

}  // namespace host

#endif  // CEBRIDGE_HOST_ENCODING_H
