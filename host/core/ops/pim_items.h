// The phone's PIM items as every front end reads them: the fields an add may name,
// a call's kind and party, the messages of a box.
#ifndef CEBRIDGE_HOST_PIM_ITEMS_H
#define CEBRIDGE_HOST_PIM_ITEMS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "device_link.h"
#include "phone_session.h"

namespace host {

// The fields an add may name for a PIM object type.
std::vector<std::string> AddableFields(const std::string &type);
// A call's kind ("recv", "sent", "miss"...) and its title "number;name" split.
std::string CallKind(const ContentItem &call);
std::pair<std::string, std::string> CallNumberAndName(const ContentItem &call);

// Text messages, received or sent.
std::string SmsType(bool sent);
struct SmsMessage {
    std::string id, number, stamp, text;  // UTF-8; stamp: "YYYYMMDDTHHMMSSZ" in PC local time (StampText)
};
// One box's messages; IDs belong to this listing.
Outcome ListMessages(PhoneSession &session, bool sent, std::vector<SmsMessage> *messages);
// The fields ("number", "text") the phone's widths may have cut, with the bytes reads give.
std::vector<std::pair<std::string, size_t>> MessageMayBeCut(const SmsMessage &message);

}  // namespace host

#endif  // CEBRIDGE_HOST_PIM_ITEMS_H
