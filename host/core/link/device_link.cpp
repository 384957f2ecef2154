#include "device_link.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "encoding.h"

namespace host {
namespace {

constexpr int kConnectSeconds = 45;  // the plug-in itself waits 30 s for the link
constexpr int kRequestSeconds = 60;

const char *const kFolderListing = "x-obex/folder-listing";
const char *const kCapability = "x-obex/capability";
const char *const kFile = "x-obex/file";
const char *const kCab = "application/cab";

Request MakeRequest(uint16_t command, uint16_t subCommand, std::vector<Parameter> parameters = {}) {
    Request request;
    request.command = command;
    request.subCommand = subCommand;
    request.parameters = std::move(parameters);
    return request;
}

uint64_t ToNumber(const std::string &text) { return std::strtoull(text.c_str(), nullptr, 10); }

std::string ExtValue(const XmlElement &parent, const std::string &name) {
    for (const XmlElement *ext : parent.ChildrenNamed("Ext"))
        if (ext->ChildText("XNam") == name) return ext->ChildText("XVal");
    return {};
}

// The listed name with the space runs of `counts` in place of its single spaces
// (a count of 0 stands for any run: '*').
std::string WithSpaceRuns(const std::string &listed, const std::vector<size_t> &counts) {
    std::string name;
    size_t run = 0;
    for (char c : listed) {
        if (c != ' ') {
            name += c;
            continue;
        }
        name += counts[run] == 0 ? std::string("*") : std::string(counts[run], ' ');
        ++run;
    }
    return name;
}

// Runs longer than this are not looked for.
constexpr size_t kLongestSpaceRun = 8;
// Names that list alike are looked for with at most this many probes (three runs of
// spaces, each of up to eight).
constexpr size_t kMostNameProbes = 512;

}  // namespace

Answer DeviceLink::Exchange(const Request &request, int idleSeconds, const ProgressFn &progress) {
    if (beforeRequest) beforeRequest();
    return m_client.Exchange(request, std::chrono::seconds(idleSeconds), progress, &m_interrupted);
}

Outcome DeviceLink::FromAnswer(const Answer &answer, const char *what) const {
    if (answer.received && answer.status == ST_OK) return Outcome::Ok();
    if (m_interrupted.load()) {  // (an aborted request is answered as failed)
        const std::string said = answer.received ? "interrupted (" + StatusName(answer.status) + ")" : "interrupted";
        return Outcome::Failed(answer.received ? answer.status : 0, std::string(what) + ": " + said,
                               ErrorKind::kInterrupted);
    }
    if (!answer.received) return Outcome::Failed(0, std::string(what) + ": the plug-in did not answer");
    return Outcome::Failed(answer.status, std::string(what) + ": " + StatusName(answer.status));
}

Outcome DeviceLink::XmlDocument(const Answer &answer, const char *what, XmlElement *root,
                                const std::function<void(XmlElement &&)> &eachTopChild) const {
    Outcome outcome = FromAnswer(answer, what);
    if (!outcome.ok) return outcome;
    static const std::string none;
    const std::string *body = answer.Find(PAR_XMLBODY);
    if (Outcome read = ParseXmlAnswer(body ? *body : none, root, eachTopChild); !read.ok)
        return Outcome::Failed(answer.status, std::string(what) + ": unreadable answer (" + read.message + ")");
    return outcome;
}

Outcome DeviceLink::Connect() {
    Answer answer = Exchange(MakeRequest(CMD_APP_CON, 0), kConnectSeconds);
    Outcome outcome = FromAnswer(answer, "connect");
    m_connectGaveNoNumber = false;
    if (!outcome.ok && answer.status == ST_CONNECT_FAILED) {
        outcome.kind = ErrorKind::kNoConnection;
        m_connectGaveNoNumber = answer.Value(PAR_ERRCODE) == "00000020";
        outcome.message = m_connectGaveNoNumber ? "could not connect: the phone did not give its number"
                                                : "could not connect: the phone's link did not come up";
    }
    return outcome;
}

Outcome DeviceLink::Disconnect() {
    return FromAnswer(Exchange(MakeRequest(CMD_DISCON, 0), kRequestSeconds), "disconnect");
}

Outcome DeviceLink::ReadCapability(Capability *capability) {
    XmlElement root;
    Answer answer = Exchange(MakeRequest(CMD_GET, SUB_GET_CAPABILITY, {{PAR_TYPE, kCapability}}), kRequestSeconds);
    Outcome outcome = XmlDocument(answer, "capability", &root);
    // Asked only of a connected phone, the plug-in answers "not connected" when it
    // could not read the object store's figures.
    if (!outcome.ok && outcome.status == ST_DISCONNECTED && !Interrupted())
        outcome.message = "capability: the phone did not answer when asked for its memory (a store read failed)";
    if (!outcome.ok) return outcome;
    const XmlElement *general = root.Child("General");
    if (!general) return Outcome::Failed(answer.status, "capability: no General element in the answer");
    capability->manufacturer = general->ChildText("Manufacturer");
    capability->model = general->ChildText("Model");
    capability->phoneNumber = ExtValue(*general, "Term/MIN");
    for (const XmlElement *memory : general->ChildrenNamed("Memory")) {
        Memory entry;
        entry.type = memory->ChildText("MemType");
        entry.location = memory->ChildText("Location");
        entry.freeBytes = ToNumber(memory->ChildText("Free"));
        entry.usedBytes = ToNumber(memory->ChildText("Used"));
        capability->memories.push_back(entry);
    }
    return outcome;
}

Outcome DeviceLink::ToRoot() {
    // Flag 0 with an empty name always reaches the root.
    Answer answer =
        Exchange(MakeRequest(CMD_SETPATH, 0, {{PAR_APP_FLAGS, std::string(1, '\0')}, {PAR_NAME, ""}}), kRequestSeconds);
    return FromAnswer(answer, "change folder");
}

Outcome DeviceLink::ToParent() {
    // Flag 1 with an empty name moves up one folder.
    Answer answer =
        Exchange(MakeRequest(CMD_SETPATH, 0, {{PAR_APP_FLAGS, std::string(1, '\1')}, {PAR_NAME, ""}}), kRequestSeconds);
    return FromAnswer(answer, "change folder");
}

Outcome DeviceLink::Into(const std::string &name, bool create) {
    Answer answer =
        Exchange(MakeRequest(CMD_SETPATH, 0, {{PAR_APP_FLAGS, std::string(1, create ? '\0' : '\2')}, {PAR_NAME, name}}),
                 kRequestSeconds);
    return FromAnswer(answer, "change folder");
}

Outcome DeviceLink::Holds(const std::string &pattern, bool *found) {
    // SETPATH without creating answers OK when the phone finds anything for the name,
    // and "unsupported" when it finds nothing.
    Answer answer = Exchange(MakeRequest(CMD_SETPATH, 0, {{PAR_APP_FLAGS, std::string(1, '\2')}, {PAR_NAME, pattern}}),
                             kRequestSeconds);
    *found = answer.received && answer.status == ST_OK;
    if (*found || (answer.received && answer.status == ST_UNSUPPORTED)) return Outcome::Ok();
    return FromAnswer(answer, "look for a name");
}

Outcome DeviceLink::PhoneName(const std::string &listed, std::string *phoneName) {
    // Only a name the folder still lists and the phone does not know is a naming problem.
    std::vector<FolderEntry> entries;
    Outcome outcome = ListFolder(&entries);
    if (!outcome.ok) return outcome;
    if (!FindEntry(entries, listed)) return Outcome::Failed(0, "no longer on the phone: " + listed);
    bool found = false;
    const bool unsaid = listed.find_first_of("?*") != std::string::npos;  // the code page's mark for a lost letter
    if (!unsaid && !(outcome = Holds(listed, &found)).ok) return outcome;
    if (found) {
        *phoneName = listed;
        return outcome;
    }
    // Each run of spaces alone, the others standing for any run; then the whole name.
    const size_t runs = size_t(std::count(listed.begin(), listed.end(), ' '));
    std::vector<size_t> lengths(runs, 0);
    for (size_t run = 0; !unsaid && run < runs; ++run) {
        std::vector<size_t> probe(runs, 0);
        for (size_t length = 1; length <= kLongestSpaceRun && lengths[run] == 0; ++length) {
            probe[run] = length;
            if (!(outcome = Holds(WithSpaceRuns(listed, probe), &found)).ok) return outcome;
            if (found) lengths[run] = length;
        }
        if (lengths[run] == 0) break;
    }
    const bool whole = runs > 0 && std::find(lengths.begin(), lengths.end(), 0u) == lengths.end();
    if (whole && runs > 1 && !(outcome = Holds(WithSpaceRuns(listed, lengths), &found)).ok) return outcome;
    if (whole && (runs == 1 || found)) {
        *phoneName = WithSpaceRuns(listed, lengths);
        return Outcome::Ok();
    }
    if (!(outcome = FindWorks(listed)).ok) return outcome;
    Outcome lost = Outcome::Failed(0, "the phone's name for " + listed + " holds characters the code page " +
                                          DeviceCodePageName() + " cannot say; " + CodePageWayOut());
    lost.nameLost = true;
    return lost;
}

Outcome DeviceLink::PhoneNamesListedAs(const std::vector<std::string> &folder, const std::string &listed, size_t count,
                                       bool folders, std::vector<std::string> *names) {
    names->clear();
    if (listed.find_first_of("?*") != std::string::npos) return Outcome::Ok();  // (a lost letter: never found)
    const size_t runs = size_t(std::count(listed.begin(), listed.end(), ' '));
    std::vector<size_t> lengths(runs, 1);
    for (size_t probes = 0; names->size() < count && probes < kMostNameProbes; ++probes) {
        bool found = false;
        const std::string candidate = WithSpaceRuns(listed, lengths);
        Outcome outcome = Holds(candidate, &found);
        if (found) names->push_back(candidate);
        if (found && folders) outcome = EnterFolder(folder);  // (finding a folder's name entered it)
        if (!outcome.ok) return outcome;
        // The next lengths, as an odometer counts.
        size_t run = 0;
        while (run < runs && lengths[run] == kLongestSpaceRun) lengths[run++] = 1;
        if (run == runs) break;
        ++lengths[run];
    }
    return names->size() < count ? FindWorks(listed) : Outcome::Ok();
}

Outcome DeviceLink::FindWorks(const std::string &listed) {
    // The folder lists `listed`, so a lookup of any name finds something there; when
    // it finds nothing, the phone's lookup itself fails, and no name can be told.
    bool found = false;
    Outcome outcome = Holds("*", &found);
    if (!outcome.ok || found) return outcome;
    return Outcome::Failed(0, "the phone could not look up " + listed +
                                  ": its search of the folder finds nothing, though the folder lists it; try again");
}

Outcome DeviceLink::MakeFolders(const std::vector<std::string> &folders) {
    Outcome outcome = ToRoot();
    for (size_t i = 0; outcome.ok && i < folders.size(); ++i) {
        const std::vector<std::string> folder(folders.begin(), folders.begin() + long(i));
        std::vector<FolderEntry> entries;
        NamedEntry named;
        outcome = ListFolder(&entries);
        if (outcome.ok) outcome = Identify(folder, entries, folders[i], &named);
        if (outcome.ok && named.exists && !named.AllFolders())
            return named.AllFiles() ? Outcome::Failed(0, "a file is in the way: " + JoinDevicePath(named.Path()),
                                                      ErrorKind::kNotAFolder)
                                    : named.KindUnknown();
        if (outcome.ok) outcome = Into(folders[i], !named.exists);
        if (!outcome.ok) outcome.message += ": " + JoinDevicePath({folders.begin(), folders.begin() + long(i) + 1});
    }
    // The plug-in answers a create the phone refused as done: look whether it is there.
    if (outcome.ok && !EnterFolder(folders).ok)
        return Outcome::Failed(0, "the phone did not create " + JoinDevicePath(folders));
    return outcome;
}

std::vector<std::string> NamedEntry::Path() const {
    std::vector<std::string> path = folder;
    path.push_back(name);
    return path;
}

bool NamedEntry::AllFolders() const {
    return std::all_of(alike.begin(), alike.end(), [](const FolderEntry &entry) { return entry.folder; });
}

bool NamedEntry::AllFiles() const {
    return std::none_of(alike.begin(), alike.end(), [](const FolderEntry &entry) { return entry.folder; });
}

Outcome NamedEntry::KindUnknown() const {
    return Outcome::Failed(0,
                           JoinDevicePath(Path()) + ": " + std::to_string(alike.size()) + " entries list as " +
                               ListedForm(name) +
                               ", files and folders, and the phone's link cannot tell which one this name is; "
                               "nothing was changed",
                           ErrorKind::kBadInput);
}

Outcome DeviceLink::Identify(const std::vector<std::string> &folder, const std::vector<FolderEntry> &entries,
                             const std::string &name, NamedEntry *named) {
    named->folder = folder;
    named->name = name;
    named->alike.clear();
    for (const FolderEntry &entry : entries)
        if (SameDeviceName(entry.name, ListedForm(name))) named->alike.push_back(entry);
    Outcome outcome = Holds(name, &named->exists);
    if (!outcome.ok || !named->exists) return outcome;
    // The probe entered the entry when it is a folder: back to `folder`.
    // (A phone that does not answer the parent move's probe is walked down again.)
    if (named->AllFolders() && !named->alike.empty() && ToParent().ok) return outcome;
    if (!named->AllFiles()) return EnterFolder(folder);
    if (named->alike.empty())  // (the phone has it, the listing does not show it)
        return Outcome::Failed(0, "the phone holds " + JoinDevicePath(named->Path()) +
                                      " but its listing of the folder does not show it (the listing may be short); "
                                      "nothing was changed");
    return outcome;
}

Outcome DeviceLink::EnterFolder(const std::vector<std::string> &folders, std::vector<FolderEntry> *listing) {
    Outcome outcome = ToRoot();
    std::vector<FolderEntry> entries;
    for (size_t i = 0; outcome.ok && i < folders.size(); ++i) {
        entries.clear();
        outcome = ListFolder(&entries);
        if (!outcome.ok) break;
        const FolderEntry *entry = FindEntry(entries, folders[i]);
        const std::string shown = JoinDevicePath({folders.begin(), folders.begin() + i + 1});
        if (!entry) return Outcome::Failed(0, "no such folder on the phone: " + shown, ErrorKind::kNotFound);
        if (!entry->folder) return Outcome::Failed(0, "not a folder on the phone: " + shown, ErrorKind::kNotAFolder);
        // The typed name first: the phone's own lookup is exact. Only a name typed as
        // the listing gives it, of a folder no other entry lists alike, is looked up
        // under the phone's name (a run of spaces the listing made one).
        outcome = Into(folders[i], false);
        const bool asListed = SameDeviceName(entry->name, folders[i]);
        if (!outcome.ok && outcome.status == ST_UNSUPPORTED && !Interrupted()) {
            const auto alike = std::count_if(entries.begin(), entries.end(), [&](const FolderEntry &other) {
                return SameDeviceName(other.name, entry->name);
            });
            if (!asListed || alike > 1)
                return Outcome::Failed(0,
                                       "no such folder on the phone: " + shown +
                                           (alike > 1 ? " (" + std::to_string(alike) + " entries list as " +
                                                            entry->name + "; name one with its runs of spaces)"
                                                      : ""),
                                       ErrorKind::kNotFound);
            std::string phoneName;
            outcome = PhoneName(entry->name, &phoneName);  // entering it when found
            if (!outcome.ok) outcome.message += ": " + shown;
        }
    }
    if (outcome.ok && listing) {
        listing->clear();
        outcome = ListFolder(listing);
    }
    return outcome;
}

Outcome DeviceLink::ListFolder(std::vector<FolderEntry> *entries) {
    XmlElement root;
    Answer answer = Exchange(MakeRequest(CMD_GET, SUB_GET_SVC, {{PAR_TYPE, kFolderListing}}), kRequestSeconds);
    std::vector<FolderEntry> read;
    // Entries are taken as they are read: the listing's element tree is never whole.
    auto take = [&read](XmlElement &&child) {
        if (child.name != "folder" && child.name != "file") return;
        FolderEntry &entry = read.emplace_back();
        entry.folder = child.name == "folder";
        entry.name = child.Attribute("name");
        entry.size = std::strtoll(child.Attribute("size").c_str(), nullptr, 10);
        entry.modified = child.Attribute("modified");
        entry.created = child.Attribute("created");
        entry.accessed = child.Attribute("accessed");
    };
    Outcome outcome = XmlDocument(answer, "list folder", &root, take);
    if (!outcome.ok) return outcome;
    if (entries->empty())
        *entries = std::move(read);
    else
        entries->insert(entries->end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
    return outcome;
}

Outcome DeviceLink::Download(const std::string &name, const std::string &localPath, const ProgressFn &progress) {
    return FinishDownload(SendDownload(name, localPath), progress);
}

uint32_t DeviceLink::SendDownload(const std::string &name, const std::string &localPath) {
    return m_client.Send(
        MakeRequest(CMD_GET, SUB_GET_OBJECT, {{PAR_TYPE, kFile}, {PAR_APP_ID, name}, {PAR_APP_FILEPATH, localPath}}));
}

Outcome DeviceLink::FinishDownload(uint32_t tid, const ProgressFn &progress) {
    return FromAnswer(m_client.Await(tid, std::chrono::seconds(kRequestSeconds), progress, &m_interrupted), "download");
}

void DeviceLink::SettleDownload(uint32_t tid) {
    // The plug-in answers in arrival order, so a request sent after the download is
    // answered after it; CONNECT touches nothing on the phone. Waited for also after
    // Ctrl-C: the file must not be written once the run has ended.
    m_client.Exchange(MakeRequest(CMD_CONNECT, 0), std::chrono::seconds(kRequestSeconds));
    m_client.DropAnswersFor(tid);
}

Outcome DeviceLink::Upload(const std::string &localPath, const std::string &name, const ProgressFn &progress) {
    Request request =
        MakeRequest(CMD_PUT, SUB_PUT_OBJECT, {{PAR_TYPE, kFile}, {PAR_NAME, name}, {PAR_APP_FILEPATH, localPath}});
    return FromAnswer(Exchange(request, kRequestSeconds, progress), "upload");
}

Outcome DeviceLink::RemoveFile(const std::string &name) {
    Request request = MakeRequest(CMD_PUT, SUB_PUT_DELETE, {{PAR_TYPE, kFile}, {PAR_NAME, name}});
    return FromAnswer(Exchange(request, kRequestSeconds), "delete");
}

Outcome DeviceLink::RemovePartialUpload(const std::string &name) {
    Request request = MakeRequest(CMD_PUT, SUB_PUT_DELETE, {{PAR_TYPE, kFile}, {PAR_NAME, name}});
    return FromAnswer(m_client.Exchange(request, std::chrono::seconds(kRequestSeconds)), "delete");
}

Outcome DeviceLink::PutBack(const std::string &localPath, const std::string &name) {
    Request request =
        MakeRequest(CMD_PUT, SUB_PUT_OBJECT, {{PAR_TYPE, kFile}, {PAR_NAME, name}, {PAR_APP_FILEPATH, localPath}});
    return FromAnswer(m_client.Exchange(request, std::chrono::seconds(kRequestSeconds)), "upload");
}

Outcome DeviceLink::Install(const std::string &devicePath) {
    Request request = MakeRequest(CMD_PUT, SUB_PUT_OBJECT, {{PAR_TYPE, kCab}, {PAR_NAME, devicePath}});
    return FromAnswer(Exchange(request, kRequestSeconds), "install");
}

Outcome DeviceLink::ReadListing(const std::string &type, std::vector<ContentItem> *items) {
    XmlElement root;
    Answer answer = Exchange(MakeRequest(CMD_GET, SUB_GET_SVC, {{PAR_TYPE, type}}), kRequestSeconds);
    Outcome outcome = XmlDocument(answer, "listing", &root);
    if (!outcome.ok) return outcome;
    for (const XmlElement *content : root.ChildrenNamed("Content")) {
        ContentItem item;
        item.id = content->ChildText("ID");
        item.title = content->ChildText("Title");
        item.group = content->ChildText("Group");
        item.type = content->ChildText("Type");
        item.version = content->ChildText("Version");
        item.startTime = content->ChildText("StartTime");
        for (const XmlElement *ext : content->ChildrenNamed("Ext"))
            item.extras.emplace_back(ext->ChildText("XNam"), ext->ChildText("XVal"));
        items->push_back(item);
    }
    return outcome;
}

// The plug-in answers a listing whose record reads failed part way with the records
// it had and status OK: only a second read that gives the same items shows that the
// first was whole.
Outcome DeviceLink::Listing(const std::string &type, std::vector<ContentItem> *items) {
    std::vector<ContentItem> first, second;
    m_verdicts.erase(type);
    const PluginLog::Mark mark = pluginLog.Take();
    Outcome outcome = ReadListing(type, &first);
    if (outcome.ok) outcome = ReadListing(type, &second);
    if (!outcome.ok) return outcome;
    auto ids = [](const std::vector<ContentItem> &list) {
        std::vector<std::string> found;
        for (const ContentItem &item : list) found.push_back(item.id);
        return found;
    };
    if (ids(first) != ids(second))
        return Outcome::Failed(0, "listing: the phone gave " + std::to_string(first.size()) + " items, then " +
                                      std::to_string(second.size()) +
                                      " on a second read: a read failed part way, so the list may be short");
    uint32_t databaseType = 0;
    if (StoreDatabaseType(type, &databaseType)) {
        StoreVerdict verdict = JudgeStore(type, mark, second.size());
        if (verdict.reading == StoreReading::kUnreadable)
            return Outcome::Failed(0, "the phone's " + StoreContentName(type) + " could not be read: " + verdict.why);
        m_verdicts[type] = verdict;
    }
    *items = std::move(second);
    return outcome;
}

StoreVerdict DeviceLink::JudgeStore(const std::string &type, const PluginLog::Mark &mark, size_t listed) {
    uint32_t databaseType = 0;
    StoreDatabaseType(type, &databaseType);
    ListingJudge judge(databaseType);
    StoreVerdict verdict = {StoreReading::kUnproven, "there is no log this session (" + pluginLog.WhyNone() +
                                                         "), and only the plug-in's log says when a read failed"};
    if (pluginLog.Watched() && pluginLog.LinesSince(mark, [&judge](std::string_view line) { judge.Line(line); }))
        verdict = judge.Verdict(listed);
    // A phone whose PIM volume did not open connects all the same, without its number
    // (the plug-in asks for it only of an open volume), and lists nothing.
    Capability capability;
    if (verdict.reading == StoreReading::kUnproven && listed == 0 && OnPimVolume(type) &&
        ReadCapability(&capability).ok && capability.phoneNumber.empty())
        verdict = {StoreReading::kUnreadable,
                   "the phone gave no number when it connected: its PIM volume did not open (" + verdict.why + ")"};
    return verdict;
}

StoreVerdict DeviceLink::ListingVerdict(const std::string &type) const {
    auto found = m_verdicts.find(type);
    return found != m_verdicts.end() ? found->second : StoreVerdict{StoreReading::kUnproven, "it was not listed"};
}

Outcome DeviceLink::ItemText(const std::string &type, const std::string &id, std::string *text) {
    Answer answer =
        Exchange(MakeRequest(CMD_GET, SUB_GET_OBJECT, {{PAR_TYPE, type}, {PAR_APP_ID, id}}), kRequestSeconds);
    Outcome outcome = FromAnswer(answer, "read item");
    if (outcome.ok) *text = answer.Value(PAR_XMLBODY);
    return outcome;
}

Outcome DeviceLink::AddItem(const std::string &type, const std::string &itemText) {
    Request request = MakeRequest(CMD_PUT, SUB_PUT_OBJECT, {{PAR_TYPE, type}, {PAR_XMLBODY, itemText}});
    return FromAnswer(Exchange(request, kRequestSeconds), "add item");
}

Outcome DeviceLink::DeleteItem(const std::string &type, const std::string &id) {
    Request request = MakeRequest(CMD_PUT, SUB_PUT_DELETE, {{PAR_TYPE, type}, {PAR_APP_ID, id}});
    return FromAnswer(Exchange(request, kRequestSeconds), "delete item");
}

Outcome CheckRoom(DeviceLink &link, const std::vector<std::string> &target, uint64_t size,
                  const FolderEntry *existing) {
    Capability capability;
    Outcome outcome = link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    const Memory *store = StoreFor(capability, target);
    if (!store) return outcome;
    uint64_t room = store->freeBytes + (existing && !existing->folder ? existing->Size() : 0);
    if (size <= room) return outcome;
    return Outcome::Failed(0,
                           "not enough space for " + JoinDevicePath(target) + ": it needs " + std::to_string(size) +
                               " bytes, " + StoreName(*store) + " has " + std::to_string(store->freeBytes) +
                               " bytes free",
                           ErrorKind::kNoRoomOnPhone);
}

}  // namespace host
