#include "app/catalogue/Msg.h"
#include "app/catalogue/MsgTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kFallback = "----Error in Stringtable----";

// Restores the process-wide language after each test.
class MsgTest : public ::testing::Test {
protected:
    void TearDown() override { CMsg::SetLanguage(m_saved); }
    int m_saved = CMsg::Language();
};

std::string In(int language, unsigned id) {
    CMsg::SetLanguage(language);
    return CMsg::Get(id);
}

size_t CountPlaceholders(std::string_view text) {
    size_t count = 0;
    for (size_t pos = text.find("%d"); pos != std::string_view::npos;
         pos = text.find("%d", pos + 2)) {
        ++count;
    }
    return count;
}

TEST_F(MsgTest, LanguageSelectionAndUnknownIds) {
    EXPECT_EQ(In(0, 20), "Velkora certificate manager");
    EXPECT_EQ(In(1, 20), "Velkora Zertifikatsmanager");
    EXPECT_EQ(In(2, 20), "Velkoras certifikathanterare");
    for (int other : {5, 3, -1, 1000}) {
        EXPECT_EQ(In(other, 100), "Eine Instanz des Velkora Zertifikatsmanagers läuft bereits.")
            << other;
        EXPECT_EQ(In(other, 1432), "OK (noch %d Versuche)") << other;
    }
    for (int language : {0, 1, 2, 7}) {
        for (unsigned id : {0u, 99999u, 12u, 403u, 1499u, 8005u, 0xFFFFFFFFu}) {
            EXPECT_EQ(In(language, id), kFallback) << language << " " << id;
        }
    }
    // The pointer is stable, callers keep it.
    CMsg::SetLanguage(0);
    EXPECT_EQ(CMsg::Get(810), CMsg::Get(810));
}

TEST_F(MsgTest, QuirksAreKeptByteForByte) {
    EXPECT_EQ(In(0, 11), "Abbrechen");
    EXPECT_EQ(In(0, 305), "Unblock PIN");
    EXPECT_EQ(In(0, 306), "Unblock PIN");
    EXPECT_EQ(In(0, 807), "Logging aktive");
    EXPECT_EQ(In(0, 810), "Use pinpad dialog ");
    EXPECT_EQ(In(1, 203), "Update");
    EXPECT_EQ(In(1, 306), "PIN2 Entsperren");
    EXPECT_EQ(In(2, 306), "Lås upp PIN2");
    EXPECT_EQ(In(1, 501), "Die Null-PIN ist aktiv, bitte ändern Sie die PIN.");
    EXPECT_EQ(In(2, 501), "Null-PIN aktiv, ändra PIN-kod.");
    EXPECT_EQ(In(2, 1432), "OK (noch %d) Versuche)");
    EXPECT_EQ(In(1, 8002), "SmartCard wird eingelesen.");
    EXPECT_EQ(In(2, 8002), "Läser information från ditt smartcard.");
    EXPECT_EQ(In(2, 1400), "TCOS 3.0 Personalisieren");
    EXPECT_EQ(In(1, 31), "Der Zertifikatsverteilungsdienst (CertPropSvc) ist aktiviert. Bitte "
                         "deaktivieren Sie den Dienst.");

    for (int language : {0, 1, 2}) {
        const std::string pin = In(language, 810);
        EXPECT_TRUE(pin.size() > 1 && pin.back() == ' ' && pin[pin.size() - 2] != ' ') << language;
        for (unsigned id = 507; id <= 514; ++id) {
            const std::string text = In(language, id);
            ASSERT_GE(text.size(), 3u);
            EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << language << " " << id;
            EXPECT_EQ(text.find('\r'), text.size() - 2) << language << " " << id;
        }
        for (unsigned id : {515u, 504u, 1475u}) {
            EXPECT_EQ(In(language, id).find_first_of("\r\n"), std::string::npos);
        }
    }

    // Swedish never got these translated, and shares the personalization block
    // with German apart from its own 1432.
    for (unsigned id : {31u, 809u}) {
        EXPECT_EQ(In(2, id), In(0, id)) << id;
    }
    EXPECT_EQ(In(0, 31), "Certificate propagiation service (CertPropSvc) is activ, please "
                         "deactivate this service.");
    for (const CMsgRecord& record : SwedishMessages()) {
        if (record.id >= 1400 && record.id <= 1475 && record.id != 1432) {
            EXPECT_EQ(In(2, record.id), In(1, record.id)) << record.id;
        }
    }
}

TEST_F(MsgTest, TablesAgreeInIdsAndPlaceholders) {
    const auto english = EnglishMessages();
    const auto german = GermanMessages();
    const auto swedish = SwedishMessages();
    ASSERT_EQ(german.size(), english.size());
    ASSERT_EQ(swedish.size(), english.size());
    ASSERT_EQ(english.back().id, kMsgEndId);
    EXPECT_EQ(english.size(), 127u); // 126 texts and the end record

    for (size_t i = 0; i < english.size(); ++i) {
        EXPECT_EQ(german[i].id, english[i].id) << i;
        EXPECT_EQ(swedish[i].id, english[i].id) << i;
        if (i + 1 < english.size()) {
            EXPECT_LT(english[i].id, english[i + 1].id) << i;
            EXPECT_NE(english[i].id, kMsgEndId) << "end record before the end at " << i;
        }
        for (const auto* table : {&english, &german, &swedish}) {
            const char* text = (*table)[i].text;
            ASSERT_NE(text, nullptr) << i;
            EXPECT_NE(text[0], '\0') << english[i].id;
        }
        const size_t placeholders = CountPlaceholders(english[i].text);
        EXPECT_EQ(CountPlaceholders(german[i].text), placeholders) << english[i].id;
        EXPECT_EQ(CountPlaceholders(swedish[i].text), placeholders) << english[i].id;
        // No other conversion may sneak into a translation: callers pass one int.
        for (const auto* table : {&german, &swedish}) {
            const std::string_view text = (*table)[i].text;
            EXPECT_EQ(std::count(text.begin(), text.end(), '%'), placeholders) << english[i].id;
        }
    }
}

} // namespace
