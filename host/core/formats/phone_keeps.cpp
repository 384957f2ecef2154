#include "phone_keeps.h"

#include <algorithm>

#include "encoding.h"

namespace host {

const char kNicknameOrId[] = "NICKNAME/GOVERNMENTID";
const char kContactType[] = "phonebook/private";
const char kAppointmentType[] = "schedule";
const char kCallKind[] = "callhistory";
const char kMessageKind[] = "sms";
const char kMayBeCutIntro[] = "may have been cut by the phone's field widths: ";
const char kMayBeCutMark[] = "\u2026";
const char kMayBeCutFootnote[] = "\u2026: as long as the phone's field allows, so it may have been cut\n";

namespace {

// Every string a read gives passes a buffer of this many bytes and a terminator.
constexpr size_t kReadBytes = 123;
// The listed name: LASTNAME directly followed by FIRSTNAME in a field of 64 bytes.
constexpr size_t kListedNameWidth = 64;

// The plug-in's record fields, in bytes with their terminator: a contact field is
// 32 bytes unless named here.
// clang-format off
const char *const kContactFields64[] = {
    "BUSINESSADDRESSCITY", "BUSINESSADDRESSCOUNTRY", "COMPANYNAME", "DEPARTMENT", "EMAIL1ADDRESS", "EMAIL2ADDRESS",
    "EMAIL3ADDRESS", "FIRSTNAME", "GOVERNMENTID", "HOMEADDRESSCITY", "HOMEADDRESSCOUNTRY", "IM1ADDRESS",
    "OTHERADDRESSCITY", "OTHERADDRESSCOUNTRY", "SPOUSE", "TITLE", kNicknameOrId};
const char *const kContactFields128[] = {
    "BUSINESSADDRESSSTREET", "CATEGORIES", "CHILDREN", "HOMEADDRESSSTREET", "OTHERADDRESSSTREET", "WEBPAGE"};
// clang-format on

bool Among(const std::string &name, const auto &names) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// The field's width in the plug-in's record (0: no text field).
size_t FieldWidth(const std::string &type, const std::string &field) {
    if (field == "title") return type == kContactType ? kListedNameWidth : type == kAppointmentType ? 256 : 0;
    if (type == kContactType) {
        if (field == "BODY") return 1024;
        if (field == "ANNIVERSARY" || field == "BIRTHDAY") return 0;  // times
        return Among(field, kContactFields128) ? 128 : Among(field, kContactFields64) ? 64 : 32;
    }
    if (type == kAppointmentType) return field == "TITLE" || field == "LOCATION" ? 256 : 0;
    if (type == kCallKind) return field == "name" || field == "number" ? 32 : 0;
    if (type == kMessageKind) return field == "text" ? 260 : field == "number" ? 32 : 0;
    return 0;
}

size_t ReadLimit(const std::string &type, const std::string &field) {
    size_t width = FieldWidth(type, field);
    return width == 0 ? std::string::npos : std::min(width - 1, kReadBytes);
}

// The most bytes one character takes in the phone's code page.
size_t WidestCharacter() {
    std::string name = DeviceCodePageName();
    return name == "UTF-8" || name == "CP65001" ? 4 : 2;
}

size_t CharacterBytes(const std::string &utf8, size_t at) {
    size_t length = 1;
    while (at + length < utf8.size() && length < 4 && (static_cast<unsigned char>(utf8[at + length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

// `utf8` in the phone's code page; the characters the code page cannot say go into
// `replaced` with what they became.
std::string ToDevice(const std::string &utf8, FieldChange *replaced) {
    std::string device = TerminalToDevice(utf8);
    if (DeviceToTerminal(device) == utf8) return device;
    std::vector<std::string> &characters = replaced->characters;
    for (size_t at = 0; at < utf8.size(); at += CharacterBytes(utf8, at)) {
        std::string character = utf8.substr(at, CharacterBytes(utf8, at));
        std::string became = DeviceToTerminal(TerminalToDevice(character));
        if (became == character || std::find(characters.begin(), characters.end(), character) != characters.end())
            continue;
        characters.push_back(character);
        replaced->replacements.push_back(became);
    }
    return device;
}

// The first bytes of `device` (phone's code page) up to `limit`, after the last whole
// character that fits, as the plug-in cuts.
std::string CutTo(const std::string &device, size_t limit) {
    if (device.size() <= limit) return device;
    const std::string utf8 = DeviceToTerminal(device);
    std::string cut;
    for (size_t at = 0; at < utf8.size(); at += CharacterBytes(utf8, at)) {
        std::string character = TerminalToDevice(utf8.substr(at, CharacterBytes(utf8, at)));
        if (cut.size() + character.size() > limit) break;
        cut += character;
    }
    return cut;
}

const std::string *FindFilled(const ItemFields &fields, const std::string &name) {
    for (const auto &[key, value] : fields)
        if (key == name && !value.empty()) return &value;
    return nullptr;
}

// NICKNAME and GOVERNMENTID are written to one phone property, and the phone keeps
// the last one written: GOVERNMENTID. Only one of them is sent; the other is named,
// unless it is the same value (as a read gives both).
ItemFields OnePerSharedPlace(const ItemFields &fields, std::vector<FieldChange> *changes) {
    const char *const place[] = {"GOVERNMENTID", kNicknameOrId, "NICKNAME"};  // first given is kept
    const char *kept = nullptr;
    for (const char *name : place)
        if (!kept && FindFilled(fields, name)) kept = name;
    if (!kept) return fields;
    const std::string keptValue = *FindFilled(fields, kept);
    ItemFields out;
    for (const auto &[name, value] : fields) {
        if (!Among(name, place) || name == kept) {
            out.emplace_back(name == kNicknameOrId ? "GOVERNMENTID" : name, value);
        } else if (!value.empty() && keptValue.rfind(value, 0) != 0) {  // a nickname read back starts the ID
            changes->push_back({.kind = FieldChange::Kind::Merged, .field = name, .value = value, .kept = kept});
        }
    }
    bool merged = !changes->empty() && changes->back().kind == FieldChange::Kind::Merged;
    if (!merged && kept != std::string(kNicknameOrId))
        changes->push_back({.kind = FieldChange::Kind::Shared, .field = kept});
    return out;
}

FieldChange SizeChange(FieldChange::Kind kind, const std::string &field, size_t keptBytes, size_t bytes) {
    return {.kind = kind, .field = field, .keptBytes = keptBytes, .bytes = bytes};
}

// What a read gives back of a contact: the shared property under its own name.
void ReadSharedPlace(ItemFields &read) {
    for (auto &[name, value] : read)
        if (name == "GOVERNMENTID" || name == "NICKNAME") name = kNicknameOrId;
}

}  // namespace

std::string FieldChange::Text() const {
    const std::string of = " bytes of " + std::to_string(bytes);
    switch (kind) {
    case Kind::Cut: return field + " cut to " + std::to_string(keptBytes) + of + " (the phone's field is no wider)";
    case Kind::ReadCut:
        return field + ": reads give only its first " + std::to_string(keptBytes) + " bytes of the " +
               std::to_string(bytes) + " the phone keeps";
    case Kind::Replaced: {
        std::string shown;
        for (size_t i = 0; i < characters.size(); ++i)
            shown += (i ? ", " : "") + characters[i] + " became " + replacements[i];
        return field + ": " + shown + " (" + DeviceCodePageName() + " cannot say " +
               (characters.size() == 1 ? "it)" : "them)");
    }
    case Kind::Merged:
        return field + " " + value + " not kept: the phone keeps NICKNAME and GOVERNMENTID in one place (" + kept +
               " kept; reads give it as " + kNicknameOrId + ")";
    case Kind::Shared:
        return field + " is kept in the one place the phone has for NICKNAME and GOVERNMENTID: reads give it as " +
               kNicknameOrId;
    case Kind::ListedNameCut:
        return "the listed name (LASTNAME then FIRSTNAME) cut to " + std::to_string(keptBytes) + of;
    }
    return field;
}

nlohmann::json FieldChange::Json() const {
    static const char *const kNames[] = {"cut", "readCut", "replaced", "merged", "shared", "listedNameCut"};
    nlohmann::json out = {{"field", field}, {"change", kNames[static_cast<int>(kind)]}, {"text", Text()}};
    if (kind == Kind::Cut || kind == Kind::ReadCut || kind == Kind::ListedNameCut) {
        out["keptBytes"] = keptBytes;
        out["bytes"] = bytes;
    }
    if (kind == Kind::Replaced) {
        out["characters"] = characters;
        out["became"] = replacements;
    }
    if (kind == Kind::Merged) {
        out["value"] = value;
        out["kept"] = kept;
    }
    return out;
}

KeptItem AsThePhoneKeepsIt(const std::string &type, const ItemFields &given) {
    KeptItem item;
    item.sent = type == kContactType ? OnePerSharedPlace(given, &item.changes) : given;
    std::string listedName[2];  // LASTNAME, FIRSTNAME as the phone keeps them
    for (const auto &[name, value] : item.sent) {
        FieldChange replaced{.kind = FieldChange::Kind::Replaced, .field = name};
        const std::string device = ToDevice(value, &replaced);
        if (!replaced.characters.empty()) item.changes.push_back(replaced);
        std::string kept = device, read = device;
        if (size_t width = FieldWidth(type, name); width > 0) {
            kept = CutTo(device, width - 1);
            read = CutTo(kept, kReadBytes);
        }
        if (kept.size() < device.size())
            item.changes.push_back(SizeChange(FieldChange::Kind::Cut, name, kept.size(), device.size()));
        if (read.size() < kept.size())
            item.changes.push_back(SizeChange(FieldChange::Kind::ReadCut, name, read.size(), kept.size()));
        if (name == "LASTNAME" || name == "FIRSTNAME") listedName[name == "FIRSTNAME"] = kept;
        item.read.emplace_back(name, DeviceToTerminal(read));
    }
    if (type == kContactType) {
        ReadSharedPlace(item.read);
        const std::string composed = listedName[0] + listedName[1];
        const std::string listed = CutTo(composed, kListedNameWidth - 1);
        if (listed.size() < composed.size())
            item.changes.push_back(
                SizeChange(FieldChange::Kind::ListedNameCut, "listed name", listed.size(), composed.size()));
    }
    return item;
}

CutFields MayBeCut(const std::string &type, const ItemFields &fields) {
    CutFields cut;
    for (const auto &[name, value] : fields) {
        size_t limit = ReadLimit(type, name);
        // The plug-in cuts after the last whole character that fits: a value within
        // one character of the limit may have lost the next.
        if (limit != std::string::npos && TerminalToDevice(value).size() + WidestCharacter() > limit)
            cut.emplace_back(name, limit);
    }
    return cut;
}

std::string MayBeCutText(const std::vector<std::pair<std::string, size_t>> &fields) {
    std::string text;
    for (const auto &[name, bytes] : fields)
        text += (text.empty() ? "" : ", ") + name + " (" + std::to_string(bytes) + " bytes)";
    return text;
}

nlohmann::json MayBeCutJson(const std::vector<std::pair<std::string, size_t>> &fields) {
    nlohmann::json out = nlohmann::json::object();
    for (const auto &[name, bytes] : fields) out[name] = bytes;
    return out;
}

std::string Marked(const std::string &shown, const CutFields &cut, const std::vector<std::string> &fields,
                   bool *marked) {
    for (const auto &[name, bytes] : cut)
        if (std::find(fields.begin(), fields.end(), name) != fields.end()) {
            *marked = true;
            return shown + kMayBeCutMark;
        }
    return shown;
}

}  // namespace host
