// velkora-store as a user runs it, on temp hives.

#include "tests/certstore/TestCerts.h"
#include "tests/registry/TempHives.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace velktest;

namespace {

using ToolRun = CommandRun;

ToolRun RunTool(const std::string& arguments) {
    return RunCommand(std::string("'") + VELK_STORE_TOOL + "' " + arguments + " 2>&1");
}

std::string WriteDer(const TempHives& hives, const std::string& name, const TestCert& cert) {
    const std::string path = hives.Dir() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(cert.der.data()),
               static_cast<std::streamsize>(cert.der.size()));
    return path;
}

TEST(StoreToolTest, ListsWhatWasAddedWithItsKeyLink) {
    TempHives hives;
    const TestCert root = MakeCert(Cert("Tool Root"));
    const TestCert user = MakeCert(Cert("Erika Mustermann").Issuer(root).Serial(0x0203));
    Context context = CreateContext(user.der);
    ASSERT_TRUE(SetKeyLink(context.get(), u"\\\\.\\Reader 0\\c0000000-0efd-11dc-8314-0800200c9a66",
                           u"Velkora Base Smart Card Crypto Provider"));
    {
        Store my = OpenUserStore("MY");
        ASSERT_TRUE(CertAddCertificateContextToStore(my.get(), context.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }
    ASSERT_EQ(RunTool("-user -addstore MY '" + WriteDer(hives, "root.der", root) + "'").status, 0);

    const ToolRun list = RunTool("-user -store MY");
    EXPECT_EQ(list.status, 0) << list.out;
    std::string thumb = Thumbprint(user.der);
    for (char& c : thumb) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto first = list.out.find("Certificate 0");
    const auto second = list.out.find("Certificate 1");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    const std::string entry = list.out.substr(first, second - first);
    EXPECT_NE(entry.find("Serial Number: 0203"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Subject: CN=Erika Mustermann,O=Velkora Test"), std::string::npos)
        << entry;
    EXPECT_NE(entry.find("Issuer: CN=Tool Root,O=Velkora Test"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Cert Hash(sha1): " + thumb), std::string::npos) << entry;
    EXPECT_NE(entry.find("Key Container = \\\\.\\Reader 0\\c0000000-0efd-11dc-8314-0800200c9a66"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("Provider = Velkora Base Smart Card Crypto Provider"), std::string::npos);
    EXPECT_NE(entry.find("KeySpec = 1"), std::string::npos);
    EXPECT_NE(list.out.substr(second).find("No key provider information"), std::string::npos);

    // Export by thumbprint, delete by index.
    const std::string exported = hives.Dir() + "/out.der";
    ASSERT_EQ(RunTool("-exportcert MY " + thumb + " '" + exported + "'").status, 0);
    EXPECT_EQ(ReadFileBytes(exported), std::string(user.der.begin(), user.der.end()));
    EXPECT_EQ(RunTool("-delstore MY 0").status, 0);
    EXPECT_EQ(StoreThumbprints("MY"), std::vector<std::string>{Thumbprint(root.der)});
}

TEST(StoreToolTest, ErrorsGiveTheirExitCodes) {
    TempHives hives;
    EXPECT_EQ(RunTool("").status, 1);
    EXPECT_EQ(RunTool("-store").status, 1);
    EXPECT_EQ(RunTool("-frobnicate MY").status, 1);
    EXPECT_EQ(RunTool("-delstore MY 3").status, 3);
    EXPECT_EQ(RunTool("-exportcert MY 0123456789abcdef0123456789abcdef01234567 /dev/null").status,
              3);
    EXPECT_EQ(RunTool("-addstore MY /nonexistent/file.der").status, 4);
    WriteFileBytes(hives.Dir() + "/junk.der", "not a certificate");
    EXPECT_EQ(RunTool("-addstore MY '" + hives.Dir() + "/junk.der'").status, 4);
    const ToolRun help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("-exportcert"), std::string::npos);
    // A user hive that is not a hive: reported, not overwritten.
    WriteFileBytes(hives.UserPath(), "this is not a hive file at all, it is text");
    const ToolRun broken = RunTool("-store MY");
    EXPECT_EQ(broken.status, 2) << broken.out;
    EXPECT_EQ(ReadFileBytes(hives.UserPath()), "this is not a hive file at all, it is text");
}

TEST(StoreToolTest, InstallsCardTypesAndProvidersIntoTheMachineHive) {
    TempHives hives;
    EXPECT_EQ(RunTool("--install-card-types").status, 0);
    EXPECT_EQ(RunTool("--install-providers").status, 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\"
                            "Velkora MD - TCOS 3.0",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 001",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    char name[128];
    DWORD size = sizeof name;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Microsoft Enhanced Cryptographic Provider v1.0");
    RegCloseKey(key);
}

} // namespace
