// Whether the phone's PIM store was readable: the rule every consumer of a contacts,
// calendar, calls or messages listing follows before it acts on what is missing.
//
// The plug-in answers a listing whose read of the phone's store failed with status OK
// and an empty (or short) list. Only its daily log says what went wrong: a line such
// as "CeEdbOpenDatabaseInSession Fail (0x5)", and for each database it walks
// "DBNAME[name][type][records]". The host chooses the log's folder, so it reads the
// lines a listing request wrote there and judges the answer by them:
//   - whole: the store opened, no read failed, and the list holds as many items as
//     the database said it had;
//   - unreadable: a read failed, or the list is shorter than the database (the
//     listing fails, naming why, and nothing is decided from it);
//   - unproven: there is no log this session, or the request wrote nothing to it. The
//     list is shown, but nothing is deleted or replaced because of what it lacks.
#ifndef CEBRIDGE_HOST_STORE_EVIDENCE_H
#define CEBRIDGE_HOST_STORE_EVIDENCE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace host {

enum class StoreReading { kWhole, kUnreadable, kUnproven };

struct StoreVerdict {
    StoreReading reading = StoreReading::kUnproven;
    std::string why;  // unreadable or unproven: a sentence for people
    bool Whole() const { return reading == StoreReading::kWhole; }
};

// The database type the plug-in walks for a listing's object type; false for a type
// that does not read the PIM store (the package list, a folder listing).
bool StoreDatabaseType(const std::string &listingType, uint32_t *databaseType);
// Whether the type's database is on the PIM volume (a phone whose PIM volume did not
// open connects without its number) rather than the message volume.
bool OnPimVolume(const std::string &listingType);
// "contacts", "calendar", "call history", "received messages", "sent messages".
std::string StoreContentName(const std::string &listingType);

// The plug-in's daily log as the host watches it: a mark before a request, and the
// lines written after the mark. The plug-in appends each line as it goes (across a
// day change it starts a new file); the file may also have been cut between requests
// (a size cap): a mark whose bytes are no longer where they were is looked for, and
// when it is gone the whole file counts as written after it.
class PluginLog {
public:
    struct Mark {
        std::string file;  // the day's file when the mark was taken
        uint64_t size = 0;
        std::string tail;  // the bytes before `size` (at most a line's worth)
    };

    // The folder the plug-in writes its log to; "" when it has none this session.
    void Watch(const std::string &folder, std::string whyNone);
    bool Watched() const { return !m_folder.empty(); }
    const std::string &WhyNone() const { return m_whyNone; }

    Mark Take() const;
    // Calls `line` with each line written after `mark` (without its time stamp);
    // false when the log could not be read.
    bool LinesSince(const Mark &mark, const std::function<void(std::string_view)> &line) const;
    // The daily file the plug-in writes to now.
    std::string TodaysFile() const;

private:
    std::string m_folder;
    std::string m_whyNone = "the plug-in's log was not set up";
};

// Judges one listing request by the lines it logged (any number of reads of the
// same type). Fed line by line; `listed`: the items the answer held.
class ListingJudge {
public:
    explicit ListingJudge(uint32_t databaseType) : m_type(databaseType) {}
    void Line(std::string_view line);
    StoreVerdict Verdict(size_t listed) const;

private:
    uint32_t m_type;
    size_t m_lines = 0;
    std::string m_failure;     // the first failure line
    bool m_opened = false;     // a database was opened for reading
    long long m_counted = -1;  // the records the type's database said it held (-1: not logged)
    bool m_countsDiffer = false;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_STORE_EVIDENCE_H
