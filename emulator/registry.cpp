// The phone's registry: the textual .reg form of registry.reg, read at every link start.
#include "registry.h"

#include "hostfile.h"
#include "reg_text.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ceemu {
namespace {

struct RegistryValue {
    std::u16string name;  // empty: the key's default value
    DWORD type = REG_SZ;
    std::string data;  // as the phone stores it (strings UTF-16LE with their NUL)
};

struct RegistryKey {
    std::u16string name;
    std::vector<std::unique_ptr<RegistryKey>> children;  // in the order the file names them
    std::vector<RegistryValue> values;

    RegistryKey *Child(const std::u16string &childName) const {
        for (const auto &child : children) {
            if (NamesEqual(child->name, childName)) return child.get();
        }
        return nullptr;
    }
    RegistryKey &ChildOrNew(const std::u16string &childName) {
        if (RegistryKey *child = Child(childName)) return *child;
        children.push_back(std::make_unique<RegistryKey>());
        children.back()->name = childName;
        return *children.back();
    }
};

struct Registry {
    RegistryKey localMachine, currentUser, classesRoot, users;
    FILETIME written{};

    RegistryKey *Root(HKEY key) {
        // 64-bit Windows headers sign-extend the predefined keys (0xFFFFFFFF80000002);
        // POSIX ones do not: both name the same root.
        const uintptr_t value = reinterpret_cast<uintptr_t>(key);
        const uint32_t low = static_cast<uint32_t>(value);
        if (value != low && value != static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(low))))
            return nullptr;
        switch (low) {
        case 0x80000000u: return &classesRoot;
        case 0x80000001u: return &currentUser;
        case 0x80000002u: return &localMachine;
        case 0x80000003u: return &users;
        default: return nullptr;
        }
    }
    RegistryKey *RootNamed(const std::string &name) {
        if (name == "HKEY_LOCAL_MACHINE" || name == "HKLM") return &localMachine;
        if (name == "HKEY_CURRENT_USER" || name == "HKCU") return &currentUser;
        if (name == "HKEY_CLASSES_ROOT" || name == "HKCR") return &classesRoot;
        if (name == "HKEY_USERS" || name == "HKU") return &users;
        return nullptr;
    }
};

// An open key keeps the registry it came from, so a reload never leaves it dangling.
struct OpenRegistryKey : HandleObject {
    std::shared_ptr<Registry> registry;
    RegistryKey *key = nullptr;
    bool ClosedByCloseHandle() const override { return false; }
};

std::shared_ptr<Registry> &CurrentRegistry() {
    static std::shared_ptr<Registry> registry = std::make_shared<Registry>();
    return registry;
}

// --- reading the .reg text --------------------------------------------------------------

std::string Utf16LeBytes(const std::u16string &text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    bytes.append(2, '\0');
    return bytes;
}

// The file as UTF-8: a UTF-16LE export (with its byte-order mark) is converted.
std::string RegistryText(const std::string &raw) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
        std::u16string wide;
        for (size_t i = 2; i + 1 < raw.size(); i += 2) {
            wide +=
                static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8);
        }
        return Utf8(wide);
    }
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
    return raw;
}

// A value line of a key; one of another form is passed over.
void AddValue(RegistryKey &key, const host::RegLine &line) {
    host::RegData data;
    if (!host::ReadRegData(line.data, &data)) return;
    RegistryValue value;
    value.name = Utf16(line.name);
    value.type = data.type;
    value.data = data.type == host::kRegString ? Utf16LeBytes(Utf16(data.bytes)) : data.bytes;
    for (auto &existing : key.values) {
        if (NamesEqual(existing.name, value.name)) {
            existing = std::move(value);
            return;
        }
    }
    key.values.push_back(std::move(value));
}

RegistryKey *SectionKey(Registry &registry, const std::string &path) {
    std::istringstream in(path);
    std::string part;
    if (!std::getline(in, part, '\\')) return nullptr;
    RegistryKey *key = registry.RootNamed(part);
    while (key != nullptr && std::getline(in, part, '\\')) {
        if (!part.empty()) key = &key->ChildOrNew(Utf16(part));
    }
    return key;
}

// Lines that are not understood (and "[-...]" deletions) are passed over.
std::shared_ptr<Registry> ParseRegistry(const std::string &text) {
    auto registry = std::make_shared<Registry>();
    RegistryKey *section = nullptr;
    for (const host::RegLine &line : host::ReadRegText(text)) {
        if (line.kind == host::RegLine::Kind::kSection)
            section = line.key.rfind('-', 0) == 0 ? nullptr : SectionKey(*registry, line.key);
        else if (line.kind == host::RegLine::Kind::kValue && section != nullptr)
            AddValue(*section, line);
    }
    return registry;
}

// --- operations ----------------------------------------------------------------------------

struct KeyRef {
    std::shared_ptr<Registry> registry;
    RegistryKey *key;
};

KeyRef KeyFor(HKEY handle) {
    if (RegistryKey *root = CurrentRegistry()->Root(handle)) return {CurrentRegistry(), root};
    auto *open = FindHandle<OpenRegistryKey>(reinterpret_cast<HANDLE>(handle));
    if (open == nullptr) Fail(CE_ERROR_INVALID_HANDLE);
    return {open->registry, open->key};
}

// Copies text and its NUL into a caller's buffer of *capacity characters; the count
// written back excludes the NUL. Fails 234 with the needed count when it does not fit.
void CopyName(const std::u16string &text, WCHAR *buffer, DWORD *capacity) {
    const DWORD room = *capacity;
    *capacity = static_cast<DWORD>(text.size());
    if (buffer == nullptr || room <= text.size()) {
        if (buffer != nullptr && room > 0) buffer[0] = 0;
        Fail(CE_ERROR_MORE_DATA);
    }
    for (size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<WCHAR>(text[i]);
    buffer[text.size()] = 0;
}

}  // namespace

void LoadRegistry() {
    std::ifstream in(ImagePath("registry.reg"), std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto registry = ParseRegistry(RegistryText(raw));
    try {
        registry->written = StatItem(ImagePath("registry.reg")).written;
    } catch (const DeviceError &) {
        // No registry file: an empty registry.
    }
    CurrentRegistry() = std::move(registry);
}

LONG OpenKey(HKEY key, const WCHAR *subkey, HKEY *result) {
    if (result == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    *result = nullptr;
    KeyRef found = KeyFor(key);
    const std::u16string path = WideText(subkey);
    std::u16string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != u'\\') {
            part += path[i];
            continue;
        }
        if (part.empty()) continue;
        found.key = found.key->Child(part);
        if (found.key == nullptr) Fail(CE_ERROR_FILE_NOT_FOUND);
        part.clear();
    }
    auto open = std::make_unique<OpenRegistryKey>();
    open->registry = found.registry;
    open->key = found.key;
    *result = reinterpret_cast<HKEY>(AddHandle(std::move(open)));
    return CE_ERROR_SUCCESS;
}

LONG EnumerateKey(HKEY key, DWORD index, WCHAR *name, DWORD *cchName, WCHAR *cls, DWORD *cchClass,
                  FILETIME *lastWrite) {
    const KeyRef found = KeyFor(key);
    if (cchName == nullptr || (cls != nullptr && cchClass == nullptr)) Fail(CE_ERROR_INVALID_PARAMETER);
    if (index >= found.key->children.size()) Fail(CE_ERROR_NO_MORE_ITEMS);
    CopyName(found.key->children[index]->name, name, cchName);
    if (cchClass != nullptr) CopyName(u"", cls, cchClass);
    if (lastWrite != nullptr) *lastWrite = found.registry->written;
    return CE_ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, const WCHAR *name, DWORD *type, BYTE *data, DWORD *cbData) {
    const KeyRef found = KeyFor(key);
    if (data != nullptr && cbData == nullptr) Fail(CE_ERROR_INVALID_PARAMETER);
    const std::u16string wanted = WideText(name);
    for (const RegistryValue &value : found.key->values) {
        if (!NamesEqual(value.name, wanted)) continue;
        if (type != nullptr) *type = value.type;
        if (cbData == nullptr) return CE_ERROR_SUCCESS;
        const DWORD room = *cbData;
        *cbData = static_cast<DWORD>(value.data.size());
        if (data == nullptr) return CE_ERROR_SUCCESS;
        if (room < value.data.size()) Fail(CE_ERROR_MORE_DATA);
        std::memcpy(data, value.data.data(), value.data.size());
        return CE_ERROR_SUCCESS;
    }
    Fail(CE_ERROR_FILE_NOT_FOUND);
}

LONG CloseKey(HKEY key) {
    if (CurrentRegistry()->Root(key) != nullptr) return CE_ERROR_SUCCESS;
    const auto handle = reinterpret_cast<HANDLE>(key);
    if (FindHandle<OpenRegistryKey>(handle) == nullptr) Fail(CE_ERROR_INVALID_HANDLE);
    RemoveHandle(handle);
    return CE_ERROR_SUCCESS;
}

}  // namespace ceemu
