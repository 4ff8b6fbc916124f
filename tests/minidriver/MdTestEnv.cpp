#include "tests/minidriver/MdTestEnv.h"

#include "minidriver/install/MdInstall.h"
#include "platform/crypto/WinCrypt.h"
#include "platform/registry/Registry.h"

#include <dbus/dbus.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mdtest {

namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

DBusConnection* Bus(void* connection) {
    return static_cast<DBusConnection*>(connection);
}

} // namespace

RegisteredProvider::RegisteredProvider(const TempDir& dir) {
    setenv("VELKORA_MACHINE_HIVE", dir.File("machine.hive").c_str(), 1);
    setenv("VELKORA_USER_HIVE", dir.File("user.hive").c_str(), 1);
    RegResetForTests();
    m_result = velkmd::InstallMinidriver(VELK_MD_MODULE_DIR);
}

RegisteredProvider::~RegisteredProvider() {
    RegResetForTests();
    unsetenv("VELKORA_MACHINE_HIVE");
    unsetenv("VELKORA_USER_HIVE");
}

ScriptedPinEntry::ScriptedPinEntry(const TempDir& dir) : m_dir(dir.Path()) {
    const std::string script = dir.File("pinentry");
    std::ofstream(script) << R"(#!/bin/sh
# A PIN entry program that answers from the file "answers" beside it.
dir=$(dirname "$0")
echo start >> "$dir/starts"
echo "OK Pleased to meet you"
while IFS= read -r line; do
    case "$line" in
    GETPIN)
        # While "hold" exists, a new-PIN prompt waits for "go", with "at-prompt" made.
        case "$desc" in
        "Bitte geben Sie die neue"*)
            if [ -e "$dir/hold" ] && [ ! -e "$dir/go" ]; then
                touch "$dir/at-prompt"
                i=0
                while [ ! -e "$dir/go" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done
            fi ;;
        esac
        answer=$(head -n 1 "$dir/answers")
        sed -i 1d "$dir/answers"
        if [ "$answer" = CANCEL ]; then
            echo "ERR 83886179 Operation cancelled <Pinentry>"
        else
            [ -n "$answer" ] && echo "D $answer"
            echo OK
        fi ;;
    SETDESC*)
        desc=${line#SETDESC }
        echo "$desc" >> "$dir/descriptions"
        echo OK ;;
    BYE)
        echo "OK closing connection"
        exit 0 ;;
    *)
        echo OK ;;
    esac
done
)";
    chmod(script.c_str(), 0755);
    std::ofstream(dir.File("answers")).close();
    setenv("VELKORA_PINENTRY", script.c_str(), 1);
}

ScriptedPinEntry::~ScriptedPinEntry() {
    unsetenv("VELKORA_PINENTRY");
}

void ScriptedPinEntry::Queue(const std::vector<std::string>& answers) const {
    std::ofstream out(m_dir + "/answers", std::ios::app);
    for (const std::string& a : answers) {
        out << a << '\n';
    }
}

int ScriptedPinEntry::Starts() const {
    return static_cast<int>(Lines(m_dir + "/starts").size());
}

std::vector<std::string> ScriptedPinEntry::Descriptions() const {
    return Lines(m_dir + "/descriptions");
}

std::size_t ScriptedPinEntry::Unanswered() const {
    return Lines(m_dir + "/answers").size();
}

RecordingBus::RecordingBus() {
    if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        m_hadPrevious = true;
        m_previous = previous;
    }
    int out[2] = {-1, -1};
    if (pipe(out) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char a0[] = "dbus-daemon", a1[] = "--session", a2[] = "--nofork", a3[] = "--print-address=1";
    char* argv[] = {a0, a1, a2, a3, nullptr};
    const int spawned = posix_spawnp(&m_daemon, "dbus-daemon", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        m_daemon = -1;
        close(out[0]);
        return;
    }
    std::string address;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        address += c;
    }
    close(out[0]);
    if (address.empty()) {
        return;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
    if (connection == nullptr || !dbus_bus_register(connection, &error)) {
        if (connection != nullptr) {
            dbus_connection_close(connection);
            dbus_connection_unref(connection);
        }
        dbus_error_free(&error);
        return;
    }
    dbus_bus_add_match(connection,
                       "type='signal',interface='org.velkora.CertMgr',member='UWM_MD_MESSAGE'",
                       &error);
    if (dbus_error_is_set(&error)) {
        dbus_error_free(&error);
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        return;
    }
    m_connection = connection;
}

RecordingBus::~RecordingBus() {
    if (m_connection != nullptr) {
        dbus_connection_close(Bus(m_connection));
        dbus_connection_unref(Bus(m_connection));
    }
    if (m_daemon > 0) {
        kill(m_daemon, SIGCONT);
        kill(m_daemon, SIGTERM);
        int status = 0;
        waitpid(m_daemon, &status, 0);
    }
    if (m_hadPrevious) {
        setenv("DBUS_SESSION_BUS_ADDRESS", m_previous.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

std::vector<std::pair<uint32_t, int64_t>> RecordingBus::Received(std::size_t count) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_connection != nullptr && m_received.size() < count &&
           std::chrono::steady_clock::now() < limit) {
        dbus_connection_read_write(Bus(m_connection), 100);
        while (DBusMessage* message = dbus_connection_pop_message(Bus(m_connection))) {
            dbus_uint32_t w = 0;
            dbus_int64_t l = 0;
            if (dbus_message_is_signal(message, "org.velkora.CertMgr", "UWM_MD_MESSAGE") &&
                dbus_message_get_args(message, nullptr, DBUS_TYPE_UINT32, &w, DBUS_TYPE_INT64, &l,
                                      DBUS_TYPE_INVALID)) {
                m_received.emplace_back(w, l);
                const std::string sender = dbus_message_get_sender(message) != nullptr
                                               ? dbus_message_get_sender(message)
                                               : "";
                if (std::find(m_senders.begin(), m_senders.end(), sender) == m_senders.end()) {
                    m_senders.push_back(sender);
                }
            }
            dbus_message_unref(message);
        }
    }
    return m_received;
}

std::vector<std::string> RecordingBus::Senders() const {
    return m_senders;
}

void RecordingBus::Pause() {
    if (m_daemon > 0) {
        kill(m_daemon, SIGSTOP);
    }
}

void RecordingBus::Resume() {
    if (m_daemon > 0) {
        kill(m_daemon, SIGCONT);
    }
}

vcard::CardProfile QuickProfile(const std::string& name) {
    vcard::CardProfile profile = *vcard::FindProfile(name);
    if (profile.keyBits > 0) {
        profile.keyBits = 1024;
    }
    return profile;
}

std::string ContainerPath(const std::string& reader, const std::string& name) {
    return "\\\\.\\" + reader + "\\" + name;
}

DWORD Acquire(const std::string& path, HCRYPTPROV& prov, DWORD flags) {
    return CryptAcquireContextA(&prov, path.c_str(), kProvider, PROV_RSA_FULL, flags)
               ? 0
               : GetLastError();
}

std::vector<std::string> ListContainers(HCRYPTPROV prov, unsigned long& error) {
    std::vector<std::string> names;
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        BYTE name[256] = {};
        DWORD length = sizeof name;
        if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, name, &length, flags)) {
            error = GetLastError();
            return names;
        }
        names.emplace_back(reinterpret_cast<const char*>(name));
    }
}

std::vector<std::string> EnumerateContainers(const std::string& reader, unsigned long& error) {
    HCRYPTPROV prov = 0;
    error = Acquire(ContainerPath(reader, ""), prov);
    if (error != 0) {
        return {};
    }
    auto names = ListContainers(prov, error);
    CryptReleaseContext(prov, 0);
    return names;
}

std::string UserContainer(const std::string& reader, char selector) {
    std::string path;
    unsigned long end = 0;
    for (const std::string& name : EnumerateContainers(reader, end)) {
        if (name[4] == '0' && name[7] == selector) {
            path = ContainerPath(reader, name);
        }
    }
    return path;
}

DWORD SendPinCommand(HCRYPTPROV prov, const std::string& command) {
    return CryptSetProvParam(prov, PP_KEYEXCHANGE_PIN,
                             reinterpret_cast<const BYTE*>(command.c_str()), 0)
               ? 0
               : GetLastError();
}

std::vector<uint8_t> ContainerCertificate(const std::string& reader, const std::string& name) {
    std::vector<uint8_t> der;
    HCRYPTPROV prov = 0;
    if (Acquire(ContainerPath(reader, name), prov) != 0) {
        return der;
    }
    HCRYPTKEY key = 0;
    if (CryptGetUserKey(prov, AT_KEYEXCHANGE, &key)) {
        DWORD length = 0;
        if (CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &length, 0) && length > 0) {
            der.resize(length);
            if (!CryptGetKeyParam(key, KP_CERTIFICATE, der.data(), &length, 0)) {
                der.clear();
            } else {
                der.resize(length);
            }
        }
        CryptDestroyKey(key);
    }
    CryptReleaseContext(prov, 0);
    return der;
}

int ReaderIndexFromContainer(const std::string& name, int readerCount) {
    const std::string tail = name.substr(name.size() - 36);
    const int c = tail[5];
    return c == '0' ? 0 : c - '0' - 2 * readerCount;
}

unsigned ReaderNameIndexFromContainer(const std::string& name, unsigned readerCount) {
    const std::string tail = name.substr(name.size() - 36);
    return static_cast<unsigned>(tail[5] - '0') - 2 * readerCount;
}

std::vector<uint8_t> CertificateModulus(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(der.size())), &X509_free);
    if (!cert) {
        return {};
    }
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    BIGNUM* n = nullptr;
    if (key == nullptr || EVP_PKEY_get_bn_param(key, "n", &n) != 1) {
        return {};
    }
    std::vector<uint8_t> out(static_cast<size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, out.data());
    BN_free(n);
    return out;
}

} // namespace mdtest
