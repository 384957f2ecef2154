// The folder listing: the current device folder as an OBEX-style folder-listing
// document, one "folder" or "file" element per entry in the device's order.
#include <cstring>
#include <string>

#include "core/session.h"
#include "files/files.h"
#include "xml/xml.h"

namespace {

uint64_t FileTimeValue(const FILETIME &time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The entry's name in the ANSI code page, into the scratch record. False when the
// device name is not terminated within its field or its narrow form does not fit
// the scratch name: such an entry is left out rather than shown under a cut name.
bool TakeEntryName(const CE_FIND_DATA &entry, files::ListingScratch &scratch) {
    size_t length = 0;
    while (length < CE_MAX_PATH && entry.cFileName[length] != 0) ++length;
    if (length == CE_MAX_PATH) return false;
    const std::string narrow = platform::WideToAnsi(entry.cFileName);
    if (narrow.size() + 1 > sizeof scratch.name) return false;
    std::memcpy(scratch.name, narrow.c_str(), narrow.size() + 1);
    return true;
}

void AppendEntryElement(XmlNodeRef &listing, const CE_FIND_DATA &entry, const files::ListingScratch &scratch) {
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    XmlNodeRef element = listing.add_child(node_element);
    element.set_name(isFolder ? "folder" : "file");
    element.add_attribute("name", scratch.name);
    element.add_attribute("size", std::to_string(static_cast<int32_t>(scratch.size)).c_str());
    if (!isFolder) element.add_attribute("type", scratch.type);
    element.add_attribute("modified", files::FormatListingTime(FileTimeValue(entry.ftLastWriteTime)).c_str());
    element.add_attribute("created", files::FormatListingTime(FileTimeValue(entry.ftCreationTime)).c_str());
    element.add_attribute("accessed", files::FormatListingTime(FileTimeValue(entry.ftLastAccessTime)).c_str());
}

}  // namespace

bool DeviceSession::FbsList(void *scratchRecord, AgentPacket *response) {
    if (!m_nConnected) return false;
    LogLine(LOG_TRACE, "FBSList");

    char searchPath[files::kDevicePathSize];
    for (int32_t i = 0; m_pFbsFolderList && i < m_pFbsFolderList->GetSize(); ++i) {
        LogLine(LOG_TRACE, "%s", static_cast<const char *>(m_pFbsFolderList->GetAt(i)));
    }
    if (!files::ComposeDevicePath(m_pFbsFolderList, "*.*", true, searchPath, sizeof searchPath)) {
        LogLine(LOG_TRACE, "FOLDER PATH OUT OF SIZE");
        return false;
    }
    char folderPath[files::kDevicePathSize];
    ComposeFolderPath(folderPath, sizeof folderPath);
    LogLine(LOG_TRACE, "%s", folderPath);

    XmlTree tree(0xffff, true);
    tree.create();
    XmlNodeRef document = tree.document();
    if (document.empty()) return false;
    XmlNodeRef declaration = document.add_child(node_pi);
    declaration.set_name("xml");
    declaration.add_attribute("version", "1.0");
    declaration.add_attribute("encoding", "euc-kr");
    XmlNodeRef listing = document.add_child(node_element);
    listing.set_name("folder-listing");
    listing.attribute("version") = "1.0";

    DWORD count = 0;
    CE_FIND_DATA *entries = nullptr;
    const platform::WideString widePath = platform::AnsiToWide(searchPath);
    const bool found = platform::Rapi().CeFindAllFiles(widePath.c_str(), 0xAF, &count, &entries) != 0;
    if (!found || (count > 0 && !entries)) {
        if (entries) platform::Rapi().CeRapiFreeBuffer(entries);
        LogLine(LOG_TRACE, "FIND DATA FAIL");
        tree.clear();
        return false;
    }

    auto &scratch = *static_cast<files::ListingScratch *>(scratchRecord);
    uint32_t listed = 0;
    uint64_t fileBytes = 0;
    for (DWORD i = 0; i < count; ++i) {
        const CE_FIND_DATA &entry = entries[i];
        scratch.size = entry.nFileSizeLow;
        if (!TakeEntryName(entry, scratch)) {
            LogLine(LOG_TRACE, "NAME OUT OF SIZE: entry %d left out", int(i));
            continue;
        }
        LogLine(LOG_TRACE, "%s", scratch.name);
        AppendEntryElement(listing, entry, scratch);
        ++listed;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) fileBytes += scratch.size;
    }
    if (listed == 0) {
        LogLine(LOG_TRACE, "File not Found\r\n\r\n");
    } else {
        LogLine(LOG_TRACE, "\t%10d File(s)\t%9d bytes", listed, static_cast<uint32_t>(fileBytes));
    }
    if (entries) platform::Rapi().CeRapiFreeBuffer(entries);

    response->command = CMD_GET;
    response->subCommand = SUB_GET_SVC;
    XmlResponse(document, response, DTD_FOLDER_LISTING);
    tree.clear();
    return true;
}
