#pragma once

// The restart hand-over: the running instance owns the restart mutex and starts a new process
// with "--Restart"; the new process passes the single-instance check and waits on the mutex,
// which is freed when the old process has ended.

inline constexpr const char* kRestartMutexName = "Local\\{2e0caa01-0efd-11dc-8314-0800200c9a66}";
inline constexpr const char* kRestartWord = "--Restart";

// True when the full command line (program path included) contains "--Restart".
bool IsRestartStart();

// Waits without time-out until the instance that launched this one has ended. Always true.
bool WaitForPreviousInstance();

// Starts a new instance of this program with "--Restart". False, without starting anything,
// when another restart is in progress (after that one has finished) or the start failed; the
// caller closes its main window only on true. With VELKORA_RESTART_DRY_RUN set (tests), only the
// launch is recorded in the UI log and true returned.
bool LaunchRestart();

// On exit: closes the restart handle. Ownership taken by LaunchRestart stays until the
// process ends, which frees the waiting new instance.
void CloseRestartMutex();
