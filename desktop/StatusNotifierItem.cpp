#include "desktop/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

#include <atomic>

namespace {

// The sizes offered to the host, which picks the one closest to its panel.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64};
// More icons than the resting ones and the animation's frames.
constexpr qsizetype kMaxRendered = 64;

SniPixmaps PixmapsOf(const QIcon& icon) {
    SniPixmaps pixmaps;
    for (const int size : kIconSizes) {
        const QImage image =
            icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) {
            continue;
        }
        SniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.bytes.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<quint32*>(pixmap.bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                *out++ = qToBigEndian(line[x]);
            }
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

void RegisterTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    (void)registered;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.pixmaps << toolTip.title << toolTip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.pixmaps >> toolTip.title >> toolTip.text;
    argument.endStructure();
    return argument;
}

CStatusNotifierItem::CStatusNotifierItem(QObject* parent) : QObject(parent) {
    RegisterTypes();
    new CStatusNotifierItemAdaptor(this); // owned by this object, as QtDBus wants it
}

CStatusNotifierItem::~CStatusNotifierItem() {
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QString::fromLatin1(kItemPath));
        bus.unregisterService(m_service);
    }
}

bool CStatusNotifierItem::Register() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    if (!m_registered) {
        static std::atomic<int> items{0};
        m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                        .arg(QCoreApplication::applicationPid())
                        .arg(++items);
        if (!bus.registerService(m_service)) {
            return false;
        }
        if (!bus.registerObject(QString::fromLatin1(kItemPath), this,
                                QDBusConnection::ExportAdaptors)) {
            bus.unregisterService(m_service);
            return false;
        }
        m_registered = true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
        QString::fromLatin1(kWatcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    return bus.send(call);
}

void CStatusNotifierItem::SetIcon(const QIcon& icon) {
    auto rendered = m_rendered.find(icon.cacheKey());
    if (rendered == m_rendered.end()) {
        if (m_rendered.size() >= kMaxRendered) {
            m_rendered.clear(); // icons made afresh each time do not pile up
        }
        rendered = m_rendered.insert(icon.cacheKey(), PixmapsOf(icon));
    }
    m_pixmaps = *rendered;
    emit NewIcon();
}

void CStatusNotifierItem::SetToolTip(const QString& text) {
    m_title = text;
    emit NewToolTip();
}

SniToolTip CStatusNotifierItem::ToolTip() const {
    return {QString(), {}, m_title, QString()};
}

void CStatusNotifierItem::ShowMessage(const QString& title, const QString& text, int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("velkora-certmgr") << 0u << QString() << title << text << QStringList()
         << QVariantMap() << timeoutMs;
    QDBusConnection::sessionBus().send(call);
}

CStatusNotifierItemAdaptor::CStatusNotifierItemAdaptor(CStatusNotifierItem* item)
    : QDBusAbstractAdaptor(item), m_item(item) {
    setAutoRelaySignals(false);
    connect(item, &CStatusNotifierItem::NewIcon, this, &CStatusNotifierItemAdaptor::NewIcon);
    connect(item, &CStatusNotifierItem::NewToolTip, this, &CStatusNotifierItemAdaptor::NewToolTip);
    connect(item, &CStatusNotifierItem::NewToolTip, this, &CStatusNotifierItemAdaptor::NewTitle);
}

void CStatusNotifierItemAdaptor::Activate(int /*x*/, int /*y*/) {
    emit m_item->Activated();
}

void CStatusNotifierItemAdaptor::SecondaryActivate(int /*x*/, int /*y*/) {}

void CStatusNotifierItemAdaptor::ContextMenu(int x, int y) {
    emit m_item->ContextMenuRequested(x, y);
}

void CStatusNotifierItemAdaptor::Scroll(int /*delta*/, const QString& /*orientation*/) {}
