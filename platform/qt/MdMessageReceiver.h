#pragma once

#include <QObject>

// Receives the "UWM_MD_MESSAGE" broadcasts of the session bus (see MdMessage.h) on the thread
// that owns this object and hands them on as the signal MdMessage.
class CMdMessageReceiver : public QObject {
    Q_OBJECT
public:
    explicit CMdMessageReceiver(QObject* parent = nullptr);
    ~CMdMessageReceiver() override;

    // Subscribes on the session bus. Returns once the bus routes the requests to this process,
    // or false when there is no session bus (the program then runs on without requests).
    bool Listen();

signals:
    void MdMessage(quint32 wParam, qint64 lParam);

private slots:
    void OnBusSignal(uint wParam, qlonglong lParam);

private:
    bool m_listening = false;
};
