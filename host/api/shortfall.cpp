#include "shortfall.h"

#include <functional>

#include "failure.h"

namespace host {
namespace {

// "a, b (and 3 more)": the first names of a list of texts.
std::string FirstOf(const nlohmann::json &list, const std::function<std::string(const nlohmann::json &)> &name) {
    std::string text;
    size_t shown = 0;
    for (const nlohmann::json &item : list) {
        if (shown == 2) break;
        text += (shown++ ? ", " : "") + name(item);
    }
    if (list.size() > shown) text += " (and " + std::to_string(list.size() - shown) + " more)";
    return text;
}

std::string TextOf(const nlohmann::json &value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

const nlohmann::json &ListIn(const nlohmann::json &document, const char *key) {
    static const nlohmann::json none = nlohmann::json::array();
    auto found = document.find(key);
    return found != document.end() && found->is_array() ? *found : none;
}

}  // namespace

Outcome BackupShortfall(const nlohmann::json &summary) {
    const nlohmann::json &unread = ListIn(summary, "unread"), &skipped = ListIn(summary, "skipped");
    if (!unread.empty()) {
        const std::string generation = TextOf(summary.value("generation", nlohmann::json(""))),
                          latest = TextOf(summary.value("latest", nlohmann::json("")));
        return Outcome::Failed(
            0, "backup: the phone could not give " + std::to_string(unread.size()) + " parts (" +
                   FirstOf(unread,
                           [](const nlohmann::json &part) {
                               return TextOf(part.value("part", nlohmann::json(""))) + ": " +
                                      TextOf(part.value("why", nlohmann::json("")));
                           }) +
                   "): " + generation + " holds the rest" +
                   (latest == generation ? "" : "; the latest backup stays " + latest + ", which holds them"));
    }
    if (!skipped.empty())
        return Outcome::Failed(
            0, "backup: " + std::to_string(skipped.size()) + " phone files were left out: " + FirstOf(skipped, TextOf));
    return Outcome::Ok();
}

Outcome RestoreShortfall(const nlohmann::json &report) {
    const nlohmann::json &missing = ListIn(report, "notRestored");
    if (!missing.empty())
        return Outcome::Failed(0, "restore: " + std::to_string(missing.size()) +
                                      " parts of the backup were not restored (" + FirstOf(missing, TextOf) +
                                      "); the rest was");
    size_t refused = 0;
    for (const char *key : {"contacts", "calendar"})
        if (report.contains(key) && report[key].is_object()) {
            const nlohmann::json &count = report[key].value("refused", nlohmann::json(0));
            refused += count.is_number_unsigned() ? count.get<size_t>() : 0;
        }
    return RefusedItems("restore", refused);
}

Outcome RefusedItems(const std::string &command, size_t refused) {
    if (refused == 0) return Outcome::Ok();
    return Outcome::Failed(0, command + ": the phone refused " + std::to_string(refused) +
                                  (refused == 1 ? " item" : " items") + " (each is named in the report)");
}

nlohmann::json WithShortfall(nlohmann::json result, const Outcome &shortfall) {
    if (!result.is_object()) result = nlohmann::json::object();
    result.update(FailureDocument(shortfall.message, shortfall));
    return result;
}

}  // namespace host
