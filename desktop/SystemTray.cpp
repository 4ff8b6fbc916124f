#include "desktop/SystemTray.h"

#include "desktop/StatusNotifierItem.h"

#include "platform/qt/UiLog.h"
#include "platform/system/SysInfo.h"
#include "res/MenuResource.h"
#include "res/ResourceIcon.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMetaMethod>

#include <algorithm>
#include <new>
#include <string>

namespace {

// How often the tray host is looked for while the icon waits for one, and looked after while
// it has one (Qt puts the icon back itself; the flags follow).
constexpr int kTrayWatchMs = 3000;
// The shortest frame: a zero interval would turn the animation into a busy loop.
constexpr uint32_t kMinFrameMs = 10;

QSystemTrayIcon::MessageIcon ToQt(uint32_t kind) {
    switch (kind) {
    case NIIF_INFO:
        return QSystemTrayIcon::Information;
    case NIIF_WARNING:
        return QSystemTrayIcon::Warning;
    case NIIF_ERROR:
        return QSystemTrayIcon::Critical;
    default:
        return QSystemTrayIcon::NoIcon;
    }
}

// At most `limit` UTF-16 units, without leaving half of a surrogate pair at the end.
QString Cut(const QString& text, int limit) {
    if (text.size() <= limit) {
        return text;
    }
    const qsizetype end = text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit;
    return text.left(end);
}

// Whether the desktop's tray is a StatusNotifier host, which Qt then prefers over XEmbed; its
// balloons are desktop notifications, which an empty balloon cannot take down.
bool StatusNotifierTray() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() != nullptr &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

const char* BalloonIconName(uint32_t kind) {
    static const char* const names[] = {"none", "information", "warning", "error"};
    return kind <= NIIF_ERROR ? names[kind] : names[0];
}

} // namespace

CSystemTray::CSystemTray(QObject* parent)
    : QObject(parent), m_trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
    m_animationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_animationTimer, &QTimer::timeout, this, &CSystemTray::OnAnimationTick);
    m_trayWatch.setTimerType(Qt::VeryCoarseTimer);
    m_trayWatch.setInterval(kTrayWatchMs);
    connect(&m_trayWatch, &QTimer::timeout, this, &CSystemTray::WatchTrayHost);
    connect(&m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { HandleTrayMessage(reason); });
}

CSystemTray::~CSystemTray() {
    m_animationTimer.stop();
    m_trayWatch.stop();
    RemoveIcon();
    m_icons.clear();
    m_tray.setContextMenu(nullptr);
}

void CSystemTray::SetTrayAvailableProbe(std::function<bool()> probe) {
    m_trayAvailable = std::move(probe);
}

bool CSystemTray::CreateTrayIcon(QObject* /*owner*/, uint32_t callbackMessage,
                                 const QString& toolTip, const QIcon& icon, uint32_t id,
                                 bool hidden, const QString& balloonText,
                                 const QString& balloonTitle, uint32_t balloonIcon,
                                 uint32_t balloonTimeoutSeconds) {
    // Tray icons came with version 4, balloons with the NT family's version 5.
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    const bool known = GetVersionExA(&version) != FALSE;
    m_enabled = known && version.dwMajorVersion >= 4;
    if (!m_enabled) {
        return false;
    }
    m_balloonsSupported =
        version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5;

    m_id = id;
    m_callbackMessage = callbackMessage;
    m_icon = icon;
    m_toolTip = Cut(toolTip, kMaxTipLength - 1);
    LoadMenu(id);
    if (m_balloonsSupported && !balloonText.isEmpty()) {
        m_balloon = {Cut(balloonText, kMaxBalloonText), Cut(balloonTitle, kMaxBalloonTitle),
                     balloonIcon, balloonTimeoutSeconds * 1000};
    }
    m_createdHidden = hidden;
    m_notifications = StatusNotifierTray();

    m_tray.setIcon(m_icon);
    m_tray.setToolTip(m_toolTip);
    m_tray.setContextMenu(m_menu.get());
    m_trayWatch.start();
    WatchStatusNotifierHost();
    if (hidden) {
        m_balloon = {};
        return true;
    }
    const bool added = AddIcon();
    if (!added && m_notifications) {
        // The host registered after Qt had looked for one.
        OnStatusNotifierHost();
    }
    return added || m_sni != nullptr;
}

void CSystemTray::WatchStatusNotifierHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !m_sniWatcher.watchedServices().isEmpty()) {
        return;
    }
    const QString watcher = QString::fromLatin1(CStatusNotifierItem::kWatcherService);
    m_sniWatcher.setConnection(bus);
    m_sniWatcher.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    m_sniWatcher.addWatchedService(watcher);
    connect(&m_sniWatcher, &QDBusServiceWatcher::serviceRegistered, this,
            &CSystemTray::OnStatusNotifierHost);
    bus.connect(watcher, QString::fromLatin1(CStatusNotifierItem::kWatcherPath), watcher,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(OnStatusNotifierHost()));
}

void CSystemTray::OnStatusNotifierHost() {
    if (!m_enabled || m_createdHidden) {
        return;
    }
    if (m_sni) {
        // A new watcher (the panel restarted) does not know the item yet.
        m_sni->Register();
        return;
    }
    if (!m_addPending) {
        return; // Qt's own icon is in a tray
    }
    auto item = std::make_unique<CStatusNotifierItem>();
    item->SetIcon(m_icon);
    item->SetToolTip(m_toolTip);
    connect(item.get(), &CStatusNotifierItem::Activated, this,
            [this] { HandleTrayMessage(QSystemTrayIcon::DoubleClick); });
    connect(item.get(), &CStatusNotifierItem::ContextMenuRequested, this, [this](int x, int y) {
        if (m_menu) {
            m_menu->popup(QPoint(x, y));
        }
    });
    if (!item->Register()) {
        return;
    }
    m_sni = std::move(item);
    m_notifications = true;
    m_addPending = m_removed = m_hidden = false;
    uilog::Append("tray", {"statusnotifier"});
    SendBalloon();
}

bool CSystemTray::AddIcon() {
    m_tray.show();
    const bool added = m_trayAvailable();
    if (added) {
        m_sni.reset(); // Qt's own icon takes over
    }
    m_trayWasAvailable = added;
    m_removed = m_hidden = m_addPending = !added;
    // The greeting goes out with the first add only.
    SendBalloon();
    return added;
}

void CSystemTray::LoadMenu(uint32_t id) {
    const auto items = LoadMenuResource(id);
    if (items.empty()) {
        m_menu.reset();
        return;
    }
    m_menu = std::make_unique<QMenu>();
    for (const MenuItemResource& item : items) {
        if (item.command == 0) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(QString::fromUtf8(item.text));
        action->setData(item.command);
    }
    connect(m_menu.get(), &QMenu::aboutToShow, this, &CSystemTray::OnMenuAboutToShow);
    connect(m_menu.get(), &QMenu::triggered, this, [this](QAction* action) {
        if (const int command = action->data().toInt(); command > 0) {
            emit Command(command);
        }
    });
    ApplyDefaultMenuItem();
}

bool CSystemTray::ChangeIcon(const QIcon& icon) {
    if (!m_enabled) {
        return false;
    }
    m_icon = icon;
    // Qt keeps the icon of a hidden or pending tray icon and shows it when the icon appears.
    m_tray.setIcon(m_icon);
    if (m_sni) {
        m_sni->SetIcon(m_icon);
    }
    return true;
}

bool CSystemTray::ChangeIcon(uint32_t resourceId) {
    const QIcon icon = LoadIconResource(resourceId);
    if (icon.isNull()) {
        return false;
    }
    if (resourceId != m_iconResource) {
        // The resting icons are what the user reads the state from; the animation's frames
        // come as handles and are not recorded.
        m_iconResource = resourceId;
        uilog::Append("icon", {std::to_string(resourceId)});
    }
    return ChangeIcon(icon);
}

bool CSystemTray::SetTooltipText(const QString& text) {
    if (!m_enabled) {
        return false;
    }
    m_toolTip = Cut(text, kMaxTipLength - 1);
    m_tray.setToolTip(m_toolTip);
    if (m_sni) {
        m_sni->SetToolTip(m_toolTip);
    }
    return true;
}

bool CSystemTray::SetAnimationIcons(const std::vector<QIcon>& icons) {
    try {
        m_icons = icons;
    } catch (const std::bad_alloc&) {
        m_icons.clear();
        return false;
    }
    return true;
}

bool CSystemTray::StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds) {
    if (m_icons.empty()) {
        return false;
    }
    StopIconAnimation();
    m_currentFrame = 0;
    m_animationStart = std::chrono::steady_clock::now();
    m_animationPeriod = periodSeconds;
    m_savedIcon = m_icon;
    m_animationTimer.start(
        static_cast<int>(std::clamp<uint32_t>(msPerFrame, kMinFrameMs, 0x7FFFFFFF)));
    m_timerId = kAnimationTimerId;
    return true;
}

bool CSystemTray::StopIconAnimation() {
    const bool killed = m_timerId != 0 && m_animationTimer.isActive();
    m_animationTimer.stop();
    m_timerId = 0;
    if (!m_savedIcon.isNull()) {
        ChangeIcon(m_savedIcon);
        m_savedIcon = QIcon();
    }
    return killed;
}

void CSystemTray::OnAnimationTick() {
    // 0xFFFFFFFF seconds is as good as no end.
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - m_animationStart)
                             .count();
    if (m_animationPeriod != 0 && elapsed > static_cast<long long>(m_animationPeriod)) {
        StopIconAnimation();
        return;
    }
    StepAnimation();
}

void CSystemTray::StepAnimation() {
    if (m_icons.empty()) {
        return;
    }
    m_currentFrame = (m_currentFrame + 1) % m_icons.size();
    ChangeIcon(m_icons[m_currentFrame]);
}

bool CSystemTray::ShowBalloonTip(const QString& text, const QString& title, uint32_t icon,
                                 uint32_t timeoutSeconds) {
    if (!m_balloonsSupported) {
        return false;
    }
    m_balloon = {Cut(text, kMaxBalloonText), Cut(title, kMaxBalloonTitle), icon,
                 timeoutSeconds * 1000};
    const bool shown = !m_removed;
    SendBalloon();
    return shown;
}

void CSystemTray::SendBalloon() {
    if (m_balloon.text.isEmpty()) {
        return;
    }
    m_lastBalloon = m_balloon;
    uilog::Append("balloon", {BalloonIconName(m_balloon.icon), m_balloon.title.toStdString(),
                              m_balloon.text.toStdString()});
    const int timeoutMs = static_cast<int>(std::min<uint32_t>(m_balloon.timeoutMs, 0x7FFFFFFF));
    if (m_sni) {
        m_sni->ShowMessage(m_balloon.title, m_balloon.text, timeoutMs);
    } else if (!m_removed) {
        m_tray.showMessage(m_balloon.title, m_balloon.text, ToQt(m_balloon.icon), timeoutMs);
    }
    // Later changes of the icon must not bring the same balloon up again.
    m_balloon.text.clear();
}

bool CSystemTray::DismissBalloonTip() {
    if (!m_balloonsSupported) {
        return false;
    }
    m_balloon.timeoutMs = 1000;
    if (m_removed) {
        return false;
    }
    // With the text cleared after the balloon went out, an empty balloon takes Qt's own
    // balloon down; a desktop notification goes by its own time-out.
    if (!m_notifications) {
        m_tray.showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 1000);
    }
    return true;
}

bool CSystemTray::SetDefaultMenuItem(uint32_t item, bool byPosition) {
    if (m_defaultItem == item && m_defaultByPosition == byPosition) {
        return true;
    }
    m_defaultItem = item;
    m_defaultByPosition = byPosition;
    return ApplyDefaultMenuItem();
}

bool CSystemTray::ApplyDefaultMenuItem() {
    if (!m_menu) {
        return false;
    }
    QAction* chosen = nullptr;
    const auto actions = m_menu->actions();
    if (m_defaultByPosition) {
        chosen = m_defaultItem < static_cast<uint32_t>(actions.size())
                     ? actions[static_cast<qsizetype>(m_defaultItem)]
                     : nullptr;
    } else {
        for (QAction* action : actions) {
            if (action->data().toInt() == static_cast<int>(m_defaultItem)) {
                chosen = action;
            }
        }
    }
    m_menu->setDefaultAction(chosen != nullptr && !chosen->isSeparator() ? chosen : nullptr);
    return true;
}

int CSystemTray::CommandAtPosition(uint32_t position) const {
    if (!m_menu) {
        return -1;
    }
    const auto actions = m_menu->actions();
    if (position >= static_cast<uint32_t>(actions.size())) {
        return -1;
    }
    const QAction* action = actions[static_cast<qsizetype>(position)];
    return action->isSeparator() ? -1 : action->data().toInt();
}

void CSystemTray::OnMenuAboutToShow() {
    ApplyDefaultMenuItem();
    emit InitMenuPopup(m_menu.get());
    AdjustMenu(m_menu.get());
}

void CSystemTray::AdjustMenu(QMenu* /*popup*/) {}

int CSystemTray::HandleTrayMessage(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Context:
        // The desktop opens the popup itself; its texts are set in OnMenuAboutToShow.
        return m_menu ? 1 : 0;
    case QSystemTrayIcon::DoubleClick: {
        if (!isSignalConnected(QMetaMethod::fromSignal(&CSystemTray::Command))) {
            return 0;
        }
        const int command = m_defaultByPosition ? CommandAtPosition(m_defaultItem)
                                                : static_cast<int>(m_defaultItem);
        if (command <= 0) {
            return 0;
        }
        QMetaObject::invokeMethod(
            this, [this, command] { emit Command(command); }, Qt::QueuedConnection);
        return 1;
    }
    default:
        return 1;
    }
}

bool CSystemTray::RemoveIcon() {
    m_sni.reset();
    bool removed = true;
    if (!m_removed) {
        m_tray.hide();
        m_removed = m_hidden = true;
    } else {
        removed = false;
    }
    m_addPending = false;
    return removed;
}

bool CSystemTray::RetryPendingAdd() {
    if (!m_addPending || m_createdHidden) {
        return false;
    }
    return AddIcon();
}

void CSystemTray::OnTaskbarCreated() {
    if (!m_enabled || m_createdHidden) {
        return;
    }
    // Whatever the flags said, the new tray host does not have the icon yet.
    m_addPending = true;
    RetryPendingAdd();
}

void CSystemTray::WatchTrayHost() {
    const bool available = m_trayAvailable();
    if (available && !m_trayWasAvailable) {
        OnTaskbarCreated();
    } else if (!available && m_trayWasAvailable && !m_removed) {
        // The tray host went away with our icon.
        m_removed = m_hidden = m_addPending = true;
    }
    m_trayWasAvailable = available;
}
