#include "pim_items.h"

#include <iterator>

#include "encoding.h"
#include "phone_keeps.h"

namespace host {
namespace {

// The fields an add writes to the phone: what a contact or appointment text may name.
// clang-format off
const char *const kContactFields[] = {
    "ASSISTANTNAME", "ASSISTANTTELEPHONENUMBER", "BUSINESSFAXNUMBER", "CHILDREN", "COMPANYNAME", "DEPARTMENT",
    "EMAIL1ADDRESS", "EMAIL2ADDRESS", "EMAIL3ADDRESS", "FIRSTNAME", "HOMEADDRESSSTATE", "HOMEADDRESSCOUNTRY",
    "HOMEADDRESSPOSTALCODE", "HOMEADDRESSCITY", "HOMEADDRESSSTREET", "HOMETELEPHONENUMBER", "HOME2TELEPHONENUMBER",
    "MOBILETELEPHONENUMBER", "BUSINESSADDRESSSTATE", "BUSINESSADDRESSCOUNTRY", "BUSINESSADDRESSPOSTALCODE",
    "BUSINESSADDRESSCITY", "BUSINESSADDRESSSTREET", "OFFICELOCATION", "BUSINESSTELEPHONENUMBER",
    "BUSINESS2TELEPHONENUMBER", "OTHERADDRESSSTATE", "OTHERADDRESSCOUNTRY", "OTHERADDRESSPOSTALCODE",
    "OTHERADDRESSCITY", "OTHERADDRESSSTREET", "PAGERNUMBER", "SPOUSE", "LASTNAME", "JOBTITLE", "WEBPAGE",
    "RADIOTELEPHONENUMBER", "MANAGER", "IM1ADDRESS", "NICKNAME", "GOVERNMENTID"};
// clang-format on
const char *const kAppointmentFields[] = {"TITLE", "LOCATION", "STARTTIME", "ENDTIME", "WHOLEDAY", "DURATION"};

std::string ListedExtra(const ContentItem &item, const std::string &name) {
    for (const auto &[key, value] : item.extras)
        if (key == name) return value;
    return {};
}

// The listing's party is the Title; the plug-in gives the date and time in PC local time.
SmsMessage MessageOf(const ContentItem &item) {
    return {item.id, DeviceToTerminal(item.title), ListedExtra(item, "DateTime"),
            DeviceToTerminal(ListedExtra(item, "Message"))};
}

}  // namespace

std::vector<std::string> AddableFields(const std::string &type) {
    if (type == kAppointmentType) return {std::begin(kAppointmentFields), std::end(kAppointmentFields)};
    return {std::begin(kContactFields), std::end(kContactFields)};
}

std::string CallKind(const ContentItem &call) {
    size_t slash = call.type.find('/');  // "callhistory/recv" -> "recv"
    return slash == std::string::npos ? call.type : call.type.substr(slash + 1);
}

std::pair<std::string, std::string> CallNumberAndName(const ContentItem &call) {
    std::string title = DeviceToTerminal(call.title);
    size_t split = title.find(';');
    return {title.substr(0, split), split == std::string::npos ? "" : title.substr(split + 1)};
}

std::string SmsType(bool sent) { return sent ? "smsdata/send" : "smsdata/recv"; }

// IDs belong to the last listing of their box in this session.
Outcome ListMessages(PhoneSession &session, bool sent, std::vector<SmsMessage> *messages) {
    const std::string type = SmsType(sent);
    std::vector<ContentItem> items;
    Outcome outcome = session.link.Listing(type, &items);
    if (!outcome.ok) return outcome;
    session.lastListings[type] = items;
    for (const ContentItem &item : items) messages->push_back(MessageOf(item));
    return outcome;
}

std::vector<std::pair<std::string, size_t>> MessageMayBeCut(const SmsMessage &message) {
    return MayBeCut(kMessageKind, {{"number", message.number}, {"text", message.text}});
}

}  // namespace host
