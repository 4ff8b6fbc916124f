#include "platform/registry/Registry.h"

#include "platform/registry/HiveError.h"
#include "platform/registry/KeyPath.h"
#include "platform/registry/KeyTable.h"

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

// Rights that need a writable hive file.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | KEY_DELETE | 0x00040000 | 0x00080000;

std::string ValueName(LPCSTR name) {
    return name == nullptr ? std::string() : std::string(name);
}

// From the key `from` down the path; the key `from` must still exist.
LONG Walk(CHiveDb& db, const CKeyRef& from, const std::vector<std::string>& parts, int64_t& id) {
    if (!from.predefined) {
        const LONG exists = db.KeyExists(from.id);
        if (exists != ERROR_SUCCESS) {
            return exists == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : exists;
        }
    }
    id = from.id;
    for (const std::string& part : parts) {
        if (const LONG error = db.FindChild(id, FoldRegName(part), id)) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

LONG CheckKey(CHiveDb& db, const CKeyRef& key) {
    int64_t id = 0;
    return Walk(db, key, {}, id);
}

LONG OpenFound(const CKeyRef& parent, int64_t id, REGSAM sam, HKEY* phkResult) {
    CKeyRef ref;
    ref.hive = parent.hive;
    ref.id = id;
    ref.access = sam;
    *phkResult = AddKeyHandle(std::move(ref));
    return ERROR_SUCCESS;
}

// Copies `data` out the way RegQueryValueExA and RegEnumValueA do.
LONG CopyData(const std::vector<BYTE>& data, LPBYTE lpData, LPDWORD lpcbData) {
    const DWORD size = static_cast<DWORD>(data.size());
    if (lpData != nullptr) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size != 0) {
            std::memcpy(lpData, data.data(), size);
        }
    }
    if (lpcbData != nullptr) {
        *lpcbData = size;
    }
    return ERROR_SUCCESS;
}

// Copies a name with its NUL into a buffer of *lpcch characters.
LONG CopyName(const std::string& name, LPSTR buffer, LPDWORD lpcch) {
    if (name.size() + 1 > *lpcch) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *lpcch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

} // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   HKEY* phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    CKeyRef parent;
    if (const LONG error = ResolveKey(hKey, parent)) {
        return error;
    }
    std::vector<std::string> parts;
    if (const LONG error = SplitRegPath(lpSubKey, parts)) {
        return error;
    }
    int64_t id = CHiveDb::kRootId;
    bool absent = false;
    const LONG error =
        parent.hive->Read([&](CHiveDb& db) { return Walk(db, parent, parts, id); }, absent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (absent && !parts.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if ((samDesired & kWriteRights) != 0 && !parent.hive->CanWrite()) {
        return ERROR_ACCESS_DENIED;
    }
    return OpenFound(parent, id, samDesired, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired, const void* /*lpSecurityAttributes*/,
                     HKEY* phkResult, LPDWORD lpdwDisposition) {
    if (phkResult == nullptr || lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    CKeyRef parent;
    if (const LONG error = ResolveKey(hKey, parent)) {
        return error;
    }
    std::vector<std::string> parts;
    if (const LONG error = SplitRegPath(lpSubKey, parts)) {
        return error;
    }
    const bool wantsWrite = (samDesired & kWriteRights) != 0;

    // An existing key opens without write access to the hive, as long as the
    // caller asks for none.
    int64_t id = CHiveDb::kRootId;
    bool absent = false;
    LONG error =
        parent.hive->Read([&](CHiveDb& db) { return Walk(db, parent, parts, id); }, absent);
    if (error == ERROR_SUCCESS && !(absent && !parts.empty())) {
        if (wantsWrite && !parent.hive->CanWrite()) {
            return ERROR_ACCESS_DENIED;
        }
        if (lpdwDisposition != nullptr) {
            *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        }
        return OpenFound(parent, id, samDesired, phkResult);
    }
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
        return error;
    }
    if ((parent.access & KEY_CREATE_SUB_KEY) == 0 || !parent.hive->CanWrite()) {
        return ERROR_ACCESS_DENIED;
    }
    bool created = false;
    error = parent.hive->Write([&](CHiveDb& db) {
        created = false;
        if (const LONG missing = Walk(db, parent, {}, id)) {
            return missing;
        }
        for (const std::string& part : parts) {
            const LONG found = db.FindChild(id, FoldRegName(part), id);
            if (found == ERROR_FILE_NOT_FOUND) {
                if (const LONG added = db.AddChild(id, part, id)) {
                    return added;
                }
                created = true;
            } else if (found != ERROR_SUCCESS) {
                return found;
            }
        }
        return static_cast<LONG>(ERROR_SUCCESS);
    });
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return OpenFound(parent, id, samDesired, phkResult);
}

LONG RegCloseKey(HKEY hKey) {
    return RemoveKeyHandle(hKey);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD /*lpReserved*/, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::string folded = FoldRegName(ValueName(lpValueName));
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool absent = false;
    const LONG error = key.hive->Read(
        [&](CHiveDb& db) {
            if (const LONG missing = CheckKey(db, key)) {
                return missing;
            }
            return db.GetValue(key.id, folded, type, data);
        },
        absent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (absent) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr) {
        *lpType = type;
    }
    return CopyData(data, lpData, lpcbData);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
    if (lpData == nullptr && cbData != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = ValueName(lpValueName);
    if (name.size() > REG_MAX_VALUE_NAME || cbData > 0xffffffffu) {
        return ERROR_INVALID_PARAMETER;
    }
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    if ((key.access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return key.hive->Write([&](CHiveDb& db) {
        if (const LONG missing = CheckKey(db, key)) {
            return missing;
        }
        return db.SetValue(key.id, name, dwType, lpData, cbData);
    });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    if ((key.access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::string folded = FoldRegName(ValueName(lpValueName));
    bool absent = false;
    LONG error = key.hive->Read([&](CHiveDb& db) { return CheckKey(db, key); }, absent);
    if (error != ERROR_SUCCESS || absent) {
        return absent ? ERROR_FILE_NOT_FOUND : error;
    }
    return key.hive->Write([&](CHiveDb& db) {
        if (const LONG missing = CheckKey(db, key)) {
            return missing;
        }
        return db.DeleteValue(key.id, folded);
    });
}

namespace {

// Shared by RegDeleteKeyA and RegDeleteTreeA: finds the key first, so that a
// missing key is "not found" even in a hive this process cannot write.
LONG DeleteBelow(HKEY hKey, LPCSTR lpSubKey, bool tree) {
    CKeyRef parent;
    if (const LONG error = ResolveKey(hKey, parent)) {
        return error;
    }
    std::vector<std::string> parts;
    if (const LONG error = SplitRegPath(lpSubKey, parts)) {
        return error;
    }
    int64_t id = 0;
    bool absent = false;
    const LONG error =
        parent.hive->Read([&](CHiveDb& db) { return Walk(db, parent, parts, id); }, absent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    const bool self = parts.empty();
    if (absent) {
        return self && tree ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    if (self && !tree && parent.predefined) {
        return ERROR_ACCESS_DENIED;
    }
    return parent.hive->Write([&](CHiveDb& db) {
        if (const LONG missing = Walk(db, parent, parts, id)) {
            return missing;
        }
        if (tree) {
            // The tree below goes; the key itself too unless it is hKey.
            if (self) {
                return db.DeleteContents(id);
            }
            return db.DeleteKey(id);
        }
        bool hasChildren = false;
        if (const LONG failed = db.HasChildren(id, hasChildren)) {
            return failed;
        }
        return hasChildren ? static_cast<LONG>(ERROR_ACCESS_DENIED) : db.DeleteKey(id);
    });
}

} // namespace

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return DeleteBelow(hKey, lpSubKey, false);
}

LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    return DeleteBelow(hKey, lpSubKey, true);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                   LPDWORD /*lpReserved*/, LPSTR lpClass, LPDWORD lpcchClass,
                   void* /*lpftLastWriteTime*/) {
    if (lpName == nullptr || lpcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    std::string name;
    bool absent = false;
    const LONG error = key.hive->Read(
        [&](CHiveDb& db) {
            if (const LONG missing = CheckKey(db, key)) {
                return missing;
            }
            return db.ChildAt(key.id, dwIndex, name);
        },
        absent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (absent) {
        return ERROR_NO_MORE_ITEMS;
    }
    if (const LONG copied = CopyName(name, lpName, lpcchName)) {
        return copied;
    }
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
        lpClass[0] = '\0';
    }
    if (lpcchClass != nullptr) {
        *lpcchClass = 0;
    }
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD /*lpReserved*/, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr ||
        (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool absent = false;
    const LONG error = key.hive->Read(
        [&](CHiveDb& db) {
            if (const LONG missing = CheckKey(db, key)) {
                return missing;
            }
            return db.ValueAt(key.id, dwIndex, name, type, data);
        },
        absent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (absent) {
        return ERROR_NO_MORE_ITEMS;
    }
    if (const LONG copied = CopyName(name, lpValueName, lpcchValueName)) {
        return copied;
    }
    if (lpType != nullptr) {
        *lpType = type;
    }
    return CopyData(data, lpData, lpcbData);
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD /*lpReserved*/,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, void* lpftLastWriteTime) {
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    DWORD subKeys = 0;
    DWORD maxSubKeyLen = 0;
    DWORD values = 0;
    DWORD maxValueNameLen = 0;
    DWORD maxValueLen = 0;
    bool absent = false;
    const LONG error = key.hive->Read(
        [&](CHiveDb& db) {
            if (const LONG missing = CheckKey(db, key)) {
                return missing;
            }
            return db.KeyInfo(key.id, subKeys, maxSubKeyLen, values, maxValueNameLen, maxValueLen);
        },
        absent);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
        lpClass[0] = '\0';
    }
    for (auto [out, value] : {std::pair{lpcchClass, DWORD{0}},
                              {lpcSubKeys, subKeys},
                              {lpcbMaxSubKeyLen, maxSubKeyLen},
                              {lpcbMaxClassLen, DWORD{0}},
                              {lpcValues, values},
                              {lpcbMaxValueNameLen, maxValueNameLen},
                              {lpcbMaxValueLen, maxValueLen},
                              {lpcbSecurityDescriptor, DWORD{0}}}) {
        if (out != nullptr) {
            *out = value;
        }
    }
    if (lpftLastWriteTime != nullptr) {
        std::memset(lpftLastWriteTime, 0, 8); // a FILETIME; times are not kept
    }
    return ERROR_SUCCESS;
}

LONG RegQueryChangeStamp(HKEY hKey, uint64_t* stamp) {
    if (stamp == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CKeyRef key;
    if (const LONG error = ResolveKey(hKey, key)) {
        return error;
    }
    return key.hive->ChangeStamp(*stamp);
}

LONG RegCheckHive(HKEY root) {
    const auto hive = HiveOfRoot(root);
    return hive ? hive->Check() : ERROR_INVALID_HANDLE;
}

std::string RegGetHiveErrorText() {
    return LastHiveProblem();
}

std::string RegHivePath(HKEY root) {
    const auto hive = HiveOfRoot(root);
    return hive ? hive->Path() : std::string();
}

HKEY RegRootFromName(std::string_view name) {
    const auto is = [name](const char* candidate) {
        return name.size() == std::strlen(candidate) &&
               strncasecmp(name.data(), candidate, name.size()) == 0;
    };
    if (is("HKLM") || is("HKEY_LOCAL_MACHINE")) {
        return HKEY_LOCAL_MACHINE;
    }
    if (is("HKCU") || is("HKEY_CURRENT_USER")) {
        return HKEY_CURRENT_USER;
    }
    return nullptr;
}

const char* RegRootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (root == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    return "";
}

void RegResetForTests() {
    ResetKeyTable();
    ClearHiveProblems();
}
