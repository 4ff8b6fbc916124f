#pragma once

#include "desktop/PinDesktop.h"
#include "desktop/PinWatcherFlags.h"

#include <functional>
#include <memory>

// Answers the system's own smart-card PIN dialog of the systems before version 6 with a
// placeholder, so that it closes without the user typing there: a worker thread looks for the
// dialog every 100 ms and types one fixed character and Enter into its PIN field.
class CPINWinFake {
public:
    virtual ~CPINWinFake() = default;
};

// The character typed into the PIN field.
inline constexpr char kPinPlaceholder = '0';

// Starts the watcher thread at the lowest priority when `settingOn` ("msPinThread") and the
// system's major version is below 6; otherwise only sets g_StopPinWatcher. True when started.
// `openDesktop` makes the thread's desktop connection (the session's by default).
using PinDesktopFactory = std::function<std::unique_ptr<CPinDesktop>()>;
bool StartPinWatcher(bool settingOn, PinDesktopFactory openDesktop = OpenSessionPinDesktop);

// Sets g_StopPinWatcher and waits, in steps of 100 ms, until the thread has ended.
void StopPinWatcher();

// The thread: one search every 100 ms until g_StopPinWatcher is set.
unsigned PinWatcherThread(CPinDesktop& desktop);

// The PIN dialog by its titles (German, English, Swedish, in this order); an empty id when
// there is none or the system's version is not 5.x.
CPinDesktop::Item FindPinDialog(CPinDesktop& desktop);

// Types the placeholder and Enter into the dialog's first text field, unless it has none or it
// is the field answered last.
void AnswerPinDialog(CPinDesktop& desktop, const CPinDesktop::Item& dialog);

// Forgets the field answered last (a new watcher run starts without one).
void ResetLastPinField();
