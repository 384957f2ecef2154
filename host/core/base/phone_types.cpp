#include "phone_types.h"

namespace host {

std::vector<std::string> SplitDevicePath(const std::string &path) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

std::string JoinDevicePath(const std::vector<std::string> &parts) {
    if (parts.empty()) return "\\";
    std::string path;
    for (const std::string &part : parts) path += "\\" + part;
    return path;
}

std::string ListedForm(const std::string &name) {
    std::string listed;
    for (char c : name)
        if (c != ' ' || listed.empty() || listed.back() != ' ') listed += c;
    return listed;
}

bool SameDeviceName(const std::string &a, const std::string &b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

const FolderEntry *FindEntry(const std::vector<FolderEntry> &entries, const std::string &name) {
    const FolderEntry *loose = nullptr;
    for (const FolderEntry &entry : entries) {
        if (entry.name == name) return &entry;
        if (!loose && SameDeviceName(entry.name, name)) loose = &entry;
    }
    if (!loose && name != ListedForm(name))
        for (const FolderEntry &entry : entries)
            if (SameDeviceName(entry.name, ListedForm(name))) return &entry;
    return loose;
}

const Memory *StoreFor(const Capability &capability, const std::vector<std::string> &path) {
    const Memory *objectStore = nullptr;
    for (const Memory &memory : capability.memories) {
        std::vector<std::string> location = SplitDevicePath(memory.location);
        if (memory.location == "0")
            objectStore = &memory;
        else if (!path.empty() && location.size() == 1 && SameDeviceName(location[0], path[0]))
            return &memory;
    }
    return objectStore;
}

std::string StoreName(const Memory &store) {
    return store.location == "0" ? "the phone's internal memory" : store.location;
}

}  // namespace host
