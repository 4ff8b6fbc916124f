#pragma once

#include <QSystemTrayIcon>

class QMenu;

// The command that a single activation of the tray icon runs: on a StatusNotifier tray, where
// the desktop reports a click as one activation and never a double click, the tray menu's
// default command; 0 elsewhere (an XEmbed tray reports the double click itself).
int DefaultCommandOnActivation(QSystemTrayIcon::ActivationReason reason, const QMenu* menu);

// Whether the session's tray is a StatusNotifier host.
bool StatusNotifierTray();
