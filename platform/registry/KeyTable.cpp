#include "platform/registry/KeyTable.h"

#include "platform/registry/HiveLocation.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

constexpr uintptr_t kFirstHandle = 0x100;
constexpr uintptr_t kHandleStep = 4;
constexpr uintptr_t kLastHandle = 0x7ffffff0;

struct CKeyTable {
    std::mutex mutex;
    std::shared_ptr<CHive> machine;
    std::shared_ptr<CHive> user;
    std::unordered_map<uintptr_t, CKeyRef> handles;
    uintptr_t next = kFirstHandle;
};

// Never destroyed: a handle closed from another object's static destructor
// must still find the table.
CKeyTable& Table() {
    static CKeyTable* const table = std::make_unique<CKeyTable>().release();
    return *table;
}

uintptr_t HandleValue(HKEY key) {
    return reinterpret_cast<uintptr_t>(key);
}

} // namespace

std::shared_ptr<CHive> HiveOfRoot(HKEY root) {
    CKeyTable& table = Table();
    const std::lock_guard lock(table.mutex);
    if (root == HKEY_LOCAL_MACHINE) {
        if (!table.machine) {
            table.machine = std::make_shared<CHive>(CHive::Kind::Machine, MachineHivePath());
        }
        return table.machine;
    }
    if (root == HKEY_CURRENT_USER) {
        if (!table.user) {
            table.user = std::make_shared<CHive>(CHive::Kind::User, UserHivePath());
        }
        return table.user;
    }
    return nullptr;
}

LONG ResolveKey(HKEY key, CKeyRef& out) {
    if (auto hive = HiveOfRoot(key)) {
        out.hive = std::move(hive);
        out.id = CHiveDb::kRootId;
        out.access = KEY_ALL_ACCESS;
        out.predefined = true;
        return ERROR_SUCCESS;
    }
    CKeyTable& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto found = table.handles.find(HandleValue(key));
    if (found == table.handles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    out = found->second;
    return ERROR_SUCCESS;
}

HKEY AddKeyHandle(CKeyRef ref) {
    CKeyTable& table = Table();
    const std::lock_guard lock(table.mutex);
    // Numbers are not reused until the counter wraps, and never while in use.
    while (table.handles.count(table.next) != 0) {
        table.next = table.next >= kLastHandle ? kFirstHandle : table.next + kHandleStep;
    }
    const uintptr_t value = table.next;
    table.next = table.next >= kLastHandle ? kFirstHandle : table.next + kHandleStep;
    table.handles.emplace(value, std::move(ref));
    return reinterpret_cast<HKEY>(value);
}

LONG RemoveKeyHandle(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
        return ERROR_SUCCESS; // closing a predefined key is allowed and does nothing
    }
    CKeyTable& table = Table();
    const std::lock_guard lock(table.mutex);
    return table.handles.erase(HandleValue(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void ResetKeyTable() {
    CKeyTable& table = Table();
    const std::lock_guard lock(table.mutex);
    table.handles.clear();
    table.machine.reset();
    table.user.reset();
    table.next = kFirstHandle;
}
