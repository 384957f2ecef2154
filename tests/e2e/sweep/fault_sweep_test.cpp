// The fault sweep: every kind of request, run once to record the calls it makes to
// the phone, then again for each of those calls failing once and failing from then
// on. Each run must end in exactly one final answer within a bounded wait, and the
// same request must work again once the phone is healthy. The cases come from the
// recorded calls, so a call a handler starts making is swept without editing this.
//
// An operation a request calls many times is swept at its first three calls and its
// last, not at every call in between.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/core/agent_session.h"
#include "e2e/emulator/emulator_fixture.h"
#include "emulator/ceemu_test_hooks.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"

namespace fs = std::filesystem;

namespace {

// Bounds the wait for any answer; a connect waits up to 30 s for the link itself.
constexpr uint32_t kAnswerTimeoutMs = 45000;
constexpr uint32_t kLeadingCallsSwept = 3;

// The phone's test hooks, from the library the plug-in loaded: one phone for both.
class PhoneHooks {
public:
    bool Loaded() const { return m_setFaults && m_traceCalls && m_readTrace; }

    void FailCall(const std::string &operation, uint32_t nth, bool persistent) const {
        const nlohmann::json faults = {{{"operation", operation}, {"nth", nth}, {"persistent", persistent}}};
        EXPECT_EQ(m_setFaults(faults.dump().c_str()), 0);
    }
    void Heal() const { m_setFaults(nullptr); }

    void StartTrace() const { m_traceCalls(1); }
    // The operations called since StartTrace, in order; ends the trace.
    std::vector<std::string> StopTrace() const {
        std::string text(m_readTrace(nullptr, 0), '\0');
        m_readTrace(text.data(), static_cast<uint32_t>(text.size()));
        m_traceCalls(0);
        std::vector<std::string> calls;
        std::istringstream lines(text.c_str());
        for (std::string line; std::getline(lines, line);) calls.push_back(line);
        return calls;
    }

private:
    template <typename Fn>
    static Fn Hook(const char *name) {
        return reinterpret_cast<Fn>(ceemu_test::EmulatorSymbol(name));
    }
    decltype(&CeEmuSetFaults) m_setFaults = Hook<decltype(&CeEmuSetFaults)>("CeEmuSetFaults");
    decltype(&CeEmuTraceCalls) m_traceCalls = Hook<decltype(&CeEmuTraceCalls)>("CeEmuTraceCalls");
    decltype(&CeEmuReadTrace) m_readTrace = Hook<decltype(&CeEmuReadTrace)>("CeEmuReadTrace");
};

// A session on its own demo phone, with the steps the request kinds start from.
struct Sweep : AgentSession {
    Answer Ask(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body = {}) {
        return agent.Request(command, subCommand, body, kAnswerTimeoutMs);
    }
    uint32_t Status(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body = {}) {
        return Ask(command, subCommand, body).header.nStatus;
    }

    void EnsureConnected() {
        if (Status(CMD_CONNECT, 0) != ST_OK) {
            ASSERT_EQ(Status(CMD_APP_CON, 0), ST_OK);
        }
    }
    void Disconnect() { ASSERT_EQ(Status(CMD_DISCON, 0), ST_OK); }

    // Connected, in the root folder, then in `folder` when one is named.
    void InFolder(const char *folder = nullptr) {
        EnsureConnected();
        ASSERT_EQ(Status(CMD_SETPATH, 0, SetPathBody("", 0)), ST_OK);
        if (folder) {
            ASSERT_EQ(Status(CMD_SETPATH, 0, SetPathBody(folder, 2)), ST_OK);
        }
    }

    // The demo phone's databases as shipped, mounted afresh.
    void FreshVolumes() {
        Disconnect();
        fs::copy(DemoPhoneSource() / "volumes", phone.path() / "volumes",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        EnsureConnected();
    }

    // Lists `type` and keeps the ID of its first item for the request.
    void FirstItemOf(const char *type) {
        EnsureConnected();
        const std::string xml = XmlText(Ask(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, type}})));
        static const std::regex firstId("<ID>([^<]+)</ID>");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(xml, match, firstId)) << type << " lists nothing";
        itemId = match[1];
    }

    // A download or upload between `name` in the current folder and `pcName` in the PC folder.
    uint32_t SendTransfer(uint16_t command, uint16_t subCommand, uint8_t nameCode, const char *name,
                          const char *pcName) {
        const std::string pcFile = (pc.path() / pcName).string();
        return agent.Send(command, subCommand,
                          Body({{PAR_TYPE, "x-obex/file"}, {nameCode, name}, {PAR_APP_FILEPATH, pcFile}}));
    }

    static std::vector<uint8_t> SetPathBody(const char *name, uint8_t flag) {
        return Body({{PAR_NAME, name}, {PAR_APP_FLAGS, std::vector<uint8_t>{flag}}});
    }

    TempDir pc;
    std::string itemId;
};

// One kind of request: how to bring the session to where it is sent, and how to
// send it (returning its tid). Both run with a healthy phone.
struct RequestKind {
    const char *name;
    void (*prepare)(Sweep &);
    uint32_t (*send)(Sweep &);
};
// Test lists show the kind's name, not its bytes.
void PrintTo(const RequestKind &kind, std::ostream *out) { *out << kind.name; }

void Connected(Sweep &sweep) { sweep.EnsureConnected(); }
void AtRoot(Sweep &sweep) { sweep.InFolder(); }
void InDocuments(Sweep &sweep) { sweep.InFolder("My Documents"); }

template <const char *type>
uint32_t List(Sweep &sweep) {
    return sweep.agent.Send(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, type}}));
}
template <const char *type>
uint32_t Read(Sweep &sweep) {
    return sweep.agent.Send(CMD_GET, SUB_GET_OBJECT, Body({{PAR_TYPE, type}, {PAR_APP_ID, sweep.itemId}}));
}
template <const char *type>
uint32_t Delete(Sweep &sweep) {
    return sweep.agent.Send(CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, type}, {PAR_APP_ID, sweep.itemId}}));
}
template <const char *type, const char *text>
uint32_t Add(Sweep &sweep) {
    return sweep.agent.Send(CMD_PUT, SUB_PUT_OBJECT, Body({{PAR_TYPE, type}, {PAR_XMLBODY, text}}));
}
template <const char *type>
void FirstItem(Sweep &sweep) {
    sweep.FirstItemOf(type);
}
template <const char *type>
void FirstOfFreshVolume(Sweep &sweep) {
    sweep.FreshVolumes();
    sweep.FirstItemOf(type);
}
template <const char *name, uint8_t flag>
uint32_t SetPath(Sweep &sweep) {
    return sweep.agent.Send(CMD_SETPATH, 0, Sweep::SetPathBody(name, flag));
}

constexpr char kNoName[] = "";
constexpr char kDocuments[] = "My Documents";
constexpr char kNewFolder[] = "Sweep";
constexpr char kFolderListing[] = "x-obex/folder-listing";
constexpr char kNewContact[] = "FIRSTNAME=Sweep||MOBILETELEPHONENUMBER=0101";
constexpr char kNewAppointment[] = "TITLE=Sweep||STARTTIME=20090601T100000Z||ENDTIME=20090601T113000Z";

const RequestKind kRequestKinds[] = {
    {"Connect", [](Sweep &s) { s.Disconnect(); }, [](Sweep &s) { return s.agent.Send(CMD_APP_CON, 0); }},
    {"Disconnect", Connected, [](Sweep &s) { return s.agent.Send(CMD_DISCON, 0); }},
    {"Capability", Connected,
     [](Sweep &s) {
         return s.agent.Send(CMD_GET, SUB_GET_CAPABILITY, Body({{PAR_TYPE, "x-obex/capability"}}));
     }},
    {"SetPathIntoAFolder", AtRoot, SetPath<kDocuments, 2>},
    {"SetPathCreatingAFolder",
     [](Sweep &s) {
         s.InFolder();
         fs::remove_all(s.phone.fs() / kNewFolder);
     },
     SetPath<kNewFolder, 0>},
    {"SetPathToTheParent", InDocuments, SetPath<kNoName, 1>},
    {"SetPathToTheRoot", InDocuments, SetPath<kNoName, 2>},
    {"SetPathHome", InDocuments, SetPath<kNoName, 0>},
    {"FolderListing", InDocuments, List<kFolderListing>},
    {"FileGet", InDocuments,
     [](Sweep &s) { return s.SendTransfer(CMD_GET, SUB_GET_OBJECT, PAR_APP_ID, "DSC_0001.jpg", "photo.jpg"); }},
    {"FilePut",
     [](Sweep &s) {
         s.InFolder(kDocuments);
         WriteFileText(s.pc.path() / "upload.bin", std::string(150000, 'u'));  // three chunks
     },
     [](Sweep &s) { return s.SendTransfer(CMD_PUT, SUB_PUT_OBJECT, PAR_NAME, "upload.bin", "upload.bin"); }},
    {"FileDelete",
     [](Sweep &s) {
         s.InFolder(kDocuments);
         WriteFileText(s.phone.fs() / kDocuments / "doomed.txt", "x");
     },
     [](Sweep &s) {
         return s.agent.Send(CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, "x-obex/file"}, {PAR_NAME, "doomed.txt"}}));
     }},
    {"CabInstall", Connected,
     [](Sweep &s) {
         return s.agent.Send(CMD_PUT, SUB_PUT_OBJECT,
                             Body({{PAR_TYPE, "application/cab"}, {PAR_NAME, "\\Storage Card\\setup.cab"}}));
     }},
    {"PackagesListing", Connected, List<kPackages>},
    {"ContactsListing", Connected, List<kContacts>},
    {"AppointmentsListing", Connected, List<kSchedule>},
    {"CallsListing", Connected, List<kCalls>},
    {"ReceivedMessagesListing", Connected, List<kReceived>},
    {"SentMessagesListing", Connected, List<kSent>},
    {"ContactRead", FirstItem<kContacts>, Read<kContacts>},
    {"AppointmentRead", FirstItem<kSchedule>, Read<kSchedule>},
    {"CallRead", FirstItem<kCalls>, Read<kCalls>},
    {"ContactAdd", Connected, Add<kContacts, kNewContact>},
    {"AppointmentAdd", Connected, Add<kSchedule, kNewAppointment>},
    {"ContactDelete", FirstOfFreshVolume<kContacts>, Delete<kContacts>},
    {"AppointmentDelete", FirstOfFreshVolume<kSchedule>, Delete<kSchedule>},
    {"ReceivedMessageDelete", FirstOfFreshVolume<kReceived>, Delete<kReceived>},
    {"SentMessageDelete", FirstOfFreshVolume<kSent>, Delete<kSent>},
};

// One case of the matrix: the Nth call of an operation fails, once or from then on.
struct FaultCase {
    std::string operation;
    uint32_t nth;
    bool persistent;
};

std::vector<FaultCase> CasesFor(const std::vector<std::string> &calls) {
    std::vector<std::string> operations;  // in order of first call
    std::map<std::string, uint32_t> callCount;
    for (const std::string &call : calls) {
        if (callCount[call]++ == 0) operations.push_back(call);
    }
    std::vector<FaultCase> cases;
    for (const std::string &operation : operations) {
        const uint32_t count = callCount[operation];
        std::vector<uint32_t> swept;
        for (uint32_t nth = 1; nth <= std::min(count, kLeadingCallsSwept); ++nth) swept.push_back(nth);
        if (count > kLeadingCallsSwept) swept.push_back(count);
        for (uint32_t nth : swept) {
            cases.push_back({operation, nth, false});
            cases.push_back({operation, nth, true});
        }
    }
    return cases;
}

std::string CaseName(const RequestKind &kind, const FaultCase &fault) {
    return std::string(kind.name) + "/" + fault.operation + "/" + std::to_string(fault.nth) + "/" +
           (fault.persistent ? "persistent" : "once");
}

// TMPDIR on a memory file system, where the machine has room there.
std::unique_ptr<ScopedEnv> TempInMemory() {
#if defined(_WIN32)
    return nullptr;
#else
    return std::make_unique<ScopedEnv>("TMPDIR", ScratchBase().string());
#endif
}

// What one run of a request came to.
struct Outcome {
    bool answered = false;
    size_t finalAnswers = 0;
    uint32_t status = 0;  // of the first final answer
    std::vector<std::string> calls;
};

class FaultSweep : public ::testing::TestWithParam<RequestKind> {
protected:
    static void TearDownTestSuite() { std::printf("[ sweep    ] %zu cases in this run\n", s_casesRun); }

    void SetUp() override { ASSERT_TRUE(hooks.Loaded()) << "the emulator lacks its test hooks"; }

    // Prepares the session, then sends the request with the phone as `fault` makes it.
    Outcome Run(const std::optional<FaultCase> &fault) {
        const RequestKind &kind = GetParam();
        kind.prepare(sweep);
        Outcome outcome;
        if (::testing::Test::HasFatalFailure()) return outcome;
        sweep.agent.ClearAnswers();
        if (fault) hooks.FailCall(fault->operation, fault->nth, fault->persistent);
        hooks.StartTrace();
        const uint32_t tid = kind.send(sweep);
        outcome.answered = sweep.agent.WaitForFinal(tid, kAnswerTimeoutMs);
        if (outcome.answered) {
            // The worker serves in order: once a later request is answered, nothing
            // more can come for this one. CMD_CONNECT makes no call to the phone.
            const uint32_t settleTid = sweep.agent.Send(CMD_CONNECT, 0);
            EXPECT_TRUE(sweep.agent.WaitForFinal(settleTid, kAnswerTimeoutMs));
            for (const Answer &answer : sweep.agent.Answers()) {
                if (answer.header.tid == settleTid) continue;
                if (answer.header.tid != tid) {
                    ADD_FAILURE() << "an answer for tid " << answer.header.tid << ", a request already answered";
                } else if (answer.header.nStatus != ST_CONTINUE && outcome.finalAnswers++ == 0) {
                    outcome.status = answer.header.nStatus;
                }
            }
        }
        outcome.calls = hooks.StopTrace();
        hooks.Heal();
        return outcome;
    }

    PhoneHooks hooks;
    // Every log line and volume change is written through to disk: on a busy disk
    // that, not the plug-in, would set the sweep's pace. Memory holds it instead.
    std::unique_ptr<ScopedEnv> tempInMemory = TempInMemory();
    Sweep sweep;
    static size_t s_casesRun;
};

size_t FaultSweep::s_casesRun = 0;

TEST_P(FaultSweep, EachCallFailsOnceAndFromThenOn) {
    const Outcome healthy = Run(std::nullopt);
    ASSERT_TRUE(healthy.answered) << GetParam().name << ": no answer within " << kAnswerTimeoutMs << " ms";
    ASSERT_EQ(healthy.finalAnswers, 1u) << GetParam().name;

    const std::vector<FaultCase> cases = CasesFor(healthy.calls);
    for (const FaultCase &fault : cases) {
        SCOPED_TRACE(CaseName(GetParam(), fault));
        const Outcome faulted = Run(fault);
        // A request left unanswered holds the worker: no later case could run.
        ASSERT_TRUE(faulted.answered) << CaseName(GetParam(), fault) << ": no answer within " << kAnswerTimeoutMs
                                      << " ms";
        EXPECT_EQ(faulted.finalAnswers, 1u);
        EXPECT_GE(std::count(faulted.calls.begin(), faulted.calls.end(), fault.operation), fault.nth)
            << "the failing call was never made";

        const Outcome again = Run(std::nullopt);
        ASSERT_TRUE(again.answered) << CaseName(GetParam(), fault) << ": the next request got no answer";
        EXPECT_EQ(again.finalAnswers, 1u) << "the next request";
        EXPECT_EQ(again.status, healthy.status) << "the next request";
        ++s_casesRun;
    }
    std::printf("[ sweep    ] %s: %zu calls, %zu cases\n", GetParam().name, healthy.calls.size(), cases.size());
}

INSTANTIATE_TEST_SUITE_P(Requests, FaultSweep, ::testing::ValuesIn(kRequestKinds),
                         [](const ::testing::TestParamInfo<RequestKind> &info) { return info.param.name; });

}  // namespace
