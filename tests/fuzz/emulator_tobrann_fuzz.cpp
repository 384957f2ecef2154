// Fuzz entry for the emulated phone's database server: requests of any shape reach
// its CeRapiInvoke(L"Tobrann", ...) on the phone image CEBRIDGE_DEVICE names (a
// throw-away copy: the server may write to it). The fuzzer has the emulator compiled
// in (CEBRIDGE_EMULATOR_LINKED_IN), so that it sees the server's branches; the unit
// test that replays the committed inputs loads the built libceemu.so instead, the
// way the plug-in loads its RAPI provider.
//
// Every input starts from the phone's volume files as the run found them, and ends
// by unmounting every volume it mounted (which forgets every handle on them), so
// that an input does the same wherever it comes in a run, and neither the volumes
// nor the server's mounts grow with every input (every write first looks at each
// mounted volume's files, and every mount reads its whole file).
//
// Input: up to eight calls, each one byte choosing the function (bit 7: the
// request's first four bytes become the first four of the previous answer, so a
// handle the server gave out is used again), two bytes of request length and the
// request bytes, which reach the server as their own exact-size block.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"

#if defined(CEBRIDGE_EMULATOR_LINKED_IN)
#include <type_traits>
#define RAPI_OPERATION(name) extern "C" std::remove_pointer_t<PFN_##name> name;
CEBRIDGE_RAPI_OPERATIONS(RAPI_OPERATION)
#undef RAPI_OPERATION
#endif

namespace {

const WCHAR kMount[] = CE_TEXT("DevCeMountDBVolEx");
// clang-format off
const WCHAR *const kFunctions[] = {
    CE_TEXT("DevCeGetPhoneNumber"),          kMount,
    CE_TEXT("DevCeCreateDatabaseWithProps"), CE_TEXT("DevCeOidGetInfoEx2"),
    CE_TEXT("DevCeCreateSession"),           CE_TEXT("DevCeOpenDatabaseInSession"),
    CE_TEXT("DevCeGetDatabaseSession"),      CE_TEXT("DevCeFlushDBVol"),
    CE_TEXT("DevCeWriteRecordProps"),        CE_TEXT("DevCeChangeDatabaseLCID"),
    CE_TEXT("DevCeSeekDatabaseEx"),          CE_TEXT("DevCeDeleteDatabaseEx"),
    CE_TEXT("DevCeUnmountDBVol"),            CE_TEXT("DevCeEnumDBVolumes"),
    CE_TEXT("DevCeReadRecordPropsEx"),       CE_TEXT("DevCeAddDatabaseProps"),
    CE_TEXT("DevCeDeleteRecord"),            CE_TEXT("DevCeFindFirstDatabaseEx"),
    CE_TEXT("DevCeFindNextDatabaseEx"),      CE_TEXT("DevCeGetDatabaseProps"),
    CE_TEXT("DevCeRemoveDatabaseProps"),     CE_TEXT("DevCeGetDBInformationByHandle"),
    CE_TEXT("DevCeSetDatabaseInfo"),         CE_TEXT("DevCeFreeNotification"),
    CE_TEXT("DevCeSetSessionOption"),        CE_TEXT("DevCeBeginTransaction"),
    CE_TEXT("DevCeEndTransaction"),          CE_TEXT("DevCeOpenStream"),
    CE_TEXT("DevCeStreamRead"),              CE_TEXT("DecCeStreamSaveChanges"),
    CE_TEXT("DevCeStreamSetSize"),           CE_TEXT("DevCeStreamSeek"),
    CE_TEXT("DevCeStreamWrite"),             CE_TEXT("DevCeNoSuchFunction"),
};
// clang-format on
constexpr size_t kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];
constexpr int kCallsPerInput = 8;
constexpr size_t kGuidSize = 16;

// The emulator's library, loaded and linked on first use.
class EmulatedPhone {
public:
    static EmulatedPhone &Get() {
        static EmulatedPhone phone;
        return phone;
    }
    bool Linked() {
        if (!m_linked) m_linked = Link();
        return m_linked;
    }
    void Unlink() {
        if (m_linked) m_table.CeRapiUninit();
        m_linked = false;
    }
    const platform::RapiTable &table() const { return m_table; }
    // Unmounts each volume as often as it is mounted: the server forgets it and
    // every handle on it.
    void UnmountAll(std::vector<std::array<uint8_t, kGuidSize>> &volumes) const {
        for (auto &guid : volumes) {
            while (m_table.CeRapiInvoke(CE_TEXT("Tobrann"), CE_TEXT("DevCeUnmountDBVol"), kGuidSize, guid.data(),
                                        nullptr, nullptr, nullptr, 0) == 0) {
            }
        }
    }
    // Puts the volume files back as they were at the start; removes any other.
    void RestoreVolumes() const {
        std::error_code ignored;
        for (const auto &entry : std::filesystem::directory_iterator(m_volumeFolder, ignored)) {
            if (!IsPristine(entry.path())) std::filesystem::remove(entry.path(), ignored);
        }
        // Rewritten only when an input changed them: the server parses a volume file
        // again when it finds it changed.
        for (const auto &[path, text] : m_pristine) {
            if (FileText(path) != text) std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        }
    }

private:
    EmulatedPhone() {
#if defined(CEBRIDGE_EMULATOR_LINKED_IN)
#define RAPI_OPERATION(name) m_table.name = &::name;
        CEBRIDGE_RAPI_OPERATIONS(RAPI_OPERATION)
#undef RAPI_OPERATION
        m_loaded = true;
#elif defined(CEBRIDGE_TEST_EMULATOR)
        bool loaded = false;
        m_table = platform::LoadRapiTable(CEBRIDGE_TEST_EMULATOR, &loaded);
        m_loaded = loaded;
#endif
        const char *device = std::getenv("CEBRIDGE_DEVICE");
        if (device == nullptr) return;
        m_volumeFolder = std::filesystem::path(device) / "volumes";
        std::error_code ignored;
        for (const auto &entry : std::filesystem::directory_iterator(m_volumeFolder, ignored)) {
            m_pristine.emplace_back(entry.path(), FileText(entry.path()));
        }
    }
    static std::string FileText(const std::filesystem::path &path) {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return std::move(text).str();
    }
    bool IsPristine(const std::filesystem::path &path) const {
        for (const auto &file : m_pristine) {
            if (file.first == path) return true;
        }
        return false;
    }
    bool Link() {
        if (!m_loaded) return false;
        RAPIINIT init{sizeof init, nullptr, 0};
        if (m_table.CeRapiInitEx(&init) != 0) return false;
        platform::Event stop;
        return platform::WaitForLink(init.heRapiInit, stop, 10000) == platform::LinkWait::Signalled &&
               init.hrRapiInit == 0;
    }

    platform::RapiTable m_table{};
    std::filesystem::path m_volumeFolder;
    std::vector<std::pair<std::filesystem::path, std::string>> m_pristine;
    bool m_loaded = false;
    bool m_linked = false;
};

}  // namespace

// Ends the link the entry made, so that a test can remove the phone image after.
void EndEmulatorFuzzLink() { EmulatedPhone::Get().Unlink(); }

int FuzzEmulatorTobrann(const uint8_t *data, size_t size) {
    EmulatedPhone &phone = EmulatedPhone::Get();
    if (!phone.Linked()) std::abort();  // no emulator or no phone image: nothing is fuzzed
    phone.RestoreVolumes();
    fuzz::Cursor cursor(data, size);
    uint8_t lastAnswer[4] = {};
    std::vector<std::array<uint8_t, kGuidSize>> mounted;
    for (int call = 0; call < kCallsPerInput && cursor.Left() > 0; ++call) {
        const uint8_t choice = cursor.Byte();
        const uint16_t length = cursor.U16();
        fuzz::HeapCopy request = cursor.Take(length);
        if ((choice & 0x80) != 0 && request.size() >= 4) std::memcpy(request.data(), lastAnswer, 4);

        const WCHAR *const function = kFunctions[(choice & 0x7f) % kFunctionCount];
        DWORD answerSize = 0;
        BYTE *answer = nullptr;
        const HRESULT result =
            phone.table().CeRapiInvoke(CE_TEXT("Tobrann"), function, static_cast<DWORD>(request.size()),
                                       request.size() > 0 ? request.data() : nullptr, &answerSize, &answer, nullptr, 0);
        if (answer == nullptr && answerSize != 0) std::abort();
        if (answer != nullptr) {
            fuzz::Touch(answer, answerSize);  // every byte the server reported is there
            std::memcpy(lastAnswer, answer, answerSize < 4 ? answerSize : 4);
            if (function == kMount && result == 0 && answerSize == kGuidSize) {
                std::memcpy(mounted.emplace_back().data(), answer, kGuidSize);
            }
            platform::LocalFree(answer);  // as the plug-in frees the server's answers
        }
    }
    phone.UnmountAll(mounted);
    return 0;
}

#ifdef CEBRIDGE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzEmulatorTobrann(data, size); }
#endif
