#include "sync.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "encoding.h"
#include "interop.h"
#include "local_files.h"
#include "sync_dav.h"

namespace host {
namespace {

enum class Op {
    kPcCreate,
    kPcUpdate,
    kPcDelete,
    kPhoneCreate,
    kPhoneUpdate,
    kPhoneDelete,
    kKeepBoth,
    kForget,
    kRecord
};

constexpr size_t kNoMapping = size_t(-1);

struct Step {
    Op op;
    size_t mapping = kNoMapping;  // into KindSync::m_mappings
    SyncItem *phone = nullptr, *pc = nullptr;
    std::string why;
};

// A contact's fields as the sync state keeps them, and back.
std::string FormText(const ItemFields &fields) { return nlohmann::json(fields).dump(); }
ItemFields FormOf(const std::string &text) {
    const nlohmann::json form = nlohmann::json::parse(text, nullptr, false);
    return form.is_array() ? form.get<ItemFields>() : ItemFields{};
}

// The fields a phone item holds that the phone's update (a delete and an add) would
// lose: the add cannot write them.
std::vector<std::string> LostByAnUpdate(const SyncItem &phone) {
    std::vector<std::string> lost;
    for (const auto &[name, value] : phone.contact)
        if (!value.empty() && (name == "BIRTHDAY" || name == "ANNIVERSARY")) lost.push_back(name);
    return lost;
}

// A side's failure that ends the run: the PC's, a lost link, a cancel. The phone's
// refusal of one item is that item's note.
bool EndsRun(const Outcome &outcome) {
    return IsPcFailure(outcome.kind) || outcome.kind == ErrorKind::kInterrupted || outcome.status == 0;
}

// One kind (contacts or calendar) of one pair, run once.
class KindSync {
public:
    KindSync(PhoneSession &session, SyncState &state, const std::string &pair, const std::string &phone, SyncKind kind,
             std::unique_ptr<SyncSide> pc, const SyncOptions &options, SyncReport *report)
        : m_session(session),
          m_state(state),
          m_pair(pair),
          m_phoneIdentity(phone),
          m_kind(kind),
          m_options(options),
          m_report(*report),
          m_phone(session, kind),
          m_pc(std::move(pc)) {}

    Outcome Run(ItemSink &sink) {
        Outcome outcome = Load();
        if (!outcome.ok || !(outcome = PairUnremembered()).ok) return outcome;
        Plan();
        HoldMassDeletions();
        if (m_options.dryRun) {
            for (const Step &step : m_steps) Tell(step);
            return Outcome::Ok();
        }
        sink.Begin(std::string(SyncKindName(m_kind)) + " sync", m_steps.size());
        for (const Step &step : m_steps) {
            outcome = m_session.link.Interrupted() ? Outcome::Failed(0, "interrupted", ErrorKind::kInterrupted)
                                                   : Execute(step);
            if (!outcome.ok) break;
            sink.Step();
        }
        // What was added is remembered also when the run ends early (a cancel).
        Outcome settled = SettleAdds();
        sink.End();
        return outcome.ok ? settled : outcome;
    }

private:
    Outcome Load() {
        Outcome outcome = m_phone.List(&m_phoneItems);
        if (!outcome.ok || !(outcome = m_pc->List(&m_pcItems)).ok) return outcome;
        m_phoneVerdict = m_session.link.ListingVerdict(PhoneType());
        if (Outcome read = m_state.Mappings(m_pair, SyncKindName(m_kind), &m_mappings); !read.ok) return read;
        for (SyncItem &item : m_phoneItems) m_phoneById[item.id] = &item;
        if (!(outcome = FollowRenames()).ok) return outcome;
        for (SyncItem &item : m_pcItems) m_pcById[item.id] = &item;
        std::map<std::string, const SyncMapping *> byFile;
        for (const SyncMapping &mapping : m_mappings) byFile[mapping.otherId] = &mapping;
        for (SyncItem &item : m_pcItems) {
            auto mapped = byFile.find(item.id);
            if (mapped != byFile.end() && mapped->second->otherVersion == item.version &&
                !PhoneChanged(*mapped->second)) {
                item.hash = mapped->second->otherHash;  // untouched since: not read again
                continue;
            }
            if (!(outcome = m_pc->Read(&item)).ok) return outcome;
            if (!item.problem.empty()) {
                m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": left alone " + item.id + ": " +
                                         item.problem);
                m_pcById.erase(item.id);
                if (mapped != byFile.end()) m_leftAlone.push_back(item.id);
            }
        }
        return Outcome::Ok();
    }

    // Another pair of this phone updated items on it (each update gives a new ID): the
    // remembered items follow them, so their change reaches this pair as a change.
    Outcome FollowRenames() {
        std::vector<std::pair<std::string, std::string>> renamed;
        if (m_phoneIdentity.empty()) return Outcome::Ok();
        if (Outcome read = m_state.Renamed(m_phoneIdentity, SyncKindName(m_kind), &renamed); !read.ok) return read;
        std::map<std::string, std::string> next(renamed.begin(), renamed.end());
        for (SyncMapping &mapping : m_mappings) {
            std::string id = mapping.phoneId;
            for (size_t hops = 0; !Phone(id) && next.count(id) && hops < renamed.size(); ++hops) id = next[id];
            if (id == mapping.phoneId || !Phone(id) || Mapped(id, true)) continue;
            mapping.phoneId = id;
            if (Outcome outcome = Remember(mapping); !outcome.ok) return outcome;
        }
        return Outcome::Ok();
    }

    // The phone's item of `mapping` changed since the sides last agreed (its PC item is
    // read to tell whether it changed only in what the phone cannot say).
    bool PhoneChanged(const SyncMapping &mapping) const {
        const SyncItem *phone = Phone(mapping.phoneId);
        return phone && phone->hash != mapping.phoneHash;
    }

    bool Mapped(const std::string &id, bool phone) const {
        return std::any_of(m_mappings.begin(), m_mappings.end(), [&](const SyncMapping &mapping) {
            return (phone ? mapping.phoneId : mapping.otherId) == id;
        });
    }
    SyncItem *Phone(const std::string &id) const {
        auto found = m_phoneById.find(id);
        return found == m_phoneById.end() ? nullptr : found->second;
    }
    SyncItem *Pc(const std::string &id) const {
        auto found = m_pcById.find(id);
        return found == m_pcById.end() ? nullptr : found->second;
    }
    bool LeftAlone(const std::string &id) const {
        return std::find(m_leftAlone.begin(), m_leftAlone.end(), id) != m_leftAlone.end();
    }

    // Items on both sides with nothing remembered of them, and items whose remembered
    // partner is gone while one of the same form is there unremembered (what a run
    // cut off between writing and remembering leaves): paired by their phone form.
    Outcome PairUnremembered() {
        std::multimap<std::string, SyncItem *> byHash, byShape;  // the PC items unremembered
        for (SyncItem &pc : m_pcItems)
            if (Pc(pc.id) && !Mapped(pc.id, false))
                byHash.emplace(pc.hash, &pc), byShape.emplace(ItemShape(m_kind, pc), &pc);
        std::set<const SyncItem *> taken;
        // One of the same form, else one the phone's form cannot tell from it.
        auto partnerOf = [&](const SyncItem &phone) -> SyncItem * {
            for (auto [at, end] = byHash.equal_range(phone.hash); at != end; ++at)
                if (!taken.count(at->second)) return at->second;
            for (auto [at, end] = byShape.equal_range(ItemShape(m_kind, phone)); at != end; ++at)
                if (!taken.count(at->second) && SameOnBothSides(m_kind, phone, *at->second)) return at->second;
            return nullptr;
        };
        for (SyncItem &phone : m_phoneItems) {
            if (Mapped(phone.id, true)) continue;
            if (SyncItem *pc = partnerOf(phone)) {
                taken.insert(pc);
                m_mappings.push_back({0, phone.id, pc->id, pc->version, phone.hash, pc->hash});
                if (Outcome outcome = Remember(m_mappings.back()); !outcome.ok) return outcome;
                continue;
            }
            for (SyncMapping &mapping : m_mappings) {
                const SyncItem *partner = Pc(mapping.otherId);
                if (Phone(mapping.phoneId) || !partner || partner->hash != phone.hash) continue;
                mapping.phoneId = phone.id;
                mapping.phoneHash = phone.hash;
                mapping.otherHash = partner->hash;
                mapping.otherVersion = partner->version;
                if (Outcome outcome = Remember(mapping); !outcome.ok) return outcome;
                break;
            }
        }
        for (SyncItem &pc : m_pcItems) {
            if (!Pc(pc.id) || Mapped(pc.id, false)) continue;
            for (SyncMapping &mapping : m_mappings) {
                const SyncItem *partner = Phone(mapping.phoneId);
                if (Pc(mapping.otherId) || LeftAlone(mapping.otherId) || !partner || partner->hash != pc.hash) continue;
                mapping.otherId = pc.id;
                mapping.otherVersion = pc.version;
                mapping.otherHash = pc.hash;
                if (Outcome outcome = Remember(mapping); !outcome.ok) return outcome;
                break;
            }
        }
        return Outcome::Ok();
    }

    // The step mapping `i`'s items call for; false when they are in step.
    bool Decide(size_t i, Step *step) {
        const SyncMapping &mapping = m_mappings[i];
        if (LeftAlone(mapping.otherId)) return false;
        SyncItem *phone = Phone(mapping.phoneId), *pc = Pc(mapping.otherId);
        // An item the phone did not list is gone only when its list was proved whole.
        if (!phone && !m_phoneVerdict.Whole()) return ++m_unprovenAbsent, false;
        const bool phoneChanged = phone && phone->hash != mapping.phoneHash;
        const bool pcChanged = pc && pc->hash != mapping.otherHash;
        // Touched at all, also where the phone's form cannot show it (a note, a photo).
        const bool pcTouched = pcChanged || (pc && pc->version != mapping.otherVersion);
        auto take = [&](Op op, std::string why) { return *step = {op, i, phone, pc, std::move(why)}, true; };
        if (!phone && !pc) return take(Op::kForget, "");
        if (!phone)
            return pcTouched ? take(Op::kPhoneCreate, "changed on the pc, deleted on the phone")
                             : take(Op::kPcDelete, "deleted on the phone");
        if (!pc)
            return phoneChanged ? take(Op::kPcCreate, "changed on the phone, deleted on the pc")
                                : take(Op::kPhoneDelete, "deleted on the pc");
        // Alike also where they differ only in what the phone cannot say of the PC's (its
        // code page, its widths): the phone's form is never written over the PC's, nor back.
        if ((!phoneChanged && !pcChanged) || SameOnBothSides(m_kind, *phone, *pc)) {
            ++m_report.unchanged;
            return (phoneChanged || pcChanged || pc->version != mapping.otherVersion) && take(Op::kRecord, "");
        }
        if (!pcChanged) return take(Op::kPcUpdate, "changed on the phone");
        if (!phoneChanged) return take(Op::kPhoneUpdate, "changed on the pc");
        ++m_report.conflicts;
        const Op op = m_options.conflict == ConflictPolicy::kPhone ? Op::kPcUpdate
                      : m_options.conflict == ConflictPolicy::kPc  ? Op::kPhoneUpdate
                                                                   : Op::kKeepBoth;
        return take(op, std::string("conflict (") + ConflictPolicyName(m_options.conflict) + ")");
    }

    void Plan() {
        for (size_t i = 0; i < m_mappings.size(); ++i) {
            Step step{Op::kForget, kNoMapping, nullptr, nullptr, ""};
            if (Decide(i, &step)) m_steps.push_back(step);
        }
        if (m_unprovenAbsent > 0)
            m_report.notes.push_back(
                std::string(SyncKindName(m_kind)) + ": " + std::to_string(m_unprovenAbsent) +
                " items the phone did not list were left alone on both sides: " + m_phoneVerdict.why);
        for (SyncItem &phone : m_phoneItems)
            if (!Mapped(phone.id, true))
                m_steps.push_back({Op::kPcCreate, kNoMapping, &phone, nullptr, "new on the phone"});
        for (SyncItem &pc : m_pcItems)
            if (Pc(pc.id) && !Mapped(pc.id, false))
                m_steps.push_back({Op::kPhoneCreate, kNoMapping, nullptr, &pc, "new on the pc"});
    }

    // A side that lost more than a quarter of the items it had at the last sync holds
    // every deletion its losses imply (whatever the other side gained), unless forced.
    void HoldMassDeletions() {
        const size_t had = m_mappings.size();
        size_t lostOnPhone = 0, lostOnPc = 0;
        for (const SyncMapping &mapping : m_mappings) {
            if (!Phone(mapping.phoneId)) ++lostOnPhone;
            if (!Pc(mapping.otherId) && !LeftAlone(mapping.otherId)) ++lostOnPc;
        }
        if (m_options.force) return;
        HoldDeletions(Op::kPcDelete, "phone", lostOnPhone, had);
        HoldDeletions(Op::kPhoneDelete, "pc", lostOnPc, had);
    }
    void HoldDeletions(Op deletion, const char *losingSide, size_t lost, size_t had) {
        if (lost * 4 <= had) return;
        const size_t held = size_t(std::erase_if(m_steps, [&](const Step &step) { return step.op == deletion; }));
        if (held == 0) return;
        m_report.deletionsHeld = true;
        m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": nothing deleted on the " +
                                 (deletion == Op::kPcDelete ? "pc" : "phone") + ": the " + losingSide + " lost " +
                                 std::to_string(lost) + " of the " + std::to_string(had) +
                                 " items it had at the last sync, more than a quarter; force the sync if that is "
                                 "meant");
    }

    void Tell(const Step &step) {
        auto act = [&](const char *side, const char *action, const SyncItem *item) {
            m_report.actions.push_back(
                {SyncKindName(m_kind), side, action, item->shown.empty() ? item->id : item->shown, step.why});
        };
        switch (step.op) {
        case Op::kPcCreate: return act("pc", "create", step.phone);
        case Op::kPcUpdate: return act("pc", "update", step.phone);
        case Op::kPcDelete: return act("pc", "delete", step.pc);
        case Op::kPhoneCreate: return act("phone", "create", step.pc);
        case Op::kPhoneUpdate: return act("phone", "update", step.pc);
        case Op::kPhoneDelete: return act("phone", "delete", step.phone);
        case Op::kKeepBoth: return act("pc", "create", step.phone), act("phone", "create", step.pc);
        case Op::kForget:
        case Op::kRecord: return;
        }
    }

    Outcome Remember(SyncMapping &mapping) {
        return m_options.dryRun ? Outcome::Ok() : m_state.SaveMapping(m_pair, SyncKindName(m_kind), &mapping);
    }
    Outcome Forget(const SyncMapping &mapping) { return m_state.ForgetMapping(mapping.row); }

    // The phone form of `pc` written to the phone, remembered as `mapping`; `phone`:
    // the item it replaces (nullptr for a new one).
    Outcome ToPhone(const SyncItem &pc, SyncMapping &mapping, const SyncItem *phone) {
        SyncItem made;
        Outcome outcome = phone ? m_phone.Update(mapping.phoneId, pc, &made) : m_phone.Create(pc, &made);
        if (!outcome.ok) return outcome;
        NoteWhatThePhoneKeepsOtherwise(pc);
        if (phone && !m_options.dryRun && !m_phoneIdentity.empty())
            if (Outcome saved = m_state.SaveRenamed(m_phoneIdentity, SyncKindName(m_kind), mapping.phoneId, made.id);
                !saved.ok)
                return saved;
        mapping = {mapping.row, made.id, pc.id, pc.version, made.hash, pc.hash, FormText(made.contact)};
        return Remember(mapping);
    }
    Outcome ToPc(const SyncItem &phone, SyncMapping &mapping, bool update) {
        SyncItem made, from = phone;
        from.remembered = FormOf(mapping.phoneForm.empty() ? "[]" : mapping.phoneForm);
        Outcome outcome = update ? m_pc->Update(mapping.otherId, from, &made) : m_pc->Create(from, &made);
        if (!outcome.ok) return outcome;
        mapping = {mapping.row, phone.id, made.id, made.version, phone.hash, phone.hash, FormText(phone.contact)};
        return Remember(mapping);
    }

    // What the phone did not take of `pc` as it is on the pc (a cut, a '?', a field
    // holding '|'), each named in a note.
    void NoteWhatThePhoneKeepsOtherwise(const SyncItem &pc) {
        const std::string of = std::string(SyncKindName(m_kind)) + ": " + pc.shown + ": ";
        for (const std::string &field : pc.barred) m_report.notes.push_back(of + "not sent: " + HoldsBarText(field));
        for (const FieldChange &change : m_phone.LastChanges()) m_report.notes.push_back(of + change.Text());
    }

    // A new PC item added to the phone; its ID is learnt with the others' (SettleAdds).
    Outcome AddToPhone(const Step &step) {
        Outcome outcome = m_phone.Add(*step.pc);
        if (outcome.ok) {
            NoteWhatThePhoneKeepsOtherwise(*step.pc);
            m_adding.push_back(step.pc);
            Tell(step);
        } else if (!EndsRun(outcome)) {
            m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": the phone refused " + step.pc->shown +
                                     ": " + DeviceToTerminal(outcome.message));
            ++m_report.refused;
            return StoreStillReadable();
        }
        return outcome;
    }

    // The phone's IDs of the items added since the last listing, remembered.
    Outcome SettleAdds() {
        if (m_adding.empty()) return Outcome::Ok();
        const std::vector<const SyncItem *> adding = std::exchange(m_adding, {});
        std::vector<std::pair<size_t, SyncItem>> made;
        Outcome outcome = m_phone.Settle(&made);
        if (!outcome.ok) return outcome;
        std::vector<bool> known(adding.size());
        for (const auto &[index, item] : made) {
            const SyncItem &pc = *adding[index];
            known[index] = true;
            SyncMapping mapping{0, item.id, pc.id, pc.version, item.hash, pc.hash, FormText(item.contact)};
            if (!(outcome = Remember(mapping)).ok) return outcome;
        }
        for (size_t i = 0; i < adding.size(); ++i)
            if (!known[i])
                m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": " + adding[i]->shown +
                                         " was added to the phone, which lists it in another form; the next sync "
                                         "pairs it");
        return outcome;
    }

    // A phone item the phone's update would lose fields of stays as it is, with a note.
    bool KeptOnThePhone(const Step &step) {
        if (step.op != Op::kPhoneUpdate || LostByAnUpdate(*step.phone).empty()) return false;
        std::string lost;
        for (const std::string &field : LostByAnUpdate(*step.phone)) lost += (lost.empty() ? "" : " and ") + field;
        m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": " + step.pc->shown +
                                 " left as it is on the phone: its change on the pc would reach the phone as a delete "
                                 "and an add, which loses its " +
                                 lost + " (an add cannot write it); make the change on the phone");
        return true;
    }

    Outcome Execute(const Step &step) {
        if (step.op == Op::kPhoneCreate && step.mapping == kNoMapping) return AddToPhone(step);
        if (KeptOnThePhone(step)) return Outcome::Ok();
        if (Outcome settled = SettleAdds(); !settled.ok) return settled;
        SyncMapping fresh;
        SyncMapping &mapping = step.mapping == kNoMapping ? fresh : m_mappings[step.mapping];
        Outcome outcome = Outcome::Ok();
        switch (step.op) {
        case Op::kPcCreate: outcome = ToPc(*step.phone, mapping, false); break;
        case Op::kPcUpdate: outcome = ToPc(*step.phone, mapping, true); break;
        case Op::kPhoneCreate: outcome = ToPhone(*step.pc, mapping, nullptr); break;
        case Op::kPhoneUpdate: outcome = ToPhone(*step.pc, mapping, step.phone); break;
        case Op::kPcDelete: outcome = m_pc->Remove(mapping.otherId); break;
        case Op::kPhoneDelete: outcome = m_phone.Remove(mapping.phoneId); break;
        case Op::kKeepBoth:
            if ((outcome = ToPc(*step.phone, mapping, false)).ok) outcome = ToPhone(*step.pc, fresh, nullptr);
            break;
        case Op::kForget: return Forget(mapping);
        case Op::kRecord:
            mapping.phoneHash = step.phone->hash;
            mapping.otherHash = step.pc->hash;
            mapping.otherVersion = step.pc->version;
            mapping.phoneForm = FormText(step.phone->contact);
            return Remember(mapping);
        }
        if (outcome.kind == ErrorKind::kChanged) return Redecide(step);
        if ((step.op == Op::kPcDelete || step.op == Op::kPhoneDelete) && outcome.ok) outcome = Forget(mapping);
        if (outcome.ok) {
            Tell(step);
        } else if (!EndsRun(outcome)) {
            const SyncItem *item = step.pc ? step.pc : step.phone;
            m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": the phone refused " + item->shown + ": " +
                                     DeviceToTerminal(outcome.message));
            ++m_report.refused;
            return StoreStillReadable();
        }
        return outcome;
    }

    // After a refusal: a phone that can no longer read its store (a lost link) stops
    // the run, so nothing is decided from what it cannot say.
    Outcome StoreStillReadable() {
        std::vector<ContentItem> listed;
        Outcome outcome = m_session.link.Listing(PhoneType(), &listed);
        if (outcome.ok || outcome.kind == ErrorKind::kInterrupted) return outcome;
        outcome.message = "the sync stopped: after a refusal the phone no longer reads its " +
                          StoreContentName(PhoneType()) + " (was the link lost?): " + outcome.message;
        return outcome;
    }

    const char *PhoneType() const { return m_kind == SyncKind::kContacts ? kContactType : kAppointmentType; }

    // The PC's item changed after it was listed (a server refused the write): it is read
    // again and decided again, once; changed once more, the next sync decides.
    Outcome Redecide(const Step &step) {
        const SyncItem *item = step.pc ? step.pc : step.phone;
        if (step.mapping == kNoMapping || !step.pc || m_redeciding) {
            m_report.notes.push_back(std::string(SyncKindName(m_kind)) + ": " + item->shown +
                                     " changed on the pc during the sync; the next sync takes it");
            return Outcome::Ok();
        }
        SyncItem fresh;
        fresh.id = step.pc->id;
        Outcome outcome = m_pc->Read(&fresh);
        if (outcome.kind == ErrorKind::kNotFound || (outcome.ok && !fresh.problem.empty())) {
            m_pcById.erase(fresh.id);
        } else if (!outcome.ok) {
            return outcome;
        } else {
            *step.pc = fresh;
        }
        Step again{Op::kForget, kNoMapping, nullptr, nullptr, ""};
        if (!Decide(step.mapping, &again)) return Outcome::Ok();
        m_redeciding = true;
        outcome = Execute(again);
        m_redeciding = false;
        return outcome;
    }

    PhoneSession &m_session;
    SyncState &m_state;
    const std::string m_pair;
    const std::string m_phoneIdentity;  // the phone as pairs know it
    const SyncKind m_kind;
    const SyncOptions &m_options;
    SyncReport &m_report;
    PhoneSide m_phone;
    std::unique_ptr<SyncSide> m_pc;
    std::vector<SyncItem> m_phoneItems, m_pcItems;
    std::map<std::string, SyncItem *> m_phoneById, m_pcById;  // the PC's: the items that take part
    std::vector<std::string> m_leftAlone;                     // remembered PC items that cannot be read now
    std::vector<SyncMapping> m_mappings;
    std::vector<Step> m_steps;
    std::vector<const SyncItem *> m_adding;  // PC items added to the phone, their IDs not yet learnt
    bool m_redeciding = false;
    StoreVerdict m_phoneVerdict;  // whether the phone's list was proved whole
    size_t m_unprovenAbsent = 0;  // remembered items the phone did not list, left alone
};

}  // namespace

const char *ConflictPolicyName(ConflictPolicy policy) {
    return policy == ConflictPolicy::kPhone ? "phone" : policy == ConflictPolicy::kPc ? "pc" : "keep-both";
}

bool ParseConflictPolicy(const std::string &name, ConflictPolicy *policy) {
    for (ConflictPolicy each : {ConflictPolicy::kPhone, ConflictPolicy::kPc, ConflictPolicy::kKeepBoth})
        if (name == ConflictPolicyName(each)) return *policy = each, true;
    return false;
}

Outcome PhoneIdentity(PhoneSession &session, std::string *identity) {
    Capability capability;
    Outcome outcome = session.link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    // The plug-in names a model it could not read from the registry "UNKNOWN".
    if (capability.model.empty() || capability.model == "UNKNOWN")
        return Outcome::Failed(0,
                               "the phone did not answer when asked for its model, so the sync cannot tell which "
                               "phone this is; nothing was synced: try again");
    if (capability.phoneNumber.empty())
        return Outcome::Failed(0,
                               "the phone gave no number when it connected (its PIM volume did not open), so the "
                               "sync cannot tell which phone this is nor read its items; nothing was synced");
    *identity = DeviceToTerminal(capability.manufacturer + " " + capability.model + " " + capability.phoneNumber);
    return outcome;
}

Outcome RunSync(PhoneSession &session, SyncState &state, const std::string &name, const SyncOptions &options,
                ItemSink &sink, SyncReport *report) {
    report->pair = name;
    report->dryRun = options.dryRun;
    report->conflict = options.conflict;
    SyncPair pair;
    bool found = false;
    if (Outcome loaded = state.LoadPair(name, &pair, &found); !loaded.ok) return loaded;
    if (!found) return Outcome::Failed(0, "no sync pair named " + name, ErrorKind::kNotFound);
    std::string identity;
    Outcome outcome = PhoneIdentity(session, &identity);
    if (!outcome.ok) return outcome;
    // A pair bound without the number (before the number was required) is this
    // phone's when maker and model match: it learns the number.
    const bool boundWithoutNumber =
        identity.rfind(pair.phone + " ", 0) == 0 && identity.find(' ', pair.phone.size() + 1) == std::string::npos;
    if (boundWithoutNumber && !options.dryRun) pair.phone.clear();
    if (!pair.phone.empty() && pair.phone != identity && !boundWithoutNumber)
        return Outcome::Failed(0,
                               "the pair " + name + " was first synced with the phone \"" + pair.phone +
                                   "\", not this one (\"" + identity +
                                   "\"): syncing it here would delete and duplicate items; to start over with this "
                                   "phone, remove the pair and add it again",
                               ErrorKind::kOtherPhone);
    if (pair.phone.empty() && !options.dryRun) {
        pair.phone = identity;
        if (Outcome saved = state.SavePair(pair); !saved.ok) return saved;
    }
    DavAccount account;
    if (IsCollectionUrl(pair.contacts) || IsCollectionUrl(pair.calendar)) {
        if (Outcome read = ReadSyncPassword(pair.passwordFile, &account.password); !read.ok) return read;
        account.user = pair.user;
        account.caFile = pair.caFile;
        account.cancelled = [&session] { return session.link.Interrupted(); };
    }
    for (SyncKind kind : {SyncKind::kContacts, SyncKind::kCalendar}) {
        const std::string &place = kind == SyncKind::kContacts ? pair.contacts : pair.calendar;
        if (place.empty()) continue;
        std::unique_ptr<SyncSide> pc;
        std::error_code error;
        if (IsCollectionUrl(place))
            pc = std::make_unique<DavSide>(place, account, kind);
        else if (std::filesystem::is_directory(LocalPath(place), error))
            pc = std::make_unique<FolderSide>(place, kind);
        else
            return Outcome::Failed(0, place + ": no such folder", ErrorKind::kPcFile);
        outcome = KindSync(session, state, name, identity, kind, std::move(pc), options, report).Run(sink);
        if (!outcome.ok) return outcome;
    }
    return outcome;
}

}  // namespace host
