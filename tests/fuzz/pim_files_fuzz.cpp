// Fuzz entry for the vCard and iCalendar files a user hands the host (imports,
// restores, sync folders and servers): the input's first byte picks the reader (even:
// vCard, odd: iCalendar), the rest is the file. What a reader took must hold together:
// written out again it reads back as as many items, and a merge of the first item's
// own fields into the file keeps every item of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "icalendar.h"
#include "vcard.h"

namespace {

void Require(bool holds) {
    if (!holds) std::abort();
}

void ReadCards(const std::string &text) {
    const std::vector<host::ReadCard> cards = host::ReadVCards(text);
    std::vector<host::ContactFields> contacts;
    for (const host::ReadCard &card : cards) contacts.push_back(card.fields);
    Require(host::ReadVCards(host::WriteVCards(contacts)).size() == contacts.size());
    if (cards.empty()) return;
    const std::string merged = host::CardWithFields(text, host::CardFields(text));
    Require(host::ReadVCards(merged).size() == cards.size());
}

void ReadEvents(const std::string &text) {
    std::vector<host::ReadEvent> read;
    if (!host::ReadICalendar(text, &read).ok) return;
    std::vector<host::CalendarEvent> events;
    for (const host::ReadEvent &event : read)
        if (event.problem.empty() && event.leftOut.empty()) events.push_back(event.event);
    std::vector<host::ReadEvent> again;
    Require(host::ReadICalendar(host::WriteICalendar(events), &again).ok && again.size() == events.size());
    if (events.empty()) return;
    const std::string changed = host::EventWithChanges(text, events[0].uid, events[0], {true, true, true});
    std::vector<host::ReadEvent> merged;
    Require(host::ReadICalendar(changed, &merged).ok && merged.size() == read.size());
}

}  // namespace

int FuzzPimFiles(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] % 2 == 0)
        ReadCards(text);
    else
        ReadEvents(text);
    return 0;
}

#if defined(CEBRIDGE_LIBFUZZER)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzPimFiles(data, size); }
#endif
