// Contacts as vCard text, both ways, as pure functions: the phone's contact fields
// (the plug-in's names: FIRSTNAME, MOBILETELEPHONENUMBER...) with UTF-8 values.
// Written: vCard 3.0. Read: 2.1 (quoted-printable, CHARSET=), 3.0 and 4.0.
#ifndef CEBRIDGE_HOST_VCARD_H
#define CEBRIDGE_HOST_VCARD_H

#include <string>
#include <utility>
#include <vector>

namespace host {

using ContactFields = std::vector<std::pair<std::string, std::string>>;

// One vCard 3.0 card per contact, CR LF line ends.
std::string WriteVCards(const std::vector<ContactFields> &contacts);
// The name people read: "Ann Lee"; Korean, Japanese and Chinese names family name
// first, unspaced, as the phone composes them; without a name, the company, e-mail
// address or number; "-" for none. *from (when given): the fields it was made of.
std::string FormattedName(const ContactFields &fields, std::vector<std::string> *from = nullptr);

struct ReadCard {
    ContactFields fields;
    std::string shownName;             // FN, or the names, for reports
    std::vector<std::string> notKept;  // "PHOTO", "TEL 555-1234 (no free number field)"...
    std::vector<std::string> changed;  // what was kept in another form, and guesses the reading made
    std::string kind;                  // KIND in upper case ("GROUP", "ORG"; a company's card "ORG"); "" for none
};

// Every card of `text` (UTF-8, or UTF-16 after its byte-order mark), in order. A card
// without END:VCARD ends where the next one begins or the text ends.
std::vector<ReadCard> ReadVCards(const std::string &text);

// `text` with its first card's fields set to `changes` (UTF-8; "" clears a field), in
// place: a line that held a field keeps its group, name and parameters and takes the
// new value; fields no line held are added before END:VCARD; every other line, and
// every other card, stays byte for byte. A changed name is also changed in FN.
std::string CardWithFields(const std::string &text, const ContactFields &changes);
// The fields of the first card of `text` as read, values whole.
ContactFields CardFields(const std::string &text);
// Whether two dates (a card's "1980-05-17", the phone's "19800517T000000Z") name the same day.
bool SameDay(const std::string &a, const std::string &b);

// The name and the first number of a contact, as --skip-existing compares them.
std::string ContactKey(const ContactFields &fields);

}  // namespace host

#endif  // CEBRIDGE_HOST_VCARD_H
