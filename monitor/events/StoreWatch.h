#pragma once

// Wakes the monitor's wait when the user's hive, which holds the "MY" store,
// changes on disk: another process registering or removing certificates
// reaches the list and the tray icon at once, while an idle desktop pays
// nothing (a thread blocked on inotify). Without it the wait looks at the
// store's change stamp every 2 seconds instead.

#include <atomic>
#include <string>
#include <thread>

class CStoreWatch {
public:
    CStoreWatch();
    ~CStoreWatch();
    CStoreWatch(const CStoreWatch&) = delete;
    CStoreWatch& operator=(const CStoreWatch&) = delete;

    // A watch is running (in this process).
    static bool Active();

private:
    void Run();

    std::string m_file; // the hive's file name, without its folder
    int m_inotify = -1;
    int m_stop = -1; // eventfd that ends the thread
    std::thread m_thread;
};
