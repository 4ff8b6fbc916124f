#pragma once

#include "platform/registry/Hive.h"
#include "platform/registry/Registry.h"

#include <memory>

// Makes many registry calls on one hive one change: other processes and
// threads see all of them or none, and a crash in between leaves none.
//
//   RegTransaction tx(HKEY_CURRENT_USER);
//   ... RegCreateKeyExA / RegSetValueExA / RegDeleteTreeA on that hive ...
//   LONG rc = tx.Commit();   // or let it go out of scope to take it all back
//
// While it is open the hive belongs to this thread; other threads' calls on
// the hive wait. Create, commit and destroy it on the same thread. A call
// that fails inside takes back its own changes only; the batch still commits
// the others unless the failure was the file's (then Commit fails).
// Open at most one per thread at a time: two threads each holding one hive
// and waiting for the other's would wait for ever.
class RegTransaction {
public:
    explicit RegTransaction(HKEY anyKeyOfTheHive);
    ~RegTransaction();
    RegTransaction(const RegTransaction&) = delete;
    RegTransaction& operator=(const RegTransaction&) = delete;

    // ERROR_SUCCESS when the transaction is open.
    LONG Status() const { return m_status; }
    LONG Commit();
    void Rollback();

private:
    std::shared_ptr<CHive> m_hive;
    LONG m_status;
    bool m_open = false;
};
