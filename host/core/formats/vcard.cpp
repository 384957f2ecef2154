#include "vcard.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "appointment_time.h"
#include "content_line.h"
#include "encoding.h"
#include "phone_keeps.h"

namespace host {
namespace {

// Numbers: the phone's field and the TYPEs it is written with. Reading, the first
// free field whose kind the card's TYPEs name takes the number.
struct NumberField {
    const char *field;
    const char *types;
};
const NumberField kNumbers[] = {
    {"MOBILETELEPHONENUMBER", "CELL,VOICE"},
    {"HOMETELEPHONENUMBER", "HOME,VOICE"},
    {"HOME2TELEPHONENUMBER", "HOME,VOICE"},
    {"BUSINESSTELEPHONENUMBER", "WORK,VOICE"},
    {"BUSINESS2TELEPHONENUMBER", "WORK,VOICE"},
    {"BUSINESSFAXNUMBER", "WORK,FAX"},
    {"PAGERNUMBER", "PAGER"},
    {"CARTELEPHONENUMBER", "CAR"},
    {"RADIOTELEPHONENUMBER", "X-RADIO"},
    {"ASSISTANTTELEPHONENUMBER", "X-ASSISTANT"},
    {"COMPANYTELEPHONENUMBER", "WORK,X-COMPANY"},
};
const char *const kEmails[] = {"EMAIL1ADDRESS", "EMAIL2ADDRESS", "EMAIL3ADDRESS"};

// Addresses: HOME, WORK and, without a type, the phone's other address.
struct AddressField {
    const char *prefix;  // HOMEADDRESS + STREET, CITY, STATE, POSTALCODE, COUNTRY
    const char *type;
};
const AddressField kAddresses[] = {{"HOMEADDRESS", "HOME"}, {"BUSINESSADDRESS", "WORK"}, {"OTHERADDRESS", ""}};
const char *const kAddressParts[] = {"STREET", "CITY", "STATE", "POSTALCODE", "COUNTRY"};

// Fields with no property of their own in vCard 3.0 travel as X-CEBRIDGE-<FIELD>.
const char *const kPrivateFields[] = {"ASSISTANTNAME", "CHILDREN",       "GOVERNMENTID", "IM1ADDRESS",
                                      "MANAGER",       "OFFICELOCATION", "SPOUSE"};
const char kPrivatePrefix[] = "X-CEBRIDGE-";

// Single-valued fields with a standard (or widely read) property. The phone's one
// place for a nickname or an ID number travels under a name that claims neither:
// NICKNAME is what other programs show, and an ID number is not a name to show.
struct SimpleField {
    const char *field;
    const char *property;
};
const SimpleField kSimple[] = {{"NICKNAME", "NICKNAME"},
                               {"JOBTITLE", "TITLE"},
                               {"WEBPAGE", "URL"},
                               {"BIRTHDAY", "BDAY"},
                               {"ANNIVERSARY", "X-ANNIVERSARY"},
                               {"BODY", "NOTE"},
                               {"CATEGORIES", "CATEGORIES"},
                               {kNicknameOrId, "X-CEBRIDGE-NICKNAME-OR-ID"}};

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

std::string Trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Get(const ContactFields &fields, const std::string &name) {
    for (const auto &[key, value] : fields)
        if (key == name) return value;
    return {};
}

bool Has(const ContactFields &fields, const std::string &name) { return !Get(fields, name).empty(); }

// Holds a character from U+1000 up (Hangul, kana, CJK...): a UTF-8 lead byte E1 to F4.
bool EastAsian(const std::string &text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        unsigned char byte = static_cast<unsigned char>(c);
        return byte >= 0xE1 && byte <= 0xF4;
    });
}

// The phone keeps dates as "YYYYMMDDTHHMMSSZ": a vCard date is "YYYY-MM-DD".
std::string DateValue(const std::string &stamp) {
    Instant instant = 0;
    return ParseStamp(stamp, false, &instant) ? DayText(DayOf(instant, false)) : EscapeText(stamp);
}

// A URI takes no text escaping (a comma or ';' is part of it); line ends cannot be in one.
std::string UriValue(const std::string &value) {
    std::string uri = value;
    std::erase_if(uri, [](char c) { return c == '\r' || c == '\n'; });
    return uri;
}

std::string WriteCard(const ContactFields &fields) {
    std::string card = ContentLine("BEGIN", "VCARD") + ContentLine("VERSION", "3.0");
    card += ContentLine("N", StructuredValue({Get(fields, "LASTNAME"), Get(fields, "FIRSTNAME"), "",
                                              Get(fields, "TITLE"), Get(fields, "SUFFIX")}));
    card += ContentLine("FN", EscapeText(FormattedName(fields)));
    if (Has(fields, "COMPANYNAME") || Has(fields, "DEPARTMENT"))
        card += ContentLine("ORG", StructuredValue({Get(fields, "COMPANYNAME"), Get(fields, "DEPARTMENT")}));
    for (const NumberField &number : kNumbers)
        if (Has(fields, number.field))
            card += ContentLine(std::string("TEL;TYPE=") + number.types, EscapeText(Get(fields, number.field)));
    for (const char *email : kEmails)
        if (Has(fields, email)) card += ContentLine("EMAIL;TYPE=INTERNET", EscapeText(Get(fields, email)));
    for (const AddressField &address : kAddresses) {
        std::vector<std::string> parts = {"", ""};
        bool any = false;
        for (const char *part : kAddressParts) {
            parts.push_back(Get(fields, std::string(address.prefix) + part));
            any = any || !parts.back().empty();
        }
        if (any)
            card +=
                ContentLine(*address.type ? std::string("ADR;TYPE=") + address.type : "ADR", StructuredValue(parts));
    }
    for (const SimpleField &simple : kSimple) {
        if (!Has(fields, simple.field)) continue;
        std::string value = Get(fields, simple.field);
        bool date = simple.property == std::string("BDAY") || simple.property == std::string("X-ANNIVERSARY");
        bool uri = simple.property == std::string("URL");
        card += ContentLine(simple.property, date ? DateValue(value) : uri ? UriValue(value) : EscapeText(value));
    }
    for (const char *field : kPrivateFields)
        if (Has(fields, field))
            card += ContentLine(kPrivatePrefix + std::string(field), EscapeText(Get(fields, field)));
    return card + ContentLine("END", "VCARD");
}

// ---- reading ----

struct Property {
    std::string name;                // upper case, without a group ("item1.")
    std::vector<std::string> types;  // upper case, from TYPE= and 2.1's bare words
    std::string encoding, charset;   // upper case
    std::string value;               // as written (still escaped)
};

// Splits at `separator` outside double quotes.
std::vector<std::string> SplitOutsideQuotes(const std::string &text, char separator) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == separator && !quoted)
            parts.emplace_back();
        else if (c != '"')
            parts.back() += c;
    }
    return parts;
}

// Unfolded logical lines. 2.1's quoted-printable values continue after a final '='.
// *starts (when given): where each logical line starts in `text`.
std::vector<std::string> LogicalLines(const std::string &text, std::vector<size_t> *starts = nullptr) {
    std::vector<std::string> lines;
    bool softBreak = false;
    size_t start = 0;
    while (start < text.size()) {
        const size_t lineStart = start;
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        while (line.rfind(kByteOrderMark, 0) == 0) line.erase(0, kByteOrderMark.size());
        if (softBreak) {
            lines.back() += line;
        } else if (!lines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            lines.back() += line.substr(1);
        } else {
            lines.push_back(line);
            if (starts) starts->push_back(lineStart);
        }
        const std::string &last = lines.back();
        softBreak = !last.empty() && last.back() == '=' &&
                    AsciiUpper(last.substr(0, last.find(':'))).find("QUOTED-PRINTABLE") != std::string::npos;
        if (softBreak) lines.back().pop_back();
    }
    return lines;
}

bool ParseProperty(const std::string &line, Property *property) {
    size_t colon = std::string::npos;
    bool quoted = false;
    for (size_t i = 0; i < line.size() && colon == std::string::npos; ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) colon = i;
    }
    if (colon == std::string::npos) return false;
    std::vector<std::string> head = SplitOutsideQuotes(line.substr(0, colon), ';');
    std::string name = AsciiUpper(head[0]);
    property->name = name.substr(name.find('.') == std::string::npos ? 0 : name.find('.') + 1);
    for (size_t i = 1; i < head.size(); ++i) {
        std::string parameter = AsciiUpper(head[i]);
        size_t equals = parameter.find('=');
        std::string key = equals == std::string::npos ? "" : parameter.substr(0, equals);
        std::string values = parameter.substr(equals == std::string::npos ? 0 : equals + 1);
        if (key == "ENCODING" || (key.empty() && (values == "QUOTED-PRINTABLE" || values == "BASE64" || values == "B")))
            property->encoding = values;
        else if (key == "CHARSET")
            property->charset = values;
        else if (key == "TYPE" || key.empty())
            for (const std::string &type : SplitOutsideQuotes(values, ',')) property->types.push_back(type);
        else if (key == "PREF")  // 4.0's PREF=1: as 3.0's TYPE=PREF
            property->types.push_back("PREF");
    }
    property->value = line.substr(colon + 1);
    return true;
}

// Bytes written as `marker` and two hex digits ("=C3=A9", "%C3%A9") decoded.
std::string HexEscapesDecoded(const std::string &text, char marker) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == marker && i + 2 < text.size() && hex(text[i + 1]) && hex(text[i + 2])) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The value's components (split at unescaped ';'), each a list (split at unescaped
// ','), each item unescaped.
std::vector<std::vector<std::string>> ComponentLists(const std::string &value) {
    std::vector<std::vector<std::string>> parts(1, std::vector<std::string>(1));
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            parts.back().back() += (next == 'n' || next == 'N') ? '\n' : next;
        } else if (c == ';') {
            parts.emplace_back(1);
        } else if (c == ',') {
            parts.back().emplace_back();
        } else {
            parts.back().back() += c;
        }
    }
    return parts;
}

// The value's components (split at unescaped ';'), each unescaped; a list keeps its commas.
std::vector<std::string> Components(const std::string &value) {
    std::vector<std::string> parts;
    for (const std::vector<std::string> &list : ComponentLists(value)) {
        parts.emplace_back();
        for (size_t i = 0; i < list.size(); ++i) parts.back() += (i ? "," : "") + list[i];
    }
    return parts;
}

std::string Unescaped(const std::string &value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            out += (next == 'n' || next == 'N') ? '\n' : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string Component(const std::vector<std::string> &parts, size_t index) {
    return index < parts.size() ? parts[index] : std::string();
}

std::string JoinNonEmpty(const std::vector<std::string> &parts, const char *separator) {
    std::string out;
    for (const std::string &part : parts)
        if (!part.empty()) out += (out.empty() ? "" : separator) + part;
    return out;
}

bool Typed(const Property &property, const char *type) {
    return std::find(property.types.begin(), property.types.end(), type) != property.types.end();
}

class CardBuilder {
public:
    ReadCard card;
    std::string formattedName;
    bool agentFollows = false;               // the last property was 2.1's AGENT with its card to follow
    size_t line = 0;                         // the logical line being read
    std::map<std::string, size_t> origin;    // field -> the logical line its value came from
    std::set<std::string> preferredNumbers;  // number fields a preferred (TYPE=PREF) number holds

    // Sets `field` unless it has a value already; false then.
    bool Set(const std::string &field, const std::string &value) {
        if (value.empty()) return true;
        if (Has(card.fields, field)) return false;
        card.fields.emplace_back(field, value);
        origin[field] = line;
        return true;
    }

    // 2.1 and 3.0 may list names in a component ("Mary,Ann"). The phone has no field
    // for additional (middle) names: they follow the first name, and the import says so.
    void Name(const std::vector<std::vector<std::string>> &lists) {
        auto joined = [&](size_t index) { return index < lists.size() ? JoinNonEmpty(lists[index], " ") : ""; };
        std::string additional = joined(2);
        Set("LASTNAME", joined(0));
        Set("FIRSTNAME", JoinNonEmpty({joined(1), additional}, " "));
        Set("TITLE", joined(3));
        Set("SUFFIX", joined(4));
        if (!additional.empty())
            card.changed.push_back("middle name " + additional + " joined FIRSTNAME: the phone has no field for it");
    }

    // A tel: URI (RFC 3966) as the number a person dials: "+1-555-0100;ext=42" becomes
    // "+1-555-0100 ext. 42"; other URI parameters are named as left out.
    std::string TelUriNumber(const std::string &value) {
        if (AsciiUpper(value.substr(0, 4)) != "TEL:") return value;
        std::vector<std::string> parts = SplitOutsideQuotes(value.substr(4), ';');
        std::string number = HexEscapesDecoded(parts[0], '%');
        for (size_t i = 1; i < parts.size(); ++i) {
            std::string parameter = HexEscapesDecoded(parts[i], '%');
            if (AsciiUpper(parameter.substr(0, 4)) == "EXT=")
                number += " ext. " + parameter.substr(4);
            else if (!parameter.empty())
                card.changed.push_back("TEL " + parts[0] + " without its URI parameter " + parameter);
        }
        return number;
    }

    void Number(const Property &property, const std::string &number) {
        std::vector<const char *> candidates;
        if (Typed(property, "X-COMPANY"))
            candidates = {"COMPANYTELEPHONENUMBER"};
        else if (Typed(property, "X-RADIO"))
            candidates = {"RADIOTELEPHONENUMBER"};
        else if (Typed(property, "X-ASSISTANT"))
            candidates = {"ASSISTANTTELEPHONENUMBER"};
        else if (Typed(property, "FAX"))
            candidates = {"BUSINESSFAXNUMBER"};
        else if (Typed(property, "PAGER"))
            candidates = {"PAGERNUMBER"};
        else if (Typed(property, "CAR"))
            candidates = {"CARTELEPHONENUMBER"};
        else if (Typed(property, "CELL"))
            candidates = {"MOBILETELEPHONENUMBER"};
        else if (Typed(property, "WORK"))
            candidates = {"BUSINESSTELEPHONENUMBER", "BUSINESS2TELEPHONENUMBER"};
        else if (Typed(property, "HOME"))
            candidates = {"HOMETELEPHONENUMBER", "HOME2TELEPHONENUMBER"};
        else
            candidates = {"MOBILETELEPHONENUMBER", "HOMETELEPHONENUMBER", "HOME2TELEPHONENUMBER",
                          "BUSINESSTELEPHONENUMBER", "BUSINESS2TELEPHONENUMBER"};
        const bool preferred = Typed(property, "PREF");
        for (const char *field : candidates)
            if (Set(field, number)) {
                if (preferred) preferredNumbers.insert(field);
                return;
            }
        // Every field of its kind is taken: the preferred number takes the first from a number not preferred.
        std::string left = number;
        if (preferred && preferredNumbers.insert(candidates.front()).second) {
            auto taken = std::find_if(card.fields.begin(), card.fields.end(),
                                      [&](const auto &field) { return field.first == candidates.front(); });
            left = std::exchange(taken->second, number);
            origin[candidates.front()] = line;
        }
        card.notKept.push_back("TEL " + left + " (no free number field of its kind)");
    }

    void Address(const Property &property, const std::vector<std::string> &parts) {
        const char *prefix = Typed(property, "HOME")   ? "HOMEADDRESS"
                             : Typed(property, "WORK") ? "BUSINESSADDRESS"
                                                       : "OTHERADDRESS";
        std::string street = JoinNonEmpty({Component(parts, 0), Component(parts, 1), Component(parts, 2)}, ", ");
        std::vector<std::string> values = {street, Component(parts, 3), Component(parts, 4), Component(parts, 5),
                                           Component(parts, 6)};
        for (size_t i = 0; i < values.size(); ++i) {
            if (Has(card.fields, std::string(prefix) + kAddressParts[i])) {
                card.notKept.push_back("ADR " + JoinNonEmpty(values, ", ") + " (its kind is taken)");
                return;
            }
        }
        for (size_t i = 0; i < values.size(); ++i) Set(std::string(prefix) + kAddressParts[i], values[i]);
    }

    void Add(const Property &property) {
        std::string raw = property.value;
        if (property.encoding == "QUOTED-PRINTABLE") raw = HexEscapesDecoded(raw, '=');
        if (property.encoding == "BASE64" || property.encoding == "B") {
            card.notKept.push_back(property.name);
            return;
        }
        if (!property.charset.empty()) raw = CharsetToUtf8(raw, property.charset);
        const std::string &name = property.name;
        std::vector<std::string> parts = Components(raw);
        std::string value = Unescaped(raw);
        if (name == "N") {
            Name(ComponentLists(raw));
        } else if (name == "FN") {
            formattedName = value;
        } else if (name == "ORG") {
            Set("COMPANYNAME", Component(parts, 0));
            std::vector<std::string> units(parts.size() > 1 ? parts.begin() + 1 : parts.end(), parts.end());
            Set("DEPARTMENT", JoinNonEmpty(units, ", "));
        } else if (name == "TEL") {
            Number(property, TelUriNumber(value));
        } else if (name == "AGENT") {
            agentFollows = value.empty();  // 2.1: the agent's own card comes next
        } else if (name == "EMAIL") {
            if (!Set(kEmails[0], value) && !Set(kEmails[1], value) && !Set(kEmails[2], value))
                card.notKept.push_back("EMAIL " + value + " (the phone keeps three)");
        } else if (name == "ADR") {
            Address(property, parts);
        } else if (name == "IMPP") {
            if (!Set("IM1ADDRESS", value)) card.notKept.push_back("IMPP " + value);
        } else if (name == "ANNIVERSARY") {
            Set("ANNIVERSARY", value);
        } else if (name == "KIND" || name == "X-ADDRESSBOOKSERVER-KIND" || name == "X-ABSHOWAS") {
            card.kind = AsciiUpper(Trimmed(value)) == "COMPANY" ? "ORG" : AsciiUpper(Trimmed(value));
        } else if (!Simple(name, value) && !Private(name, value) && !Ignored(name)) {
            card.notKept.push_back(name);
        }
    }

    // Without N, the whole formatted name is the first name.
    ReadCard Finish() {
        if (!Has(card.fields, "FIRSTNAME") && !Has(card.fields, "LASTNAME") && !OrganizationOnly()) {
            Set("FIRSTNAME", formattedName);
            origin.erase("FIRSTNAME");  // no N line holds it
        }
        card.shownName = !formattedName.empty() ? formattedName : FormattedName(card.fields);
        return card;
    }

private:
    // A company's card: KIND:org, or no names while FN is the company's name.
    bool OrganizationOnly() const {
        if (card.kind == "ORG") return true;
        const std::string company = Get(card.fields, "COMPANYNAME");
        return !company.empty() && (formattedName.empty() || formattedName == company);
    }

    bool Simple(const std::string &name, const std::string &value) {
        for (const SimpleField &simple : kSimple) {
            if (name != simple.property) continue;
            if (!Set(simple.field, value)) card.notKept.push_back(name + " " + value + " (one is kept)");
            return true;
        }
        return false;
    }

    bool Private(const std::string &name, const std::string &value) {
        if (name.rfind(kPrivatePrefix, 0) != 0) return false;
        for (const char *field : kPrivateFields)
            if (name.substr(sizeof kPrivatePrefix - 1) == field) return Set(field, value) || true;
        return false;
    }

    static bool Ignored(const std::string &name) {
        static const char *const ignored[] = {"VERSION",
                                              "PRODID",
                                              "REV",
                                              "UID",
                                              "KIND",
                                              "SOURCE",
                                              "LABEL",
                                              "SORT-STRING",
                                              "X-PHONETIC-FIRST-NAME",
                                              "X-PHONETIC-LAST-NAME"};
        return std::find(std::begin(ignored), std::end(ignored), name) != std::end(ignored);
    }
};

}  // namespace

std::string FormattedName(const ContactFields &fields, std::vector<std::string> *from) {
    std::string first = Get(fields, "FIRSTNAME"), last = Get(fields, "LASTNAME");
    std::vector<std::string> unused;
    if (!from) from = &unused;
    if (!first.empty() && !last.empty()) {
        *from = {"FIRSTNAME", "LASTNAME"};
        return EastAsian(first + last) ? last + first : first + " " + last;
    }
    for (const char *name :
         {"FIRSTNAME", "LASTNAME", "COMPANYNAME", "NICKNAME", "EMAIL1ADDRESS", "MOBILETELEPHONENUMBER"})
        if (Has(fields, name)) {
            *from = {name};
            return Get(fields, name);
        }
    from->clear();
    return "-";
}

std::string WriteVCards(const std::vector<ContactFields> &contacts) {
    std::string out;
    for (const ContactFields &fields : contacts) out += WriteCard(fields);
    return out;
}

std::vector<ReadCard> ReadVCards(const std::string &input) {
    const std::string text = TextFileAsUtf8(input);
    std::vector<ReadCard> cards;
    std::vector<CardBuilder> open;  // nested cards (2.1's AGENT) are read and dropped
    // A card left open (no END:VCARD) is kept as far as it was read, with a remark.
    auto closeUnended = [&](const char *where) {
        if (open.empty()) return;
        open.front().card.changed.push_back(std::string("no END:VCARD: read up to ") + where);
        cards.push_back(open.front().Finish());
        open.clear();
    };
    for (const std::string &line : LogicalLines(text)) {
        Property property;
        if (!ParseProperty(line, &property)) continue;
        std::string value = AsciiUpper(Trimmed(property.value));
        if (property.name == "BEGIN" && value == "VCARD") {
            if (!open.empty() && !open.back().agentFollows) closeUnended("the next card");
            open.emplace_back();
        } else if (property.name == "END" && value == "VCARD" && !open.empty()) {
            ReadCard card = open.back().Finish();
            open.pop_back();
            if (open.empty()) cards.push_back(card);
        } else if (!open.empty()) {
            open.back().agentFollows = false;
            open.back().Add(property);
        }
    }
    closeUnended("the end of the file");
    return cards;
}

const char kGroupIsNoContact[] = "a group (KIND:group): the phone keeps people and companies only";

std::string FirstNumber(const ContactFields &fields) {
    std::string number;
    for (const NumberField &candidate : kNumbers)
        if (number.empty()) number = Get(fields, candidate.field);
    return number;
}

}  // namespace host

namespace host {
namespace {

// A line's head (group, name, parameters) without what said how its old value was
// encoded: the value written in its place is plain UTF-8.
std::string PlainHead(const std::string &line) {
    bool quoted = false;
    size_t colon = 0;
    for (; colon < line.size(); ++colon) {
        if (line[colon] == '"') quoted = !quoted;
        if (line[colon] == ':' && !quoted) break;
    }
    std::vector<std::string> head = SplitOutsideQuotes(line.substr(0, colon), ';');
    std::string out = head[0];
    for (size_t i = 1; i < head.size(); ++i) {
        const std::string upper = AsciiUpper(head[i]);
        if (upper.rfind("ENCODING=", 0) == 0 || upper.rfind("CHARSET=", 0) == 0 || upper == "QUOTED-PRINTABLE" ||
            upper == "BASE64")
            continue;
        out += ";" + (head[i].find_first_of(",:;") != std::string::npos ? "\"" + head[i] + "\"" : head[i]);
    }
    return out;
}

// The value of `property` decoded to UTF-8, still escaped.
std::string DecodedValue(const Property &property) {
    std::string raw = property.value;
    if (property.encoding == "QUOTED-PRINTABLE") raw = HexEscapesDecoded(raw, '=');
    if (!property.charset.empty()) raw = CharsetToUtf8(raw, property.charset);
    return raw;
}

// The escaped components of a structured value (split at unescaped ';').
std::vector<std::string> RawComponents(const std::string &value) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value.substr(i++, 2);
        } else if (value[i] == ';') {
            parts.emplace_back();
        } else {
            parts.back() += value[i];
        }
    }
    return parts;
}

// Where a field sits in a structured property's value; npos when the property is not structured.
size_t ComponentOf(const std::string &property, const std::string &field) {
    if (property == "N") {
        static const std::map<std::string, size_t> name = {
            {"LASTNAME", 0}, {"FIRSTNAME", 1}, {"TITLE", 3}, {"SUFFIX", 4}};
        auto found = name.find(field);
        return found == name.end() ? std::string::npos : found->second;
    }
    if (property == "ORG") return field == "COMPANYNAME" ? 0 : 1;
    if (property == "ADR") {
        for (size_t i = 0; i < std::size(kAddressParts); ++i)
            if (field.size() > std::strlen(kAddressParts[i]) &&
                field.compare(field.size() - std::strlen(kAddressParts[i]), std::string::npos, kAddressParts[i]) == 0)
                return i == 0 ? 2 : i + 2;
    }
    return std::string::npos;
}

// `value` of `field` as the line of `property` holds it, `old` its old (escaped) value.
std::string PropertyValue(const std::string &property, const std::string &field, const std::string &value,
                          const std::string &old) {
    if (property == "BDAY" || property == "ANNIVERSARY" || property == "X-ANNIVERSARY") return DateValue(value);
    if (property == "URL") return UriValue(value);
    if (property == "TEL" && AsciiUpper(old.substr(0, 4)) == "TEL:") return "tel:" + UriValue(value);
    (void)field;
    return EscapeText(value);
}

// The structured value `old` with `field` set to `value`.
std::string WithComponent(const std::string &property, const std::string &field, const std::string &value,
                          const std::string &old) {
    std::vector<std::string> parts = RawComponents(old);
    const size_t at = ComponentOf(property, field);
    if (parts.size() <= at) parts.resize(at + 1);
    parts[at] = EscapeText(value);
    if (property == "N" && field == "FIRSTNAME" && parts.size() > 2) parts[2].clear();  // the phone joins middle names
    if (property == "ORG" && field == "DEPARTMENT") parts.resize(2);
    if (property == "ADR" && at == 2) parts[0].clear(), parts[1].clear();  // the phone joins the street's parts
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? ";" : "") + parts[i];
    return out;
}

bool AllEmpty(const std::string &structured) { return structured.find_first_not_of(";") == std::string::npos; }

}  // namespace

std::string CardWithFields(const std::string &input, const ContactFields &changes) {
    const std::string text = TextFileAsUtf8(input);
    std::vector<size_t> starts;
    const std::vector<std::string> lines = LogicalLines(text, &starts);
    CardBuilder builder;
    size_t begin = lines.size(), end = lines.size(), fnLine = lines.size();
    for (size_t i = 0; i < lines.size() && end == lines.size(); ++i) {
        Property property;
        if (!ParseProperty(lines[i], &property)) continue;
        const std::string value = AsciiUpper(Trimmed(property.value));
        if (begin == lines.size()) {
            if (property.name == "BEGIN" && value == "VCARD") begin = i;
            continue;
        }
        if (property.name == "END" && value == "VCARD") {
            end = i;
        } else {
            if (property.name == "FN") fnLine = i;
            builder.line = i;
            builder.Add(property);
        }
    }
    if (begin == lines.size()) return input;
    const ReadCard before = builder.Finish();
    // The phone's one place for a nickname or an ID number is the card's ID number
    // line, else its nickname line.
    auto originOf = [&](std::string field) -> size_t {
        if (field == kNicknameOrId) field = builder.origin.count("GOVERNMENTID") ? "GOVERNMENTID" : "NICKNAME";
        auto found = builder.origin.find(field);
        return found == builder.origin.end() ? lines.size() : found->second;
    };
    std::map<size_t, std::string> rewritten;  // line -> its new text ("" removes it)
    std::map<size_t, std::string> values;     // line -> its new (escaped) value
    std::map<size_t, Property> properties;
    ContactFields fresh;
    bool nameChanged = false;
    for (const auto &[field, value] : changes) {
        nameChanged = nameChanged || field == "FIRSTNAME" || field == "LASTNAME";
        const size_t line = originOf(field);
        if (line == lines.size()) {
            if (!value.empty()) fresh.emplace_back(field == kNicknameOrId ? "NICKNAME" : field, value);
            continue;
        }
        Property &property = properties[line];
        if (property.name.empty()) ParseProperty(lines[line], &property);
        if (!values.count(line)) values[line] = DecodedValue(property);
        values[line] = ComponentOf(property.name, field) == std::string::npos
                           ? (value.empty() ? "" : PropertyValue(property.name, field, value, values[line]))
                           : WithComponent(property.name, field, value, values[line]);
    }
    for (const auto &[line, value] : values)
        rewritten[line] = AllEmpty(value) ? "" : ContentLine(PlainHead(lines[line]), value);
    if (nameChanged && fnLine < lines.size()) {
        ContactFields after = before.fields;
        for (const auto &change : changes) {
            std::erase_if(after, [&](const auto &kept) { return kept.first == change.first; });
            after.push_back(change);
        }
        std::string shown = Unescaped(DecodedValue([&] {
            Property fn;
            ParseProperty(lines[fnLine], &fn);
            return fn;
        }()));
        // A name written with more than the phone holds (a degree, a middle name)
        // keeps it: only the changed name is replaced in it.
        bool replaced = false;
        for (const char *name : {"FIRSTNAME", "LASTNAME"}) {
            const std::string was = Get(before.fields, name), now = Get(after, name);
            const size_t at = was.empty() ? std::string::npos : shown.find(was);
            if (was == now || at == std::string::npos) continue;
            shown.replace(at, was.size(), now);
            replaced = true;
        }
        if (!replaced) shown = FormattedName(after);
        rewritten[fnLine] = ContentLine(PlainHead(lines[fnLine]), EscapeText(shown));
    }
    std::string added;
    if (!fresh.empty()) {
        const bool name = std::any_of(fresh.begin(), fresh.end(), [](const auto &field) {
            return field.first == "FIRSTNAME" || field.first == "LASTNAME" || field.first == "TITLE" ||
                   field.first == "SUFFIX";
        });
        if (name)
            for (const char *part : {"LASTNAME", "FIRSTNAME", "TITLE", "SUFFIX"})
                if (!Has(fresh, part) && Has(before.fields, part)) fresh.emplace_back(part, Get(before.fields, part));
        for (const std::string &line : LogicalLines(WriteCard(fresh))) {
            Property property;
            if (!ParseProperty(line, &property) || property.name == "BEGIN" || property.name == "END" ||
                property.name == "VERSION" || property.name == "FN" || (property.name == "N" && !name))
                continue;
            added += ContentLine(line.substr(0, line.size() - property.value.size() - 1), property.value);
        }
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == end) out += added;
        const size_t next = i + 1 < starts.size() ? starts[i + 1] : text.size();
        auto change = rewritten.find(i);
        out += change == rewritten.end() ? text.substr(starts[i], next - starts[i]) : change->second;
    }
    if (end == lines.size()) out += added;
    return out;
}

std::vector<std::pair<std::string, std::string>> CardFields(const std::string &text) {
    std::vector<ReadCard> cards = ReadVCards(text);
    return cards.empty() ? ContactFields{} : cards.front().fields;
}

bool SameDay(const std::string &a, const std::string &b) {
    auto digits = [](const std::string &value) {
        std::string day = DateValue(value), out;
        for (char c : day)
            if (std::isdigit(static_cast<unsigned char>(c))) out += c;
        return out.substr(0, 8);
    };
    return digits(a) == digits(b);
}

}  // namespace host
