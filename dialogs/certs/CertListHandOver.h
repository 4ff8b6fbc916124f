#pragma once

#include "monitor/events/MonitorSinks.h"

#include <atomic>
#include <functional>

// The one way by which the monitor thread and the propagation reach the open certificates
// dialog: both ask for a refresh here, on whatever thread changed the list, and the requests
// that come while one is still waiting become that one. `post` hands a refresh to the
// user-interface thread without waiting for it; the dialog calls TakeRequest there before it
// reads the list, so a change made after that reading asks for a new refresh.
class CCertListHandOver final : public ICertListView {
public:
    explicit CCertListHandOver(std::function<void()> post);
    ~CCertListHandOver() override;
    CCertListHandOver(const CCertListHandOver&) = delete;
    CCertListHandOver& operator=(const CCertListHandOver&) = delete;

    // Becomes the open dialog of the monitor and of the propagation (Detach undoes it and
    // waits for a request in progress).
    void Attach();
    void Detach();

    // Any thread: a refresh is wanted.
    void FillList() override;
    // User-interface thread, before the refill: true when a refresh was wanted.
    bool TakeRequest();

private:
    std::function<void()> m_post;
    std::atomic<bool> m_requested{false};
    bool m_attached = false;
};
