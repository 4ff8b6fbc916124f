#pragma once

// A dialog test with the virtual card in a simulated reader: messages recorded in the box log,
// English texts, and the card's image in the test's own folder.
#include "app/catalogue/Msg.h"
#include "pcscsim/SimControl.h"
#include "tests/events/MonitorProbe.h"
#include "vcard/VirtualCard.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace dlgtest {

class SimCardDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CMsg::SetLanguage(0);
        m_log = (m_dir.path() + "/boxes.log").toStdString();
        ::setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
        pcscsim::ResetAll();
        pcscsim::AddReader(kReader);
    }
    void TearDown() override {
        ::unsetenv("VELKORA_MSGBOX_LOG");
        pcscsim::ResetAll();
    }
    // A fresh card of the profile in the reader.
    void Insert(const std::string& profile) {
        const std::string image =
            evtest::CardImageCopy(profile, "card", m_dir.path().toStdString());
        std::shared_ptr<pcscsim::ICardEndpoint> card = vcard::OpenCard(profile, image);
        ASSERT_NE(card, nullptr);
        ASSERT_TRUE(pcscsim::InsertCard(kReader, card));
    }

    static constexpr const char* kReader = "Sim Reader 0";
    QTemporaryDir m_dir;
    std::string m_log;
};

} // namespace dlgtest
