// The content lines vCard and iCalendar files share: NAME;PARAM=V:VALUE, text
// values escaped, lines folded at 75 octets and ended by CR LF.
#ifndef CEBRIDGE_HOST_CONTENT_LINE_H
#define CEBRIDGE_HOST_CONTENT_LINE_H

#include <string>
#include <vector>

namespace host {

// A text value with '\', ';', ',' and line ends escaped.
std::string EscapeText(const std::string &utf8);
// The components of a structured value (N, ADR, ORG), each escaped, joined by ';'.
std::string StructuredValue(const std::vector<std::string> &components);
// "NAME:VALUE" folded into lines of at most 75 octets (never inside a UTF-8
// character), each ended by CR LF.
std::string ContentLine(const std::string &nameAndParameters, const std::string &value);

}  // namespace host

#endif  // CEBRIDGE_HOST_CONTENT_LINE_H
