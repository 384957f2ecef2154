// The item text the agent sends for one contact or appointment ("A=1||B=2"): its
// parser and the filling of records from the parsed items.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pim/pim.h"
#include "pim/pim_records.h"
#include "support/support.h"

namespace {

// One item between separators; `length` bytes of `start`.
void AddItem(const char *start, size_t length, PtrArray *items) {
    std::string item(start, length);
    LogLine(LOG_TRACE, "ITEM[%s]", item.c_str());
    size_t equals = item.find('=');
    if (equals == std::string::npos) {
        LogLine(LOG_TRACE, "ITEM[%s] has no '=': skipped", item.c_str());
        return;
    }
    auto *parsed = static_cast<ParsedItem *>(calloc(1, sizeof(ParsedItem)));
    if (!parsed) return;
    COPY_FIELD(parsed->header, item.substr(0, equals).c_str());
    COPY_FIELD(parsed->value, item.c_str() + equals + 1);
    LogLine(LOG_TRACE, "HEADER[%s], VALUE[%s]", parsed->header, parsed->value);
    items->Add(parsed);
}

// As atoi (leading digits, 0 when none), without its overflow.
int32_t ReadDecimal(const char *text) {
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

const ParsedItem *ItemAt(PtrArray *items, int32_t index) {
    return static_cast<const ParsedItem *>(items->GetAt(index));
}

}  // namespace

void ParseItemText(const char *text, PtrArray *items) {
    FreeParsedItems(items);
    if (!text) return;
    // Any run of '|' separates two items; empty items are skipped.
    const char *cursor = text;
    while (*cursor) {
        size_t length = strcspn(cursor, "|");
        if (length) AddItem(cursor, length, items);
        cursor += length;
        cursor += strspn(cursor, "|");
    }
}

void FreeParsedItems(PtrArray *items) {
    if (!items) return;
    for (int32_t i = 0; i < items->GetSize(); ++i) free(items->GetAt(i));
    items->RemoveAll();
}

void FillContactRecord(PtrArray *items, ContactRecord *record) {
    for (int32_t i = 0; i < items->GetSize(); ++i) {
        const ParsedItem *item = ItemAt(items, i);
        const ContactField *field = FindContactField(item->header);
        if (!field || field->width == 0) continue;
        CopyField(reinterpret_cast<char *>(record) + field->offset, field->width, item->value);
    }
}

void FillAppointmentRecord(PtrArray *items, AppointmentRecord *record) {
    for (int32_t i = 0; i < items->GetSize(); ++i) {
        const ParsedItem *item = ItemAt(items, i);
        const char *header = item->header;
        if (strcmp(header, "TITLE") == 0)
            COPY_FIELD(record->TITLE, item->value);
        else if (strcmp(header, "LOCATION") == 0)
            COPY_FIELD(record->LOCATION, item->value);
        else if (strcmp(header, "STARTTIME") == 0)
            COPY_FIELD(record->STARTTIME, item->value);
        else if (strcmp(header, "ENDTIME") == 0)
            COPY_FIELD(record->ENDTIME, item->value);
        else if (strcmp(header, "WHOLEDAY") == 0)
            record->WHOLEDAY = strcmp(item->value, "TRUE") == 0 ? 1 : 0;
        else if (strcmp(header, "DURATION") == 0)
            record->DURATION = static_cast<uint32_t>(ReadDecimal(item->value));
    }
}

void FreeRecordList(PtrArray *list) {
    if (!list) return;
    for (int32_t i = 0; i < list->GetSize(); ++i) free(list->GetAt(i));
    list->RemoveAll();
}
