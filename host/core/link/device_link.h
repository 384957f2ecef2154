// What the host asks of a phone, in the plug-in's protocol: each operation is one
// or a few requests through AgentClient, and its outcome as data.
#ifndef CEBRIDGE_HOST_DEVICE_LINK_H
#define CEBRIDGE_HOST_DEVICE_LINK_H

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "agent_client.h"
#include "outcome.h"
#include "phone_types.h"
#include "store_evidence.h"
#include "xml_answer.h"

namespace host {

// What a typed phone name is on the phone. The folder listing gives each run of
// spaces as one space, so entries may list alike and a listed name may not be the
// phone's: the listing alone never proves which entry a name is. The phone's own
// lookup of exactly the typed name does (letter case aside, as the phone's store
// keeps names), so only `exists` makes an entry the one the user named.
struct NamedEntry {
    std::vector<std::string> folder;
    std::string name;                // as typed; the phone holds it when `exists`
    bool exists = false;             // the phone's lookup found the name
    std::vector<FolderEntry> alike;  // the folder's entries that list as `name` does
    // The entry as listed, when no other lists alike.
    const FolderEntry *Listed() const { return alike.size() == 1 ? &alike[0] : nullptr; }
    bool AllFolders() const;
    bool AllFiles() const;
    // Refuses acting on it when the look-alikes are files and folders (kBadInput).
    Outcome KindUnknown() const;
    std::vector<std::string> Path() const;
};

class DeviceLink {
public:
    DeviceLink(AgentClient &client, const std::atomic<bool> &interrupted)
        : m_client(client), m_interrupted(interrupted) {}

    Outcome Connect();
    Outcome Disconnect();
    Outcome ReadCapability(Capability *capability);

    // Creates each missing folder of the path and checks that it is there afterwards.
    Outcome MakeFolders(const std::vector<std::string> &folders);
    // Moves into `folders` checking that each part is a folder on the phone (the
    // plug-in stays where it is when a name is a file); *listing gets the last
    // folder's entries when asked for.
    Outcome EnterFolder(const std::vector<std::string> &folders, std::vector<FolderEntry> *listing = nullptr);
    Outcome ListFolder(std::vector<FolderEntry> *entries);
    Outcome Download(const std::string &name, const std::string &localPath, const ProgressFn &progress);
    // A download sent ahead, to run on the phone while the PC finishes the one before
    // it. Its outcome is taken with FinishDownload, or it is let go with SettleDownload.
    uint32_t SendDownload(const std::string &name, const std::string &localPath);
    Outcome FinishDownload(uint32_t tid, const ProgressFn &progress);
    // Once this returns, the plug-in has run the download or dropped it (an abort
    // drops what waits in its queue), and writes its file no more.
    void SettleDownload(uint32_t tid);
    Outcome Upload(const std::string &localPath, const std::string &name, const ProgressFn &progress);
    Outcome RemoveFile(const std::string &name);
    // Deletes what a failed or interrupted upload left, also after Ctrl-C.
    Outcome RemovePartialUpload(const std::string &name);
    // Uploads a kept original back over what a failed or interrupted replace left,
    // also after Ctrl-C.
    Outcome PutBack(const std::string &localPath, const std::string &name);
    Outcome Install(const std::string &devicePath);
    // The phone's own name for an entry of the current folder listed as `listed`
    // (the listing gives a run of spaces as one, and a character the code page lacks
    // as '?' or a look-alike letter). Fails with nameLost when the phone's name
    // cannot be found or said. Probing a folder's name enters that folder.
    Outcome PhoneName(const std::string &listed, std::string *phoneName);
    // What `name` is in the current folder `folder`, listed as `entries`; the current
    // folder stays. Fails when the phone holds the name but the listing lacks it.
    Outcome Identify(const std::vector<std::string> &folder, const std::vector<FolderEntry> &entries,
                     const std::string &name, NamedEntry *named);
    // The phone's names of the `count` entries of the folder `folder` (the current
    // one) that all list as `listed`: each run of spaces tried at each length. Fewer
    // names than entries: the others hold characters the code page cannot say.
    // `folders`: the entries are folders (finding one enters it, so the walk comes back).
    Outcome PhoneNamesListedAs(const std::vector<std::string> &folder, const std::string &listed, size_t count,
                               bool folders, std::vector<std::string> *names);

    // A listing read twice: fails when the two reads differ. A listing of the PIM
    // store (contacts, calendar, calls, messages) fails too when the plug-in's log or
    // the connect shows that the phone could not read it all (store_evidence.h);
    // ListingVerdict then tells whether the list was proved whole.
    Outcome Listing(const std::string &type, std::vector<ContentItem> *items);
    // What the last listing of `type` showed of the phone's store; a consumer that
    // deletes or replaces anything because an item is not listed needs it whole.
    StoreVerdict ListingVerdict(const std::string &type) const;
    // Where the plug-in writes its log this session (store_evidence.h).
    PluginLog pluginLog;
    Outcome ItemText(const std::string &type, const std::string &id, std::string *text);
    Outcome AddItem(const std::string &type, const std::string &itemText);
    Outcome DeleteItem(const std::string &type, const std::string &id);

    bool Interrupted() const { return m_interrupted.load(); }

    // *found: whether the current folder holds an entry matching `pattern` ('*' and
    // '?' as the phone takes them; a plain name is the phone's own lookup of exactly
    // that name, letter case aside); fails when the phone gave no such answer. Probing
    // a folder's exact name enters that folder.
    Outcome Holds(const std::string &pattern, bool *found);
    // Called before each request, when the plug-in is between two (its log's cap is kept there).
    std::function<void()> beforeRequest;

private:
    Outcome ReadListing(const std::string &type, std::vector<ContentItem> *items);
    // The verdict on a PIM listing of `listed` items answered since `mark`.
    StoreVerdict JudgeStore(const std::string &type, const PluginLog::Mark &mark, size_t listed);
    Outcome ToRoot();
    Outcome ToParent();
    // Fails when the phone's lookup of names in the current folder (which lists
    // `listed`) finds nothing at all: a failed search, not a name the code page lacks.
    Outcome FindWorks(const std::string &listed);
    // One step down; create: SETPATH flag 0 makes a missing folder, flag 2 does not.
    Outcome Into(const std::string &name, bool create);
    Answer Exchange(const Request &request, int idleSeconds, const ProgressFn &progress = {});
    Outcome FromAnswer(const Answer &answer, const char *what) const;
    Outcome XmlDocument(const Answer &answer, const char *what, XmlElement *root,
                        const std::function<void(XmlElement &&)> &eachTopChild = {}) const;

    AgentClient &m_client;
    const std::atomic<bool> &m_interrupted;
    std::map<std::string, StoreVerdict> m_verdicts;  // by listing type
};

// Refuses `size` bytes the store that holds `target` cannot take (kNoRoomOnPhone); a
// file it replaces gives its bytes back.
Outcome CheckRoom(DeviceLink &link, const std::vector<std::string> &target, uint64_t size, const FolderEntry *existing);

}  // namespace host

#endif  // CEBRIDGE_HOST_DEVICE_LINK_H
