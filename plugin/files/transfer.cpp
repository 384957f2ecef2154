// File transfers between the PC and the current device folder: download
// (GetFile), upload (PutFile) and starting the device's CAB installer.
// Both copies run on the worker thread in 65535-byte chunks; an ABORT from the
// agent's thread stops them between chunks, and so does the session's stop.
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/session.h"
#include "files/files.h"

namespace {

// Upload creates its device file normal and written through: the phone's side is
// handed 0x40000080 for that, and takes its 0x40000000 bit as the request to write
// each chunk through before the write returns.
constexpr DWORD kUploadFileAttributes = 0x40000080u;
constexpr WCHAR kCabInstaller[] = CE_TEXT("\\Windows\\wceload.exe");

struct PcFileCloser {
    void operator()(FILE *file) const {
        if (file) std::fclose(file);
    }
};
using PcFile = std::unique_ptr<FILE, PcFileCloser>;

// The device file of a running transfer, held in m_hCeFile and closed on every path.
class DeviceFile {
public:
    explicit DeviceFile(HANDLE &slot) : m_slot(slot) {}
    ~DeviceFile() { Close(); }
    DeviceFile(const DeviceFile &) = delete;
    DeviceFile &operator=(const DeviceFile &) = delete;

    bool Open(const char *path, DWORD access, DWORD creation, DWORD attributes) {
        const platform::WideString widePath = platform::AnsiToWide(path);
        m_slot = platform::Rapi().CeCreateFile(widePath.c_str(), access, 0, nullptr, creation, attributes, nullptr);
        if (m_slot == INVALID_HANDLE_VALUE) m_slot = nullptr;
        return m_slot != nullptr;
    }
    HANDLE Handle() const { return m_slot; }
    void Close() {
        if (m_slot) platform::Rapi().CeCloseHandle(m_slot);
        m_slot = nullptr;
    }

private:
    HANDLE &m_slot;
};

// Chunks are already large: each goes to or from the PC file in one system call,
// not through the stream's small buffer in pieces.
void Unbuffered(FILE *file) { std::setvbuf(file, nullptr, _IONBF, 0); }

uint64_t PcFileLength(FILE *file) {
#if defined(_WIN32)
    if (_fseeki64(file, 0, SEEK_END) != 0) return 0;
    const int64_t length = _ftelli64(file);
    _fseeki64(file, 0, SEEK_SET);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return 0;
    const off_t length = ftello(file);
    fseeko(file, 0, SEEK_SET);
#endif
    return length > 0 ? static_cast<uint64_t>(length) : 0;
}

// The device path of a file the agent names in the current folder, or false when
// the name was cut, is not a plain file name, or the path would not fit.
bool DeviceFilePath(const PtrArray *folders, const char *name, bool nameCut, bool leadingSeparator,
                    char (&path)[files::kDevicePathSize]) {
    return !nameCut && files::IsPlainName(name, false) &&
           files::ComposeDevicePath(folders, name, leadingSeparator, path, sizeof path);
}

}  // namespace

bool DeviceSession::GetFile(ObjectParams *params) {
    if (!m_nConnected) {
        LogLine(LOG_TRACE, "Active Sync not connected");
        return false;
    }
    char devicePath[files::kDevicePathSize];
    if (params->filePathCut || params->filePath[0] == '\0' ||
        !DeviceFilePath(m_pFbsFolderList, params->id, params->idCut, true, devicePath)) {
        LogLine(LOG_TRACE, "GET FILE refused: name or path out of size");
        return false;
    }
    PcFile pcFile(platform::OpenPcFile(params->filePath, "wb"));
    if (!pcFile) {
        LogLine(LOG_TRACE, " File open error!");
        return false;
    }
    Unbuffered(pcFile.get());
    LogLine(LOG_TRACE, "Get FILE Path [%s]", devicePath);

    DeviceFile deviceFile(m_hCeFile);
    if (!deviceFile.Open(devicePath, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
        platform::Rapi().CeRapiGetError();
        LogLine(LOG_TRACE, " Creater File error()");
        return false;
    }
    // A download is complete when its byte count matches the low word of the device's
    // size, as the agent expects; the count is compared in 32 bits too, so files of
    // 4 GiB and more can complete. The price: a copy that ends short (or long) by a
    // whole multiple of 4 GiB is reported complete as well.
    DWORD sizeHigh = 0;
    const DWORD deviceSize = platform::Rapi().CeGetFileSize(deviceFile.Handle(), &sizeHigh);
    m_nAbort = 0;
    uint64_t total = 0;

    std::unique_ptr<uint8_t[]> chunk(new uint8_t[files::kChunkSize]);
    bool aborted = false;
    bool copyBroken = false;
    for (;;) {
        if (m_stop.IsSet()) {
            AnswerNone("the session is going away");
            return true;
        }
        if (m_nAbort.load() != 0) {
            aborted = true;
            break;
        }
        DWORD read = 0;
        if (!platform::Rapi().CeReadFile(deviceFile.Handle(), chunk.get(), files::kChunkSize, &read, nullptr)) {
            LogLine(LOG_TRACE, " CeReadFile error");
            return false;
        }
        if (read == 0) break;
        if (read > files::kChunkSize) read = files::kChunkSize;  // never trust a count past the buffer
        if (std::fwrite(chunk.get(), 1, read, pcFile.get()) != read) {
            copyBroken = true;  // the PC disk refused: the answer tells the agent
            break;
        }
        total += read;
        if (!files::SendTransferProgress(*this, read)) {
            aborted = true;
            break;
        }
    }
    deviceFile.Close();
    if (std::fclose(pcFile.release()) != 0) copyBroken = true;

    if (aborted) {
        m_nAbort = 0;
        LogLine(LOG_TRACE, "GET FILE ABORTED");
        AnswerNone("the copy was aborted");
        return true;
    }
    if (!copyBroken && static_cast<DWORD>(total) == deviceSize) {
        AnswerLastRequest(ST_OK, false);
        LogLine(LOG_TRACE, "Get File: %s complete", params->filePath);
    } else {
        AnswerLastRequest(ST_FAILED, false);
    }
    return true;
}

bool DeviceSession::PutFile(ObjectParams *params) {
    if (!m_nConnected) {
        LogLine(LOG_TRACE, "Active Sync not connected");
        return false;
    }
    if (std::strcmp(params->type, "x-obex/file") != 0) {
        LogLine(LOG_TRACE, "BAD Param: %s", params->type);
        return false;
    }
    if (!m_pFbsFolderList) m_pFbsFolderList = new PtrArray();
    char devicePath[files::kDevicePathSize];
    if (params->filePathCut || !DeviceFilePath(m_pFbsFolderList, params->name, params->nameCut, true, devicePath)) {
        LogLine(LOG_TRACE, "PUT FILE refused: name or path out of size");
        return false;
    }
    PcFile pcFile(platform::OpenPcFile(params->filePath, "rb"));
    if (!pcFile) return false;
    Unbuffered(pcFile.get());

    DeviceFile deviceFile(m_hCeFile);
    const bool created =
        deviceFile.Open(devicePath, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, kUploadFileAttributes);
    const uint64_t pcLength = PcFileLength(pcFile.get());
    m_nAbort = 0;
    uint64_t total = 0;
    uint64_t sinceReport = 0;
    uint32_t chunks = 0;

    std::unique_ptr<uint8_t[]> chunk(new uint8_t[files::kChunkSize]);
    bool aborted = false;
    while (created) {
        if (m_stop.IsSet()) {
            AnswerNone("the session is going away");
            return true;
        }
        const size_t read = std::fread(chunk.get(), 1, files::kChunkSize, pcFile.get());
        if (read < 1) break;
        DWORD written = 0;
        const bool wrote = platform::Rapi().CeWriteFile(deviceFile.Handle(), chunk.get(), static_cast<DWORD>(read),
                                                        &written, nullptr) != 0;
        std::memset(chunk.get(), 0, files::kChunkSize);
        if (!wrote) break;
        if (written > read) written = static_cast<DWORD>(read);
        total += written;
        sinceReport += written;
        ++chunks;
        if (written < read) break;  // a short write is a failed one
        if (chunks % files::kUploadChunksPerReport == 0) {
            if (!files::SendTransferProgress(*this, sinceReport)) {
                aborted = true;
                break;
            }
            m_stop.Wait(1);
            sinceReport = 0;
        }
    }
    deviceFile.Close();
    pcFile.reset();

    if (aborted) {
        m_nAbort = 0;
        LogLine(LOG_TRACE, "PUT FILE ABORTED");
        AnswerNone("the copy was aborted");
        return true;
    }
    LogLine(LOG_TRACE, "SEND FILE SUCCESS");
    AgentPacket *answer = CopyOfLastRequest();
    if (!answer) {
        AnswerNone("no memory for the answer");
        return true;
    }
    const bool complete = total == pcLength;
    LogLine(LOG_TRACE,
            complete ? "SUCCESS dwPutTotalbytes[%d],dwWriteSize[%d]" : "FAIL dwPutTotalbytes[%d],dwWriteSize[%d]",
            static_cast<uint32_t>(total), static_cast<uint32_t>(pcLength));
    answer->nStatus = complete ? ST_OK : ST_FAILED;
    Deliver(answer, {false, true, complete ? "CALLBACK FAIL WHY??" : nullptr});
    return true;
}

uint32_t DeviceSession::RunCabInstaller(const WCHAR *packagePath) {
    WCHAR commandLine[CE_MAX_PATH] = {};
    const size_t length = platform::WideLength(packagePath);
    if (length == 0 || length >= CE_MAX_PATH) {
        LogLine(LOG_TRACE, "Error Code : %d", CE_ERROR_INVALID_PARAMETER);
        return CE_ERROR_INVALID_PARAMETER;  // refused: the installer never sees a cut path
    }
    std::memcpy(commandLine, packagePath, length * sizeof(WCHAR));

    PROCESS_INFORMATION process{};
    if (!platform::Rapi().CeCreateProcess(kCabInstaller, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                          nullptr, &process)) {
        const uint32_t error = platform::Rapi().CeGetLastError();
        LogLine(LOG_TRACE, "Error Code : %d", error);
        return error != 0 ? error : CE_ERROR_INVALID_PARAMETER;
    }
    LogLine(LOG_TRACE, "Run Process : %s", platform::WideToAnsi(commandLine).c_str());
    if (process.hProcess) platform::Rapi().CeCloseHandle(process.hProcess);
    if (process.hThread) platform::Rapi().CeCloseHandle(process.hThread);
    return 0;
}
