#pragma once

#include <QDBusServiceWatcher>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Balloon icon kinds.
inline constexpr uint32_t NIIF_NONE = 0;
inline constexpr uint32_t NIIF_INFO = 1;
inline constexpr uint32_t NIIF_WARNING = 2;
inline constexpr uint32_t NIIF_ERROR = 3;

// One icon in the desktop's notification area: its icon and tooltip, balloon texts, an
// animation that cycles through a list of icons on a timer, the popup menu of a right click and
// the menu's default command on a double click.
//
// Where the desktop has no tray host (the offscreen platform, a bare X server, a session before
// its panel is up) the first add fails and the icon is "add pending": changes are kept, and the
// icon is added when a tray host appears. A tray host that restarts gets the icon back. Qt
// looks for a StatusNotifier host only once per process; one that registers later gets the
// icon as a StatusNotifierItem of the program's own.
//
// All calls belong to the thread that created the object (the user-interface thread); other
// threads go through CTrayIconSink, which hands their calls over.
class CStatusNotifierItem;

class CSystemTray : public QObject {
    Q_OBJECT
public:
    static constexpr int kAnimationTimerId = 4567;
    static constexpr int kMaxTipLength = 128; // with the terminator: 127 characters shown
    static constexpr int kMaxBalloonText = 255;
    static constexpr int kMaxBalloonTitle = 63;

    // What the last balloon showed (for the record and for tests).
    struct Balloon {
        QString text;
        QString title;
        uint32_t icon = NIIF_NONE;
        uint32_t timeoutMs = 0;
    };

    explicit CSystemTray(QObject* parent = nullptr);
    ~CSystemTray() override;
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Adds the icon. `owner` receives nothing directly (commands go out as the signal Command)
    // and `callbackMessage` is kept for the record: the desktop delivers clicks itself. `id`
    // also names the menu resource of the popup. False when the platform cannot have tray icons
    // or the add failed (then add pending is set).
    bool CreateTrayIcon(QObject* owner, uint32_t callbackMessage, const QString& toolTip,
                        const QIcon& icon, uint32_t id, bool hidden = false,
                        const QString& balloonText = {}, const QString& balloonTitle = {},
                        uint32_t balloonIcon = NIIF_NONE, uint32_t balloonTimeoutSeconds = 10);

    bool ChangeIcon(const QIcon& icon);
    // Loads an icon resource (IconPainter.h); false for an unknown id.
    bool ChangeIcon(uint32_t resourceId);
    QIcon GetIcon() const { return m_icon; }
    bool SetTooltipText(const QString& text);
    QString GetTooltipText() const { return m_toolTip; }

    // Replaces the animation list; false (list emptied) when memory runs out.
    bool SetAnimationIcons(const std::vector<QIcon>& icons);
    // False with an empty icon list. `periodSeconds` 0 or 0xFFFFFFFF: until stopped.
    bool StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds);
    // Whether an animation timer was stopped; the icon from before the animation returns.
    bool StopIconAnimation();
    bool IsAnimating() const { return m_timerId != 0; }
    std::size_t CurrentFrame() const { return m_currentFrame; }

    // Text cut to 255 characters, title to 63. False where balloons are not supported or the
    // icon is not in the tray.
    bool ShowBalloonTip(const QString& text, const QString& title = {}, uint32_t icon = NIIF_NONE,
                        uint32_t timeoutSeconds = 10);
    // Takes a balloon down.
    bool DismissBalloonTip();
    const Balloon& LastBalloon() const { return m_lastBalloon; }

    // The command of a double click: `item` is a command id, or with `byPosition` the position
    // of the popup's entry. False when the popup is missing.
    bool SetDefaultMenuItem(uint32_t item, bool byPosition);

    // Removes the icon from the tray (it is shown again only by a new CreateTrayIcon).
    bool RemoveIcon();
    // A pending add is tried again; the tray host appearing or restarting does this.
    bool RetryPendingAdd();
    // The tray host came (back): the icon is to be added again.
    void OnTaskbarCreated();

    // A click on the icon; 0 when it could not be handled (no menu, nobody for the command).
    virtual int HandleTrayMessage(QSystemTrayIcon::ActivationReason reason);
    // Called with the popup before it opens, after the owner had its say.
    virtual void AdjustMenu(QMenu* popup);

    bool IsEnabled() const { return m_enabled; }
    bool IsHidden() const { return m_hidden; }
    bool IsRemoved() const { return m_removed; }
    bool IsAddPending() const { return m_addPending; }
    bool BalloonsSupported() const { return m_balloonsSupported; }
    uint32_t Id() const { return m_id; }
    QMenu* Menu() const { return m_menu.get(); }
    QSystemTrayIcon& TrayIcon() { return m_tray; }

    // Whether the desktop has a tray host now; tests replace the probe.
    void SetTrayAvailableProbe(std::function<bool()> probe);

    // The program's own StatusNotifierItem while it stands in for Qt's icon (a StatusNotifier
    // host that registered after the start); null otherwise.
    CStatusNotifierItem* StatusNotifierItem() const { return m_sni.get(); }

signals:
    // A menu command for the owner. Commands of a double click are posted: they arrive from
    // the event loop, after the click's handler has returned.
    void Command(int id);
    // The popup is about to open: the owner sets its texts.
    void InitMenuPopup(QMenu* popup);

private slots:
    // The StatusNotifier watcher appeared or announced a host.
    void OnStatusNotifierHost();

private:
    bool AddIcon();
    void WatchStatusNotifierHost();
    void LoadMenu(uint32_t id);
    bool ApplyDefaultMenuItem();
    int CommandAtPosition(uint32_t position) const;
    void OnMenuAboutToShow();
    void OnAnimationTick();
    void StepAnimation();
    void WatchTrayHost();
    void SendBalloon();

    QSystemTrayIcon m_tray;
    std::unique_ptr<QMenu> m_menu;

    // The icon record.
    uint32_t m_id = 0;
    uint32_t m_callbackMessage = 0;
    QIcon m_icon;
    uint32_t m_iconResource = 0; // the resource last loaded by number
    QString m_toolTip;
    Balloon m_balloon; // the balloon of the next add or modify; cleared once sent
    Balloon m_lastBalloon;

    bool m_enabled = false;
    bool m_hidden = true;
    bool m_removed = true;
    bool m_addPending = false;
    bool m_createdHidden = false;
    bool m_balloonsSupported = false;
    bool m_trayWasAvailable = false;
    bool m_notifications = false; // balloons are desktop notifications
    std::function<bool()> m_trayAvailable;
    QTimer m_trayWatch;
    QDBusServiceWatcher m_sniWatcher;
    std::unique_ptr<CStatusNotifierItem> m_sni;

    std::vector<QIcon> m_icons;
    QTimer m_animationTimer;
    int m_timerId = 0;
    std::size_t m_currentFrame = 0;
    std::chrono::steady_clock::time_point m_animationStart;
    uint32_t m_animationPeriod = 0;
    QIcon m_savedIcon;

    uint32_t m_defaultItem = 0;
    bool m_defaultByPosition = true;
};
