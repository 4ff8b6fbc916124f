// The operating system version, the service table and the two ways of
// telling whether the system's own certificate propagation is active.
#include "app/settings/Config.h"
#include "platform/registry/RegKey.h"
#include "platform/system/LastError.h"
#include "platform/system/ScHandle.h"
#include "platform/system/SysInfo.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>
#include <string>

namespace {

constexpr const char* kScCertProp =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\ScCertProp";
constexpr const char* kCertPropSvc = "SYSTEM\\CurrentControlSet\\Services\\CertPropSvc";

class SystemState : public ::testing::Test {
protected:
    SystemState() { unsetenv("VELKORA_OS_VERSION"); }
    ~SystemState() override { unsetenv("VELKORA_OS_VERSION"); }
    TempHives m_hives;
};

TEST_F(SystemState, VersionIsTenUnlessTheEnvironmentSaysOtherwise) {
    OSVERSIONINFOA version{};
    EXPECT_FALSE(GetVersionExA(&version)); // the size field must be filled in
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(version.dwMajorVersion, 10u);
    EXPECT_EQ(version.dwMinorVersion, 0u);
    EXPECT_TRUE(Config::IsVistaOrLater());
    EXPECT_FALSE(Config().GetPinWatcherThread());

    setenv("VELKORA_OS_VERSION", "5.1", 1);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(version.dwMajorVersion, 5u);
    EXPECT_EQ(version.dwMinorVersion, 1u);
    EXPECT_EQ(GetVersion() & 0xffff, 0x0105u);
    EXPECT_FALSE(Config::IsVistaOrLater());
    EXPECT_TRUE(Config().GetPinWatcherThread());

    setenv("VELKORA_OS_VERSION", "6", 1);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(version.dwMajorVersion, 6u);
    EXPECT_EQ(version.dwMinorVersion, 0u);
    // Text that is not a version changes nothing.
    for (const char* bad : {"", "abc", "5.", "5.1.2", "-5.1", "999.1", "5,1"}) {
        setenv("VELKORA_OS_VERSION", bad, 1);
        ASSERT_TRUE(GetVersionExA(&version));
        EXPECT_EQ(version.dwMajorVersion, 10u) << bad;
    }
}

TEST_F(SystemState, ServiceTableAnswersTheServiceManager) {
    const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    // No such service yet.
    SetLastError(0);
    EXPECT_FALSE(ScHandle(OpenServiceA(manager.get(), "CertPropSvc", SERVICE_QUERY_STATUS)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    Put(HKEY_LOCAL_MACHINE, kCertPropSvc, "CurrentState", SERVICE_RUNNING);
    // Service names are not case-sensitive.
    const ScHandle service(OpenServiceA(manager.get(), "certpropsvc", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service);
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    // The state is read when asked, not when opened.
    Put(HKEY_LOCAL_MACHINE, kCertPropSvc, "CurrentState", SERVICE_STOPPED);
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);

    // Rights and handles are checked.
    const ScHandle configOnly(OpenServiceA(manager.get(), "CertPropSvc", SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(configOnly);
    EXPECT_FALSE(QueryServiceStatus(configOnly.get(), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(QueryServiceStatus(manager.get(), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(OpenServiceA(service.get(), "CertPropSvc", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(OpenServiceA(manager.get(), "SYSTEM\\..", SERVICE_QUERY_STATUS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(OpenSCManagerA("elsewhere", nullptr, SC_MANAGER_CONNECT));
    SC_HANDLE closed = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_TRUE(CloseServiceHandle(closed));
    EXPECT_FALSE(CloseServiceHandle(closed));
}

TEST_F(SystemState, PropagationServiceFromTheServiceTableOnVersionTen) {
    EXPECT_FALSE(Config::IsCertPropSvcActive()); // no such service
    const struct {
        uint32_t state;
        bool active;
    } cases[] = {{SERVICE_START_PENDING, true},
                 {SERVICE_RUNNING, true},
                 {SERVICE_STOPPED, false},
                 {SERVICE_STOP_PENDING, false},
                 {SERVICE_PAUSED, false}};
    for (const auto& c : cases) {
        Put(HKEY_LOCAL_MACHINE, kCertPropSvc, "CurrentState", c.state);
        EXPECT_EQ(Config::IsCertPropSvcActive(), c.active) << c.state;
    }
    // The old switch does not count on this version.
    Put(HKEY_LOCAL_MACHINE, kScCertProp, "Enabled", 1);
    Put(HKEY_LOCAL_MACHINE, kCertPropSvc, "CurrentState", SERVICE_STOPPED);
    EXPECT_FALSE(Config::IsCertPropSvcActive());
    // A service key without a state is a stopped service.
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kCertPropSvc), ERROR_SUCCESS);
    RegKey bare;
    ASSERT_EQ(bare.Create(HKEY_LOCAL_MACHINE, kCertPropSvc, KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_FALSE(Config::IsCertPropSvcActive());
}

TEST_F(SystemState, PropagationSwitchInTheRegistryBeforeVersionSix) {
    setenv("VELKORA_OS_VERSION", "5.1", 1);
    Put(HKEY_LOCAL_MACHINE, kCertPropSvc, "CurrentState", SERVICE_RUNNING); // not asked
    EXPECT_FALSE(Config::IsCertPropSvcActive());
    Put(HKEY_LOCAL_MACHINE, kScCertProp, "Enabled", 2);
    EXPECT_FALSE(Config::IsCertPropSvcActive());
    Put(HKEY_LOCAL_MACHINE, kScCertProp, "Enabled", 1);
    EXPECT_TRUE(Config::IsCertPropSvcActive());

    // Read with full access: a user who may not write the machine hive sees false.
    LockMachineHiveFor(m_hives);
    EXPECT_EQ(RunAsUser([] { return std::to_string(Config::IsCertPropSvcActive()); }), "0");
    // While the newer branch needs only reading.
    setenv("VELKORA_OS_VERSION", "10.0", 1);
    EXPECT_EQ(RunAsUser([] { return std::to_string(Config::IsCertPropSvcActive()); }), "1");
}

} // namespace
