// The message-box seam and the session-bus request, with a real Qt application (offscreen)
// and the private session bus of scripts/with-services.sh.
#include "PrivateBus.h"
#include "platform/qt/MdMessage.h"
#include "platform/qt/MdMessageReceiver.h"
#include "platform/qt/MessageBox.h"
#include "tests/support/RecordLines.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using velktest::RecordLines;

class PlatformQtTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("boxes.log")).toStdString();
        ::setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("VELKORA_MSGBOX_LOG");
        ::unsetenv("VELKORA_MSGBOX_ANSWER");
    }

    QTemporaryDir m_dir;
    std::string m_log;
};

TEST_F(PlatformQtTest, MessageBoxIsRecordedAsOneLineAndAnswered) {
    // CR LF and tabs in a text must not break the one-line record.
    EXPECT_EQ(ShowMessageBox("Written.\r\n\tnext\\", "Personalisierung", MsgIcon::Information),
              MsgResult::Ok);
    EXPECT_EQ(
        ShowMessageBox(QStringLiteral("Größe"), QString(), MsgIcon::Warning, MsgButtons::YesNo),
        MsgResult::Yes);

    // Scripted answers are taken in order; one the box does not offer gives its default.
    ::setenv("VELKORA_MSGBOX_ANSWER", "no,cancel,bogus,cancel", 1);
    EXPECT_EQ(ShowMessageBox("a", "c", MsgIcon::Question, MsgButtons::YesNoCancel), MsgResult::No);
    EXPECT_EQ(ShowMessageBox("b", "c", MsgIcon::Error, MsgButtons::Ok), MsgResult::Ok);
    EXPECT_EQ(ShowMessageBox("c", "c", MsgIcon::None, MsgButtons::OkCancel), MsgResult::Ok);
    EXPECT_EQ(ShowMessageBox("d", "c", MsgIcon::None, MsgButtons::OkCancel), MsgResult::Cancel);
    EXPECT_EQ(ShowMessageBox("e", "c", MsgIcon::None, MsgButtons::YesNo), MsgResult::Yes);

    const std::vector<std::string> expected = {
        "msgbox\tinformation\tPersonalisierung\tWritten.\\r\\n\\tnext\\\\\tok",
        "msgbox\twarning\t\tGröße\tyes",
        "msgbox\tquestion\tc\ta\tno",
        "msgbox\terror\tc\tb\tok",
        "msgbox\tnone\tc\tc\tok",
        "msgbox\tnone\tc\td\tcancel",
        "msgbox\tnone\tc\te\tyes",
    };
    EXPECT_EQ(RecordLines(m_log), expected);
}

TEST_F(PlatformQtTest, BusRequestReachesEveryReceiver) {
    const PrivateBus bus;
    ASSERT_TRUE(bus.Ok());
    CMdMessageReceiver first;
    CMdMessageReceiver second;
    ASSERT_TRUE(first.Listen());
    ASSERT_TRUE(second.Listen());
    QSignalSpy firstSpy(&first, &CMdMessageReceiver::MdMessage);
    QSignalSpy secondSpy(&second, &CMdMessageReceiver::MdMessage);

    // lParam is carried as a full 64-bit value; the receiver passes every wParam on.
    ASSERT_TRUE(PostMdMessage(mdmsg::kShowBalloon, 8000));
    ASSERT_TRUE(PostMdMessage(0x1234, INT64_MIN));
    while (firstSpy.count() < 2 && firstSpy.wait(10000)) {
    }
    while (secondSpy.count() < 2 && secondSpy.wait(10000)) {
    }
    // Separate senders give no order between their requests.
    const auto received = [](const QSignalSpy& spy) {
        std::set<std::pair<std::uint32_t, std::int64_t>> all;
        for (const QList<QVariant>& args : spy) {
            all.emplace(args.at(0).toUInt(), args.at(1).toLongLong());
        }
        return all;
    };
    const std::set<std::pair<std::uint32_t, std::int64_t>> expected = {{mdmsg::kShowBalloon, 8000},
                                                                       {0x1234, INT64_MIN}};
    EXPECT_EQ(received(firstSpy), expected);
    EXPECT_EQ(received(secondSpy), expected);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
