#pragma once

#include <memory>
#include <string>
#include <vector>

// What the PIN-dialog watcher needs of the desktop: the top-level windows of the other
// programs with their titles, a window's first text field, the keyboard focus, and keystrokes.
// One object belongs to one thread.
class CPinDesktop {
public:
    // A window or a text field of another program. `id` names it for as long as it exists;
    // `object` keeps the desktop's handle alive.
    struct Item {
        std::string id;
        std::string title;
        long process = 0; // the program's process id, where known
        std::shared_ptr<void> object;
    };

    virtual ~CPinDesktop() = default;

    // The top-level windows of the desktop's other programs, in the desktop's order.
    virtual std::vector<Item> TopLevelWindows() = 0;
    // The window's first text field, in the order of its controls; none: an empty id.
    virtual Item FirstTextField(const Item& window) = 0;
    // The window that has the keyboard focus now (an empty id when unknown).
    virtual Item FocusedWindow() = 0;
    // Brings the window to the foreground with the keyboard focus; gives the focus to the field
    // inside it.
    virtual bool SetForegroundWindow(const Item& window) = 0;
    virtual bool SetFocus(const Item& field) = 0;
    // Gives the focus back to a window remembered with FocusedWindow.
    virtual void RestoreFocus(const Item& window) = 0;
    // One key pressed and released, to whatever has the keyboard focus: a printable ASCII
    // character, or '\r' for Enter.
    virtual bool TypeKey(char key) = 0;
    // Handles whatever the desktop connection has queued for this thread.
    virtual void DispatchPending() = 0;
};

// The desktop of this session: windows and fields through the accessibility bus (AT-SPI),
// focus and keystrokes through the X server. Null when neither can be reached.
std::unique_ptr<CPinDesktop> OpenSessionPinDesktop();
