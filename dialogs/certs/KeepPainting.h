#pragma once

#include <QWidget>
#include <functional>

// Runs `operation` on a thread of its own while `window` stays disabled and the calling
// (user-interface) thread goes on handling events: painting, the minidriver's balloons and the
// tray animation are seen while the operation waits for the user or the card. Returns the
// operation's result once it has ended.
bool RunKeepingUiAlive(QWidget& window, const std::function<bool()>& operation);
