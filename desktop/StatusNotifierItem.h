#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

// The tray icon as a StatusNotifierItem of the program's own, for a desktop whose
// StatusNotifier host registers after the program has started. Qt decides once per process,
// when the first tray icon is made, whether such a host exists; a program that started before
// the panel would otherwise never show its icon there.
//
// The item has no exported menu: hosts ask for it with ContextMenu(x, y), and the popup is
// the tray's own. Balloons go out as desktop notifications.

// One icon image of the protocol: width, height, ARGB32 in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip);

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

class CStatusNotifierItem : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
    static constexpr const char* kItemPath = "/StatusNotifierItem";

    explicit CStatusNotifierItem(QObject* parent = nullptr);
    ~CStatusNotifierItem() override;
    CStatusNotifierItem(const CStatusNotifierItem&) = delete;
    CStatusNotifierItem& operator=(const CStatusNotifierItem&) = delete;

    // Takes a service name of its own and asks the watcher to show the item; the answer is not
    // waited for. False when the bus refused the name or the object.
    bool Register();
    const QString& ServiceName() const { return m_service; }

    void SetIcon(const QIcon& icon);
    void SetToolTip(const QString& text);
    // A desktop notification; nothing waits for the notification server.
    void ShowMessage(const QString& title, const QString& text, int timeoutMs);

    const SniPixmaps& IconPixmap() const { return m_pixmaps; }
    SniToolTip ToolTip() const;
    const QString& Title() const { return m_title; }

signals:
    // The host's requests: a primary click, and the popup at a screen position.
    void Activated();
    void ContextMenuRequested(int x, int y);

    void NewIcon();
    void NewToolTip();

private:
    QString m_service;
    QString m_title;
    SniPixmaps m_pixmaps;
    // The pixmaps of each icon shown so far, by its cache key: the busy
    // animation cycles through a few frames and renders each once.
    QHash<qint64, SniPixmaps> m_rendered;
    bool m_registered = false;
};

// The org.kde.StatusNotifierItem interface of a CStatusNotifierItem.
class CStatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconName READ IconName)
    Q_PROPERTY(SniPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ IconName)
    Q_PROPERTY(SniPixmaps OverlayIconPixmap READ NoPixmaps)
    Q_PROPERTY(QString AttentionIconName READ IconName)
    Q_PROPERTY(SniPixmaps AttentionIconPixmap READ NoPixmaps)
    Q_PROPERTY(SniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
public:
    explicit CStatusNotifierItemAdaptor(CStatusNotifierItem* item);

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return QStringLiteral("velkora-certmgr"); }
    QString Title() const { return m_item->Title(); }
    QString Status() const { return QStringLiteral("Active"); }
    int WindowId() const { return 0; }
    QString IconName() const { return {}; }
    SniPixmaps IconPixmap() const { return m_item->IconPixmap(); }
    SniPixmaps NoPixmaps() const { return {}; }
    SniToolTip ToolTip() const { return m_item->ToolTip(); }
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    CStatusNotifierItem* m_item;
};
