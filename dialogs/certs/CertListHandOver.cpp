#include "dialogs/certs/CertListHandOver.h"

#include "monitor/CertCollection.h"
#include "monitor/events/MonitorState.h"

CCertListHandOver::CCertListHandOver(std::function<void()> post) : m_post(std::move(post)) {}

CCertListHandOver::~CCertListHandOver() {
    Detach();
}

void CCertListHandOver::Attach() {
    g_CertDialog.Set(this);
    SetCollectionChangedHandler([this] { FillList(); });
    m_attached = true;
}

void CCertListHandOver::Detach() {
    if (!m_attached) {
        return;
    }
    SetCollectionChangedHandler({});
    g_CertDialog.Set(nullptr);
    m_attached = false;
}

void CCertListHandOver::FillList() {
    if (!m_requested.exchange(true, std::memory_order_acq_rel)) {
        m_post();
    }
}

bool CCertListHandOver::TakeRequest() {
    return m_requested.exchange(false, std::memory_order_acq_rel);
}
