// The About dialog's version texts: the display form of product versions, and versions read
// from the minidriver's real module files, from files that are no module, and from none.
#include "dialogs/about/VersionText.h"
#include "platform/registry/RegKey.h"
#include "platform/version/ElfSymbolText.h"
#include "platform/version/ModuleSearch.h"
#include "platform/version/ModuleVersion.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(VersionTextTest, FormatVersionOfEveryShape) {
    EXPECT_EQ(FormatVersion("1, 0, 5, 12"), "Version 1.0.5 (Build: 12)");
    EXPECT_EQ(FormatVersion("2, 1, 0, 7"), "Version 2.1.0 (Build: 7)");
    EXPECT_EQ(FormatVersion(" 2 ,1,  0,7 "), "Version 2.1.0 (Build: 7)");
    // The fixed words around nothing.
    EXPECT_EQ(FormatVersion(""), "Version .. (Build: )");
    // The build is what follows the last comma; parts without a closing comma stay empty.
    EXPECT_EQ(FormatVersion("1, 2, 3, 4, 5"), "Version 1.2.3 (Build: 5)");
    EXPECT_EQ(FormatVersion("1, 2"), "Version 1.. (Build: 2)");
    // Without commas the text is shown as it is.
    EXPECT_EQ(FormatVersion("2.1.0.7"), "2.1.0.7");
}

TEST(VersionTextTest, ElfReaderStaysInsideItsBytes) {
    const std::string seed = ReadFileBytes(VELK_ELF_SEED);
    const std::vector<uint8_t> image(seed.begin(), seed.end());
    ASSERT_EQ(ReadElfSymbolText(image, "velk_module_version"), "1.0.5.12");
    EXPECT_EQ(ReadElfSymbolText(image, "velk_module_versio"), std::nullopt);
    // Every truncation (the section table sits at the end) finds nothing.
    for (size_t size = 0; size < image.size(); ++size) {
        EXPECT_EQ(ReadElfSymbolText(std::span(image.data(), size), "velk_module_version"),
                  std::nullopt)
            << size;
    }
    // A text without its NUL inside the symbol's size is no text.
    std::vector<uint8_t> unterminated = image;
    const size_t nul = seed.find(std::string("1.0.5.12\0", 9)) + 8;
    unterminated[nul] = '3';
    EXPECT_EQ(ReadElfSymbolText(unterminated, "velk_module_version"), std::nullopt);
}

class ModuleVersionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(m_dir.data()), nullptr);
        setenv("VELKORA_MODULE_PATH", m_dir.c_str(), 1);
        unsetenv("LD_LIBRARY_PATH");
    }
    void TearDown() override {
        unsetenv("VELKORA_MODULE_PATH");
        fs::remove_all(m_dir.c_str());
    }
    std::string Path(const char* name) const { return std::string(m_dir.c_str()) + "/" + name; }

    TempHives m_hives; // no provider registered: only the folders searched here count
    std::string m_dir = (fs::temp_directory_path() / "velk-modules-XXXXXX").string();
};

TEST_F(ModuleVersionTest, CompanionModulesFromTheirFiles) {
    const std::string expected = FormatVersion(VELK_MD_RESOURCE_VERSION);
    ASSERT_EQ(expected.rfind("Version ", 0), 0u);
    for (const char* file : {"libvelkoramd.so", "libvelkcsp.so", "libvelkora-pkcs11.so"}) {
        fs::copy_file(std::string(VELK_MD_MODULE_DIR) + "/" + file, Path(file));
    }
    EXPECT_EQ(GetModuleVersionText("velkoramd.dll"), expected);
    EXPECT_EQ(GetModuleVersionText("velkcsp.dll"), expected);
    EXPECT_EQ(GetModuleVersionText("VELKORA-PKCS11.DLL"), "not found"); // names are exact

    CModuleVersion version;
    ASSERT_TRUE(version.GetFileVersionInfo(Path("libvelkora-pkcs11.so").c_str()));
    EXPECT_EQ(version.dwSignature, kFixedFileInfoSignature);
    EXPECT_EQ(version.GetValue("ProductVersion"), VELK_MD_RESOURCE_VERSION);
    EXPECT_EQ(version.GetValue("CompanyName"), "");
    EXPECT_EQ(version.Language(), 0x0409);
    EXPECT_EQ(version.CodePage(), 1252);

    const std::string program = GetProgramVersionText();
    EXPECT_EQ(program.find(" (CR:"), program.size() - 13) << program;
    EXPECT_EQ(program.back(), ')');
}

TEST_F(ModuleVersionTest, FilesThatAreNoModuleOrCarryNoVersion) {
    // Present but no module, a module without a version, a stripped copy of a real one.
    WriteFileBytes(Path("libvelkoramd.so"), "not an ELF file at all");
    fs::copy_file(VELK_MODULE_WITHOUT_VERSION, Path("libvelkcsp.so"));
    EXPECT_EQ(GetModuleVersionText("velkoramd.dll"), "Version .. (Build: )");
    EXPECT_EQ(GetModuleVersionText("velkcsp.dll"), "Version .. (Build: )");
    EXPECT_EQ(GetModuleVersionText("velkora-pkcs11.dll"), "not found");
    EXPECT_EQ(FindModuleFile("velkora-pkcs11.dll"), "");

    CModuleVersion version;
    EXPECT_FALSE(version.GetFileVersionInfo(Path("libvelkoramd.so").c_str()));
    EXPECT_EQ(version.GetValue("ProductVersion"), "");
    EXPECT_FALSE(version.GetFileVersionInfo(Path("missing.so").c_str()));
}

TEST_F(ModuleVersionTest, TheRegisteredProviderFolderIsSearched) {
    unsetenv("VELKORA_MODULE_PATH");
    fs::copy_file(std::string(VELK_MD_MODULE_DIR) + "/libvelkoramd.so", Path("libvelkoramd.so"));
    EXPECT_EQ(FindModuleFile("velkoramd.dll"), "");
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE,
                         "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
                         "Velkora Base Smart Card Crypto Provider",
                         KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    const std::string image = Path("libvelkcsp.so");
    ASSERT_EQ(RegSetValueExA(key.get(), "Image Path", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(image.c_str()),
                             static_cast<DWORD>(image.size() + 1)),
              ERROR_SUCCESS);
    EXPECT_EQ(FindModuleFile("velkoramd.dll"), Path("libvelkoramd.so"));
}

} // namespace
