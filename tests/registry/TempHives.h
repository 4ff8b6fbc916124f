#pragma once

// Test helpers: hive files in a fresh temp dir per test, reading and writing
// whole files, and running a check as a user who may not write the machine
// hive (a forked child that drops root, or a read-only file when not root).

#include "platform/registry/RegKey.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class TempHives {
public:
    TempHives() {
        // Others (the unprivileged child) must be able to look inside.
        chmod(m_tmp.Path().c_str(), 0755);
        m_machine = m_tmp.File("machine/machine.hive");
        m_user = m_tmp.File("user/velkora/user.hive");
        setenv("VELKORA_MACHINE_HIVE", m_machine.c_str(), 1);
        setenv("VELKORA_USER_HIVE", m_user.c_str(), 1);
        RegResetForTests();
    }
    ~TempHives() {
        RegResetForTests();
        unsetenv("VELKORA_MACHINE_HIVE");
        unsetenv("VELKORA_USER_HIVE");
    }
    TempHives(const TempHives&) = delete;
    TempHives& operator=(const TempHives&) = delete;

    const std::string& Dir() const { return m_tmp.Path(); }
    const std::string& MachinePath() const { return m_machine; }
    const std::string& UserPath() const { return m_user; }

private:
    velktest::TempDir m_tmp;
    std::string m_machine;
    std::string m_user;
};

// A value written at root\path (the key made if need be): the first error, or ERROR_SUCCESS.
inline LONG SetValue(HKEY root, const char* path, const char* name, DWORD type, const void* data,
                     DWORD size) {
    RegKey key;
    const LONG rc = key.Create(root, path, KEY_ALL_ACCESS);
    return rc != ERROR_SUCCESS
               ? rc
               : RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

inline LONG SetDword(HKEY root, const char* path, const char* name, uint32_t value) {
    return SetValue(root, path, name, REG_DWORD, &value, sizeof value);
}

inline LONG GetDword(HKEY root, const char* path, const char* name, uint32_t& value) {
    RegKey key;
    const LONG rc = key.Open(root, path, KEY_READ);
    DWORD size = sizeof value;
    return rc != ERROR_SUCCESS ? rc
                               : RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(&value), &size);
}

// The same for set-up that must succeed.
inline void Put(HKEY root, const char* path, const char* name, uint32_t value) {
    ASSERT_EQ(SetDword(root, path, name, value), ERROR_SUCCESS);
}

inline void PutText(HKEY root, const char* path, const char* name, const std::string& text) {
    ASSERT_EQ(SetValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
}

constexpr uid_t kNobody = 65534;

// Makes the machine hive something the child of RunAsUser cannot write, and
// the user hive folder something it can.
inline void LockMachineHiveFor(const TempHives& hives) {
    if (geteuid() == 0) {
        const std::string userDir = std::filesystem::path(hives.UserPath()).parent_path();
        std::filesystem::create_directories(userDir);
        EXPECT_EQ(chown(userDir.c_str(), kNobody, kNobody), 0);
        EXPECT_EQ(chown(std::filesystem::path(userDir).parent_path().c_str(), kNobody, kNobody), 0);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(userDir, ignored)) {
            EXPECT_EQ(chown(entry.path().c_str(), kNobody, kNobody), 0);
        }
    } else {
        chmod(hives.MachinePath().c_str(), 0444);
    }
}

// Runs `check` in a forked child with root's rights dropped (uid/gid nobody)
// and returns what it reported. The registry is reset on both sides, so the
// child starts with no connection of the parent.
inline std::string RunAsUser(const std::function<std::string()>& check) {
    RegResetForTests();
    int fds[2];
    if (pipe(fds) != 0) {
        return "pipe failed";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        std::string report;
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            report = "could not drop privileges";
        } else {
            RegResetForTests();
            report = check();
        }
        const ssize_t written = write(fds[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buffer[512];
    ssize_t got = 0;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
        report.append(buffer, static_cast<size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        report += " [child ended abnormally]";
    }
    return report;
}
