#include "dialogs/certs/KeepPainting.h"

#include <QEventLoop>
#include <QPointer>

#include <atomic>
#include <thread>

bool RunKeepingUiAlive(QWidget& window, const std::function<bool()>& operation) {
    const QPointer<QWidget> guard(&window);
    window.setEnabled(false);
    QEventLoop loop;
    std::atomic<bool> result{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        result = operation();
        finished = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // A quit that the worker posted before the loop ran is still queued for it.
    if (!finished) {
        loop.exec(QEventLoop::AllEvents);
    }
    worker.join();
    if (guard) {
        guard->setEnabled(true);
    }
    return result;
}
