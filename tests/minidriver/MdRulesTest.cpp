// The container-name rules, the certificate-file header, the provider's
// container strings, the PIN entry protocol's escaping, and the modules'
// exported symbols.

#include "card/CardType.h"
#include "minidriver/csp/CspHandle.h"
#include "minidriver/md/ContainerName.h"
#include "minidriver/md/DerLength.h"
#include "minidriver/md/Minidriver.h"
#include "minidriver/md/PinEntry.h"
#include "platform/crypto/ProviderInterface.h"
#include "platform/crypto/WinCrypt.h"
#include "platform/registry/Registry.h"
#include "platform/scarddb/SCardDb.h"
#include "tests/minidriver/MdTestEnv.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ContainerNames, FollowTheBindingPositionsForEverySlot) {
    std::set<std::string> seen;
    for (const velkmd::CardSlot& slot : velkmd::SlotsOf(scard::kTcos30)) {
        const std::string name = velkmd::ContainerName(slot, *velkmd::ReaderCode(0, 1), 2);
        SCOPED_TRACE(name);
        ASSERT_EQ(name.size(), 36u);
        EXPECT_EQ(name.substr(23), "-0800200c9a66");
        for (std::size_t at : {8u, 13u, 18u, 23u}) {
            EXPECT_EQ(name[at], '-');
        }
        for (std::size_t i = 0; i < 36; ++i) {
            if (i != 5 && i != 8 && i != 13 && i != 18 && i != 23) {
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(name[i]))) << i;
            }
        }
        EXPECT_EQ(name[4], slot.authority ? '1' : '0');
        EXPECT_EQ(name[6], slot.type);
        EXPECT_EQ(name[7], slot.selector);
        EXPECT_TRUE(seen.insert(name).second) << "two slots share a name";
    }
    EXPECT_EQ(seen.size(), 6u);
    // Cards without certificate files and cards of the other provider: nothing.
    EXPECT_TRUE(velkmd::SlotsOf(scard::kTcos20).empty());
    EXPECT_TRUE(velkmd::SlotsOf(scard::kMicardo).empty());
    EXPECT_TRUE(velkmd::SlotsOf(scard::kCardOs4).empty());
    EXPECT_EQ(velkmd::SlotsOf(scard::kTcos30V2).size(), 6u);
}

TEST(ContainerNames, ReaderCharacterDecodesToTheReaderByBothRules) {
    const velkmd::CardSlot& slot = velkmd::SlotsOf(scard::kTcos30)[0];
    for (int count : {1, 2, 3, 5, 16}) {
        for (int index = 0; index < count; ++index) {
            const auto code = velkmd::ReaderCode(static_cast<std::size_t>(index),
                                                 static_cast<std::size_t>(count));
            ASSERT_TRUE(code.has_value()) << index << " of " << count;
            const std::string path = "\\\\.\\Reader " + std::to_string(index) + "\\" +
                                     velkmd::ContainerName(slot, *code, scard::kTcos30);
            EXPECT_EQ(mdtest::ReaderIndexFromContainer(path, count), index);
            EXPECT_EQ(mdtest::ReaderNameIndexFromContainer(path, static_cast<unsigned>(count)),
                      static_cast<unsigned>(index));
            EXPECT_NE(*code, '0'); // '0' would decode differently under the two rules
        }
    }
    EXPECT_FALSE(velkmd::ReaderCode(2, 2).has_value());
    EXPECT_FALSE(velkmd::ReaderCode(0, 0).has_value());
    EXPECT_FALSE(velkmd::ReaderCode(39, 40).has_value()); // past '~'
    EXPECT_TRUE(velkmd::ReaderCode(0, 39).has_value());
}

TEST(CertificateFile, LengthComesFromTheDerHeader) {
    const std::pair<Bytes, std::size_t> cases[] = {
        {Bytes(16, 0x00), 0},                  // erased
        {Bytes(16, 0xFF), 0},                  // erased
        {{0x30, 0x03, 0x02, 0x01, 0x05}, 5},   // short form
        {{0x30, 0x81, 0x80}, 3 + 0x80},        // one length byte
        {{0x30, 0x82, 0x04, 0x00}, 4 + 0x400}, // two length bytes
        {{0x30, 0x82, 0x10, 0x00}, 0},         // 4100 bytes in a 4096-byte file
        {{0x30, 0x80, 0x00, 0x00}, 0},         // indefinite: not DER
        {{0x30, 0x83, 0x01, 0x00, 0x00}, 0},   // three length bytes
        {{0x30, 0x00}, 0},                     // empty sequence
        {{0x31, 0x03, 0x02, 0x01, 0x05}, 0},   // other tag
        {{0x30, 0x82, 0x04}, 0},               // cut header
        {{}, 0}};
    for (const auto& [file, length] : cases) {
        EXPECT_EQ(velkmd::CertificateLength(file, 4096), length) << testing::PrintToString(file);
    }
}

TEST(ProviderContainerStrings, SplitIntoReaderAndName) {
    const auto whole = velkcsp::ParseTarget("\\\\.\\Virtual PCD 00 00\\");
    EXPECT_TRUE(whole.prefixed);
    EXPECT_EQ(whole.reader, "Virtual PCD 00 00");
    EXPECT_EQ(whole.name, "");

    const auto named = velkcsp::ParseTarget("\\\\.\\Virtual PCD 00 00\\c0000273-df01");
    EXPECT_EQ(named.reader, "Virtual PCD 00 00");
    EXPECT_EQ(named.name, "c0000273-df01");

    const auto noSlash = velkcsp::ParseTarget("\\\\.\\Reader");
    EXPECT_EQ(noSlash.reader, "Reader");
    EXPECT_EQ(noSlash.name, "");

    const auto plain = velkcsp::ParseTarget("some name");
    EXPECT_FALSE(plain.prefixed);
    EXPECT_EQ(plain.name, "some name");

    EXPECT_FALSE(velkcsp::ParseTarget(nullptr).prefixed);
    EXPECT_EQ(velkcsp::ParseTarget("").name, "");
}

TEST(PinEntryProtocol, EscapesAndDecodes) {
    EXPECT_EQ(velkmd::AssuanEscape("50% off\r\nnow"), "50%25 off%0D%0Anow");
    EXPECT_EQ(velkmd::AssuanEscape("Bitte geben Sie die PIN ein."), "Bitte geben Sie die PIN ein.");

    velkmd::Secret pin;
    ASSERT_TRUE(velkmd::AssuanDecodeInto("12%2534%0a", pin));
    const Bytes expected = {'1', '2', '%', '3', '4', '\n'};
    EXPECT_EQ(Bytes(pin.View().begin(), pin.View().end()), expected);

    for (const char* malformed : {"%4", "%", "12%zz", "%g0"}) {
        velkmd::Secret out;
        EXPECT_FALSE(velkmd::AssuanDecodeInto(malformed, out)) << malformed;
    }
    // Longer than the buffer: refused, not cut.
    velkmd::Secret full;
    EXPECT_FALSE(velkmd::AssuanDecodeInto(std::string(velkmd::Secret::kCapacity + 1, '7'), full));
}

TEST(PinEntryProtocol, AProgramThatNeverStopsTalkingIsGivenUpOnAsAWhole) {
    // Greets, answers the title, and then sends a status line every 20 ms
    // without ever answering another command.
    mdtest::TempDir dir;
    const std::string script = dir.File("chatty");
    std::ofstream(script) << "#!/bin/sh\n"
                             "echo OK hello; read -r line; echo OK\n"
                             "while :; do echo 'S PROGRESS 1'; sleep 0.02; done\n";
    chmod(script.c_str(), 0755);
    setenv("VELKORA_PINENTRY", script.c_str(), 1);
    using std::chrono::milliseconds;
    const velkmd::PinEntryLimits limits{milliseconds(300), milliseconds(300)};
    {
        velkmd::PinEntry entry(limits);
        ASSERT_TRUE(entry.Ok());
        EXPECT_TRUE(entry.SetTitle("title"));
        velkmd::Secret pin;
        EXPECT_EQ(entry.GetPin(pin), velkmd::PinEntry::Result::Failed);
        EXPECT_FALSE(entry.Ok());
    }
    {
        velkmd::PinEntry entry(limits);
        ASSERT_TRUE(entry.SetTitle("title"));
        EXPECT_FALSE(entry.SetDescription("text"));
        EXPECT_FALSE(entry.Ok());
    }
    {
        // The same while still greeting.
        std::ofstream(script) << "#!/bin/sh\nwhile :; do echo '# hello'; sleep 0.02; done\n";
        velkmd::PinEntry entry(limits);
        EXPECT_FALSE(entry.Ok());
    }
    unsetenv("VELKORA_PINENTRY");
}

TEST(PinCommands, AreRecognisedExactly) {
    EXPECT_TRUE(velkmd::IsPinCommand("md@cp@01"));
    EXPECT_TRUE(velkmd::IsPinCommand("md@up@04"));
    EXPECT_FALSE(velkmd::IsPinCommand("md@cp@0"));
    EXPECT_FALSE(velkmd::IsPinCommand("md@cp@012"));
    EXPECT_FALSE(velkmd::IsPinCommand("md@cls@@"));
    EXPECT_FALSE(velkmd::IsPinCommand("123456"));
    EXPECT_TRUE(velkmd::IsEndCommand("md@cls@@"));
    EXPECT_FALSE(velkmd::IsEndCommand("md@cls@"));
    // The four selectors name PINs in pairs that unblock each other.
    for (char selector : {'1', '2', '3', '4'}) {
        const auto* target = velkmd::PinTargetOf(selector);
        ASSERT_NE(target, nullptr);
        const auto* partner = velkmd::PinTargetOf(target->partner);
        ASSERT_NE(partner, nullptr);
        EXPECT_EQ(partner->partner, selector);
        EXPECT_EQ(partner->path, target->path);
    }
    EXPECT_EQ(velkmd::PinTargetOf('0'), nullptr);
    EXPECT_EQ(velkmd::PinTargetOf('5'), nullptr);
}

struct ModuleCloser {
    void operator()(void* module) const { dlclose(module); }
};
using Module = std::unique_ptr<void, ModuleCloser>;

TEST(Modules, CarryTheirVersionAndEntryPoints) {
    const std::string dir = VELK_MD_MODULE_DIR;
    for (const char* file : {"libvelkoramd.so", "libvelkcsp.so", "libvelkora-pkcs11.so"}) {
        SCOPED_TRACE(file);
        Module module(dlopen((dir + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL));
        ASSERT_TRUE(module) << dlerror();
        const auto* version = static_cast<const char*>(dlsym(module.get(), "velk_module_version"));
        ASSERT_NE(version, nullptr);
        EXPECT_STREQ(version, VELK_MD_EXPECTED_VERSION);
    }
    Module csp(dlopen((dir + "/libvelkcsp.so").c_str(), RTLD_NOW | RTLD_LOCAL));
    ASSERT_TRUE(csp);
    void* entry = dlsym(csp.get(), VELK_PROVIDER_ENTRY_POINT);
    ASSERT_NE(entry, nullptr);
    VelkGetProviderInterfaceFn get = nullptr;
    std::memcpy(&get, &entry, sizeof get);
    const VelkProviderFunctions* table = get(VELK_PROVIDER_INTERFACE_VERSION);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->version, VELK_PROVIDER_INTERFACE_VERSION);
    EXPECT_EQ(table->size, sizeof(VelkProviderFunctions));
    EXPECT_EQ(get(VELK_PROVIDER_INTERFACE_VERSION + 1), nullptr);
    // Only the entry points leave the modules, not the card code inside them.
    EXPECT_EQ(
        dlsym(csp.get(), "_ZN5SCardC1ERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"),
        nullptr);
}

} // namespace

namespace {

TEST(InstallStep, ToolRegistersProviderAndCardTypesAndRemovesTheProvider) {
    mdtest::TempDir dir;
    setenv("VELKORA_MACHINE_HIVE", dir.File("machine.hive").c_str(), 1);
    setenv("VELKORA_USER_HIVE", dir.File("user.hive").c_str(), 1);
    RegResetForTests();
    const std::string tool = VELK_MD_INSTALL_TOOL;
    ASSERT_EQ(std::system((tool + " '" VELK_MD_MODULE_DIR "'").c_str()), 0);
    RegResetForTests();

    const uint8_t tcos30[] = {0x3B, 0xBF, 0x96, 0x00, 0x81, 0x31, 0xFE, 0x5D,
                              0x00, 0x64, 0x04, 0x11, 0x03, 0x01, 0x31, 0xC0,
                              0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x7D};
    char cards[256] = {};
    DWORD length = sizeof cards;
    ASSERT_EQ(SCardListCardsA(0, tcos30, nullptr, 0, cards, &length), SCARD_S_SUCCESS);
    EXPECT_STREQ(cards, "Velkora MD - TCOS 3.0");
    char provider[256] = {};
    length = sizeof provider;
    ASSERT_EQ(SCardGetCardTypeProviderNameA(0, cards, SCARD_PROVIDER_CSP, provider, &length),
              SCARD_S_SUCCESS);
    EXPECT_STREQ(provider, mdtest::kProvider);

    HCRYPTPROV prov = 0;
    ASSERT_TRUE(
        CryptAcquireContextA(&prov, nullptr, mdtest::kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        << std::hex << GetLastError();
    CryptReleaseContext(prov, 0);

    ASSERT_EQ(std::system((tool + " --uninstall").c_str()), 0);
    RegResetForTests();
    EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, mdtest::kProvider, PROV_RSA_FULL,
                                      CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_KEYSET_NOT_DEF);
    // Usage errors are told apart from failures.
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " 2>/dev/null").c_str())), 2);

    RegResetForTests();
    unsetenv("VELKORA_MACHINE_HIVE");
    unsetenv("VELKORA_USER_HIVE");
}

} // namespace
