#include "platform/system/ServiceControl.h"

#include "platform/registry/RegKey.h"
#include "platform/system/LastError.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

struct CScEntry {
    bool manager = false;
    std::string service; // for a service handle: its name
    DWORD access = 0;
};

struct CScTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, CScEntry> entries;
    uintptr_t next = 0x100;
};

// Never destroyed: a handle closed from a static destructor still finds it.
CScTable& Table() {
    static CScTable* const table = std::make_unique<CScTable>().release();
    return *table;
}

SC_HANDLE AddEntry(CScEntry entry) {
    CScTable& table = Table();
    const std::lock_guard lock(table.mutex);
    while (table.entries.count(table.next) != 0 || table.next == 0) {
        table.next += 4;
    }
    const uintptr_t value = table.next;
    table.next += 4;
    table.entries.emplace(value, std::move(entry));
    return reinterpret_cast<SC_HANDLE>(value);
}

bool FindEntry(SC_HANDLE handle, CScEntry& out) {
    CScTable& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto found = table.entries.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.entries.end()) {
        return false;
    }
    out = found->second;
    return true;
}

std::string ServiceKeyPath(const std::string& name) {
    return std::string(kServicesKey) + "\\" + name;
}

// A REG_DWORD of the service key, or `fallback` when it is missing or not 4 bytes.
DWORD ReadNumber(HKEY key, const char* name, DWORD fallback) {
    uint32_t value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return fallback;
    }
    return value;
}

} // namespace

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        SetLastError(ERROR_INVALID_PARAMETER); // only this machine is served
        return nullptr;
    }
    if (lpDatabaseName != nullptr && std::strcmp(lpDatabaseName, "ServicesActive") != 0) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    const LONG hive = RegCheckHive(HKEY_LOCAL_MACHINE);
    if (hive != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(hive));
        return nullptr;
    }
    CScEntry entry;
    entry.manager = true;
    entry.access = dwDesiredAccess;
    SetLastError(ERROR_SUCCESS);
    return AddEntry(std::move(entry));
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    CScEntry manager;
    if (!FindEntry(hSCManager, manager) || !manager.manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpServiceName == nullptr || *lpServiceName == '\0' ||
        std::strpbrk(lpServiceName, "\\/") != nullptr || std::strlen(lpServiceName) > 256) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    RegKey key;
    const LONG opened =
        key.Open(HKEY_LOCAL_MACHINE, ServiceKeyPath(lpServiceName).c_str(), KEY_READ);
    if (opened != ERROR_SUCCESS) {
        SetLastError(opened == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST
                                                    : static_cast<DWORD>(opened));
        return nullptr;
    }
    CScEntry entry;
    entry.service = lpServiceName;
    entry.access = dwDesiredAccess;
    SetLastError(ERROR_SUCCESS);
    return AddEntry(std::move(entry));
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    CScEntry service;
    if (!FindEntry(hService, service) || service.manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpServiceStatus == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((service.access & SERVICE_QUERY_STATUS) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Read afresh each time: the state is whatever the table says now.
    RegKey key;
    const LONG opened =
        key.Open(HKEY_LOCAL_MACHINE, ServiceKeyPath(service.service).c_str(), KEY_READ);
    if (opened != ERROR_SUCCESS) {
        SetLastError(opened == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST
                                                    : static_cast<DWORD>(opened));
        return FALSE;
    }
    SERVICE_STATUS status{};
    status.dwServiceType = ReadNumber(key.get(), "Type", SERVICE_WIN32_SHARE_PROCESS);
    status.dwCurrentState = ReadNumber(key.get(), "CurrentState", SERVICE_STOPPED);
    *lpServiceStatus = status;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
    CScTable& table = Table();
    const std::lock_guard lock(table.mutex);
    if (table.entries.erase(reinterpret_cast<uintptr_t>(hSCObject)) != 1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
