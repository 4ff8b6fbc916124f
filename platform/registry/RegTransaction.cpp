#include "platform/registry/RegTransaction.h"

#include "platform/registry/KeyTable.h"

RegTransaction::RegTransaction(HKEY anyKeyOfTheHive) {
    CKeyRef key;
    m_status = ResolveKey(anyKeyOfTheHive, key);
    if (m_status == ERROR_SUCCESS) {
        m_hive = key.hive;
        m_status = m_hive->BeginBatch();
        m_open = m_status == ERROR_SUCCESS;
    }
}

RegTransaction::~RegTransaction() {
    Rollback();
}

LONG RegTransaction::Commit() {
    if (!m_open) {
        return m_status == ERROR_SUCCESS ? ERROR_INVALID_HANDLE : m_status;
    }
    m_open = false;
    return m_hive->EndBatch(true);
}

void RegTransaction::Rollback() {
    if (m_open) {
        m_open = false;
        m_hive->EndBatch(false);
    }
}
