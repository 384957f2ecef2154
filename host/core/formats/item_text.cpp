#include "item_text.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include "encoding.h"
#include "phone_keeps.h"

namespace host {
namespace {

// The names the plug-in writes, in the order it writes them.
// clang-format off
const std::vector<std::string> kContactOrder = {
    "ACCOUNTNAME", "ANNIVERSARY", "ASSISTANTNAME", "ASSISTANTTELEPHONENUMBER", "BIRTHDAY", "BODY",
    "BUSINESS2TELEPHONENUMBER", "BUSINESSADDRESSCITY", "BUSINESSADDRESSCOUNTRY", "BUSINESSADDRESSPOSTALCODE",
    "BUSINESSADDRESSSTATE", "BUSINESSADDRESSSTREET", "BUSINESSFAXNUMBER", "BUSINESSTELEPHONENUMBER",
    "CARTELEPHONENUMBER", "CATEGORIES", "CHILDREN", "COMPANYTELEPHONENUMBER", "COMPANYNAME", "CUSTOMERID",
    "DEPARTMENT", "EMAIL1ADDRESS", "EMAIL2ADDRESS", "EMAIL3ADDRESS", "FILEAS", "FIRSTNAME", "GOVERNMENTID",
    "HOME2TELEPHONENUMBER", "HOMEADDRESSCITY", "HOMEADDRESSCOUNTRY", "HOMEADDRESSPOSTALCODE", "HOMEADDRESSSTATE",
    "HOMEADDRESSSTREET", "HOMEFAXNUMBER", "HOMETELEPHONENUMBER", "IM1ADDRESS", "JOBTITLE", "LASTNAME", "MANAGER",
    "MIDDLENAME", "MOBILETELEPHONENUMBER", "NICKNAME", "OFFICELOCATION", "OTHERADDRESSCITY", "OTHERADDRESSCOUNTRY",
    "OTHERADDRESSPOSTALCODE", "OTHERADDRESSSTATE", "OTHERADDRESSSTREET", "PAGERNUMBER", "RADIOTELEPHONENUMBER",
    "SPOUSE", "SUFFIX", "TITLE", "WEBPAGE"};
// clang-format on
const std::vector<std::string> kAppointmentOrder = {"TITLE",     "LOCATION", "WHOLEDAY", "DURATION",
                                                    "STARTTIME", "ENDTIME",  "ID"};

// The phone's composed name and the shared NICKNAME/GOVERNMENTID property keep this
// many bytes.
constexpr size_t kComposedNameBytes = 63, kNicknameBytes = 31;

// Where a field may start: after "||" (or at the text's start), "NAME=".
struct Start {
    size_t name = 0;   // where its name starts
    size_t value = 0;  // where its value starts
    size_t order = 0;  // its name's place in the order
};

// Runs of white space as one space, none at the ends: the listing's titles come so.
std::string Collapsed(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

bool IsStamp(const std::string &value) {  // "20090601T100000Z"
    if (value.size() != 16 || value[8] != 'T' || value[15] != 'Z') return false;
    for (size_t i = 0; i < 15; ++i)
        if (i != 8 && !std::isdigit(static_cast<unsigned char>(value[i]))) return false;
    return true;
}

bool IsNumber(const std::string &value) {
    size_t digits = !value.empty() && value[0] == '-' ? 1 : 0;
    return value.size() > digits && value.find_first_not_of("0123456789", digits) == std::string::npos;
}

const std::string *Find(const ItemFields &fields, const char *name) {
    for (const auto &[key, value] : fields)
        if (key == name) return &value;
    return nullptr;
}

std::string Value(const ItemFields &fields, const char *name) {
    const std::string *value = Find(fields, name);
    return value ? *value : std::string();
}

bool SameTitle(const std::string &listed, std::string stored, size_t width) {
    if (stored.size() > width) stored.resize(width);
    return Collapsed(listed) == Collapsed(stored);
}

bool ContactAgrees(const ItemFields &fields, const ContentItem &listed) {
    for (const char *time : {"ANNIVERSARY", "BIRTHDAY"})
        if (const std::string *value = Find(fields, time); value && !IsStamp(*value)) return false;
    // One phone property fills both: the nickname is the ID number's first bytes.
    const std::string *id = Find(fields, "GOVERNMENTID"), *nickname = Find(fields, "NICKNAME");
    if ((id == nullptr) != (nickname == nullptr)) return false;
    if (id && *nickname != id->substr(0, kNicknameBytes)) return false;
    return SameTitle(listed.title, Value(fields, "LASTNAME") + Value(fields, "FIRSTNAME"), kComposedNameBytes);
}

bool AppointmentAgrees(const ItemFields &fields, const ContentItem &listed) {
    const std::string *wholeDay = Find(fields, "WHOLEDAY"), *duration = Find(fields, "DURATION");
    if (!wholeDay || (*wholeDay != "TRUE" && *wholeDay != "FALSE")) return false;
    if ((*wholeDay == "FALSE") != (duration != nullptr) || (duration && !IsNumber(*duration))) return false;
    for (const char *time : {"STARTTIME", "ENDTIME"})
        if (const std::string *value = Find(fields, time); value && !IsStamp(*value)) return false;
    if (const std::string *id = Find(fields, "ID"); id && *id != listed.id) return false;
    return SameTitle(listed.title, Value(fields, "TITLE"), std::string::npos);
}

// Every place in `text` where a field of `order` may start, in text order.
std::vector<Start> Starts(const std::string &text, const std::vector<std::string> &order) {
    std::vector<Start> starts;
    auto at = [&](size_t name) {
        size_t equals = text.find('=', name);
        if (equals == std::string::npos) return;
        auto known = std::find(order.begin(), order.end(), text.substr(name, equals - name));
        if (known != order.end()) starts.push_back({name, equals + 1, size_t(known - order.begin())});
    };
    at(0);
    for (size_t bars = text.find("||"); bars != std::string::npos; bars = text.find("||", bars + 1)) at(bars + 2);
    return starts;
}

class Search {
public:
    Search(const std::string &text, std::vector<Start> starts, std::function<bool(const ItemFields &)> agrees)
        : m_text(text), m_starts(std::move(starts)), m_agrees(std::move(agrees)) {}

    ItemFields Run() {
        ItemFields fields;
        if (!m_starts.empty() && m_starts[0].name == 0 && From(0, &fields)) return fields;
        return m_first;
    }

private:
    // Fields from the start m_starts[current] on; true when a reading agrees.
    bool From(size_t current, ItemFields *fields) {
        if (++m_steps > kMaxSteps) return false;
        const Start &start = m_starts[current];
        const std::string name = m_text.substr(start.name, start.value - start.name - 1);
        for (size_t next = current + 1; next <= m_starts.size(); ++next) {
            bool last = next == m_starts.size();
            if (!last && (m_starts[next].order <= start.order || m_starts[next].name < start.value + 2)) continue;
            size_t end = last ? m_text.size() : m_starts[next].name - 2;
            fields->emplace_back(name, m_text.substr(start.value, end - start.value));
            bool agreed = last ? Ends(*fields) : From(next, fields);
            if (agreed) return true;
            fields->pop_back();
        }
        return false;
    }

    bool Ends(const ItemFields &fields) {
        if (m_first.empty()) m_first = fields;
        return m_agrees(fields);
    }

    static constexpr size_t kMaxSteps = 20000;
    const std::string &m_text;
    std::vector<Start> m_starts;
    std::function<bool(const ItemFields &)> m_agrees;
    ItemFields m_first;  // the reading that splits at every place it can, agreeing or not
    size_t m_steps = 0;
};

// NICKNAME and GOVERNMENTID are one phone property, given under both names: which of
// the two was written cannot be told, so the value (GOVERNMENTID's, the wider) goes
// under a name that claims neither.
void GiveSharedPlaceOnce(ItemFields &fields) {
    bool id =
        std::any_of(fields.begin(), fields.end(), [](const auto &field) { return field.first == "GOVERNMENTID"; });
    if (id) std::erase_if(fields, [](const auto &field) { return field.first == "NICKNAME"; });
    for (auto &field : fields)
        if (field.first == "GOVERNMENTID" || field.first == "NICKNAME") field.first = kNicknameOrId;
}

}  // namespace

ItemFields ReadItemText(const std::string &type, const std::string &text, const ContentItem &listed) {
    bool appointment = type == "schedule";
    const std::vector<std::string> &order = appointment ? kAppointmentOrder : kContactOrder;
    Search search(text, Starts(text, order), [&](const ItemFields &fields) {
        return appointment ? AppointmentAgrees(fields, listed) : ContactAgrees(fields, listed);
    });
    ItemFields fields = search.Run();
    for (auto &field : fields) field.second = DeviceToTerminal(field.second);
    if (!appointment) GiveSharedPlaceOnce(fields);
    return fields;
}

std::string ItemText(const ItemFields &fields) {
    std::string text;
    for (const auto &[name, value] : fields) text += (text.empty() ? "" : "||") + name + "=" + value;
    return TerminalToDevice(text);
}

}  // namespace host
