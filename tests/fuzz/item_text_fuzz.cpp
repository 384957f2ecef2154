// Fuzz entry for item texts ("HEADER=value||HEADER=value"): the input is the text
// the agent sent, split into items and filled into a contact and an appointment,
// each on its own exact-size heap record. Every text field must end inside itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "pim/pim.h"
#include "support/support.h"

namespace {

template <size_t N>
bool Terminated(const char (&field)[N]) {
    return std::memchr(field, 0, N) != nullptr;
}

// clang-format off
#define CEBRIDGE_CONTACT_TEXT_FIELDS(CONTACT_FIELD) \
    CONTACT_FIELD(ID) CONTACT_FIELD(ANNIVERSARY) CONTACT_FIELD(ASSISTANTNAME) \
    CONTACT_FIELD(ASSISTANTTELEPHONENUMBER) CONTACT_FIELD(BIRTHDAY) CONTACT_FIELD(BUSINESSADDRESSCITY) \
    CONTACT_FIELD(BUSINESSADDRESSCOUNTRY) CONTACT_FIELD(BUSINESSADDRESSPOSTALCODE) \
    CONTACT_FIELD(BUSINESSADDRESSSTATE) CONTACT_FIELD(BUSINESSADDRESSSTREET) \
    CONTACT_FIELD(BUSINESSFAXNUMBER) CONTACT_FIELD(BUSINESSTELEPHONENUMBER) \
    CONTACT_FIELD(BUSINESS2TELEPHONENUMBER) CONTACT_FIELD(CARTELEPHONENUMBER) CONTACT_FIELD(CATEGORIES) \
    CONTACT_FIELD(CHILDREN) CONTACT_FIELD(COMPANYTELEPHONENUMBER) CONTACT_FIELD(COMPANYNAME) \
    CONTACT_FIELD(DEPARTMENT) CONTACT_FIELD(EMAIL1ADDRESS) CONTACT_FIELD(EMAIL2ADDRESS) \
    CONTACT_FIELD(EMAIL3ADDRESS) CONTACT_FIELD(FIRSTNAME) CONTACT_FIELD(LASTNAME) \
    CONTACT_FIELD(GOVERNMENTID) CONTACT_FIELD(HOMEADDRESSCITY) CONTACT_FIELD(HOMEADDRESSCOUNTRY) \
    CONTACT_FIELD(HOMEADDRESSPOSTALCODE) CONTACT_FIELD(HOMEADDRESSSTATE) CONTACT_FIELD(HOMEADDRESSSTREET) \
    CONTACT_FIELD(HOMETELEPHONENUMBER) CONTACT_FIELD(HOME2TELEPHONENUMBER) CONTACT_FIELD(IM1ADDRESS) \
    CONTACT_FIELD(JOBTITLE) CONTACT_FIELD(MANAGER) CONTACT_FIELD(MOBILETELEPHONENUMBER) \
    CONTACT_FIELD(NICKNAME) CONTACT_FIELD(OFFICELOCATION) CONTACT_FIELD(OTHERADDRESSCITY) \
    CONTACT_FIELD(OTHERADDRESSCOUNTRY) CONTACT_FIELD(OTHERADDRESSPOSTALCODE) \
    CONTACT_FIELD(OTHERADDRESSSTATE) CONTACT_FIELD(OTHERADDRESSSTREET) CONTACT_FIELD(PAGERNUMBER) \
    CONTACT_FIELD(RADIOTELEPHONENUMBER) CONTACT_FIELD(SPOUSE) CONTACT_FIELD(SUFFIX) CONTACT_FIELD(TITLE) \
    CONTACT_FIELD(WEBPAGE) CONTACT_FIELD(BODY) CONTACT_FIELD(composedName)
// clang-format on

bool ContactFieldsTerminated(const ContactRecord &record) {
#define CONTACT_FIELD(name) Terminated(record.name) &&
    return CEBRIDGE_CONTACT_TEXT_FIELDS(CONTACT_FIELD) true;
#undef CONTACT_FIELD
}

bool AppointmentFieldsTerminated(const AppointmentRecord &record) {
    return Terminated(record.ID) && Terminated(record.TITLE) && Terminated(record.LOCATION) &&
           Terminated(record.STARTTIME) && Terminated(record.ENDTIME);
}

}  // namespace

int FuzzItemText(const uint8_t *data, size_t size) {
    const fuzz::FuzzLog log;
    // The text as the handlers see it: the body copy, one zero byte longer.
    const fuzz::HeapCopy text(data, size, true);
    PtrArray items;
    ParseItemText(text.text(), &items);
    for (int32_t i = 0; i < items.GetSize(); ++i) {
        const auto *item = static_cast<const ParsedItem *>(items.GetAt(i));
        if (!Terminated(item->header) || !Terminated(item->value)) std::abort();
    }
    auto contact = std::make_unique<ContactRecord>();
    FillContactRecord(&items, contact.get());
    auto appointment = std::make_unique<AppointmentRecord>();
    FillAppointmentRecord(&items, appointment.get());
    FreeParsedItems(&items);
    if (!ContactFieldsTerminated(*contact) || !AppointmentFieldsTerminated(*appointment)) std::abort();
    return 0;
}

#ifdef CEBRIDGE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzItemText(data, size); }
#endif
