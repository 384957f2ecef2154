// What the phone keeps of a PIM item's text values, worked out as the plug-in will
// treat them, so that the host can say what changed. The plug-in takes each value in
// the PC's code page (a character the code page cannot say arrives as '?'), cuts it
// to its record field's width after the last whole character, and writes NICKNAME and
// GOVERNMENTID to one phone property. Reading, every string passes a 124-byte buffer
// before its field: no value read back is longer than 123 bytes, and a value at its
// field's limit may have been cut there.
#ifndef CEBRIDGE_HOST_PHONE_KEEPS_H
#define CEBRIDGE_HOST_PHONE_KEEPS_H

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace host {

using ItemFields = std::vector<std::pair<std::string, std::string>>;

// A read cannot tell a nickname from an ID number (one phone property holds either):
// it gives the value under this name.
extern const char kNicknameOrId[];  // "NICKNAME/GOVERNMENTID"

// The PIM object types of contacts and appointments.
extern const char kContactType[];      // "phonebook/private"
extern const char kAppointmentType[];  // "schedule"
// The kinds of read-only items whose values may be cut, besides the PIM item types:
// fields "name" and "number"; "text" and "number".
extern const char kCallKind[];
extern const char kMessageKind[];

// One thing the phone does not keep as it was given.
struct FieldChange {
    enum class Kind {
        Cut,            // the phone keeps keptBytes of the value's bytes
        ReadCut,        // the phone keeps bytes, reads give keptBytes of them
        Replaced,       // characters the code page cannot say became '?'
        Merged,         // left out: the field shares its phone property with `kept`
        Shared,         // kept in the property NICKNAME and GOVERNMENTID share
        ListedNameCut,  // the listed name (LASTNAME then FIRSTNAME) keeps keptBytes
    };
    Kind kind;
    std::string field;
    size_t keptBytes = 0, bytes = 0;                              // in the phone's code page
    std::vector<std::string> characters = {}, replacements = {};  // Replaced: each character, what it became
    std::string value = {}, kept = {};                            // Merged: the value left out, the field kept

    std::string Text() const;
    nlohmann::json Json() const;
};

struct KeptItem {
    ItemFields sent;  // the fields to send (UTF-8): NICKNAME left out beside GOVERNMENTID
    ItemFields read;  // the fields as the phone's reads will give them (UTF-8)
    std::vector<FieldChange> changes;
};

// `fields` (UTF-8, names the add of `type` writes, or kNicknameOrId) as the phone
// will keep them.
KeptItem AsThePhoneKeepsIt(const std::string &type, const ItemFields &fields);

// The fields of an item read from the phone (UTF-8) that the phone's widths may have
// cut, each with the bytes its reads give at most. Besides the phone's field names,
// "title" is a listed item's title (a contact's composed name, an appointment's TITLE).
using CutFields = std::vector<std::pair<std::string, size_t>>;
CutFields MayBeCut(const std::string &type, const ItemFields &fields);
// "TITLE (123 bytes), LOCATION (123 bytes)", after kMayBeCutIntro.
extern const char kMayBeCutIntro[];
std::string MayBeCutText(const std::vector<std::pair<std::string, size_t>> &fields);
nlohmann::json MayBeCutJson(const std::vector<std::pair<std::string, size_t>> &fields);

// Listings end a value that may have been cut with kMayBeCutMark ("…"), and the table
// with kMayBeCutFootnote.
extern const char kMayBeCutMark[];
extern const char kMayBeCutFootnote[];
// `shown` followed by the mark when one of `fields` is among `cut`; *marked set then.
std::string Marked(const std::string &shown, const CutFields &cut, const std::vector<std::string> &fields,
                   bool *marked);

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_KEEPS_H
