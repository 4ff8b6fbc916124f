// The PIN-dialog watcher against windows of another program on a real X server with the
// accessibility bus: a dialog titled "Smart Card PIN" with a password field is answered once
// with the placeholder and Enter and not again; a title match without a text field is found
// and left alone; the watcher is not started on version 10 or with the setting off.
#include "desktop/PinWinFake.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// One stand-in dialog process, ended with the test.
class CDialogProcess {
public:
    CDialogProcess(const char* title, bool withField) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        m_process.setProcessEnvironment(env);
        QStringList args{QString::fromUtf8(title)};
        if (!withField) {
            args << "nofield";
        }
        m_process.start(VELK_PIN_DIALOG_WINDOW, args);
    }
    ~CDialogProcess() {
        m_process.kill();
        m_process.waitForFinished();
    }
    // The next line the dialog prints; empty when it prints none within `waitMs`.
    std::string NextLine(int waitMs = 30000) {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(waitMs)) {
        }
        return m_process.canReadLine() ? m_process.readLine().trimmed().toStdString() : "";
    }

private:
    QProcess m_process;
};

// The window appears on the accessibility bus a little after it is shown.
CPinDesktop::Item WaitForDialog(CPinDesktop& desktop) {
    for (int pass = 0; pass < 300; ++pass) {
        desktop.DispatchPending();
        CPinDesktop::Item found = FindPinDialog(desktop);
        if (!found.id.empty()) {
            return found;
        }
        QCoreApplication::processEvents();
        usleep(100000);
    }
    return {};
}

TEST(PinWatcherTest, NotStartedOnVersion10OrWithTheSettingOff) {
    setenv("VELKORA_OS_VERSION", "10.0", 1);
    EXPECT_FALSE(StartPinWatcher(true));
    EXPECT_EQ(g_StopPinWatcher, 1u);
    setenv("VELKORA_OS_VERSION", "5.1", 1);
    EXPECT_FALSE(StartPinWatcher(false));
    EXPECT_EQ(g_StopPinWatcher, 1u);
    EXPECT_EQ(g_PinWatcherRunning, 0u);
}

TEST(PinWatcherTest, AnswersTheDialogOnceWithThePlaceholderAndEnter) {
    setenv("VELKORA_OS_VERSION", "5.1", 1);
    CDialogProcess dialog("Smart Card PIN", true);
    ASSERT_EQ(dialog.NextLine(), "ready");
    ResetLastPinField();
    ASSERT_TRUE(StartPinWatcher(true));
    EXPECT_EQ(dialog.NextLine(), std::string("enter:") + kPinPlaceholder);
    StopPinWatcher();
    EXPECT_EQ(g_PinWatcherRunning, 0u);

    // The same field again: nothing typed. The marker typed afterwards arrives right after
    // the first answer, so a second answer would show before it.
    const std::unique_ptr<CPinDesktop> desktop = OpenSessionPinDesktop();
    ASSERT_NE(desktop, nullptr);
    const CPinDesktop::Item found = WaitForDialog(*desktop);
    ASSERT_EQ(found.title, "Smart Card PIN");
    AnswerPinDialog(*desktop, found);
    const CPinDesktop::Item field = desktop->FirstTextField(found);
    ASSERT_TRUE(desktop->SetForegroundWindow(found));
    ASSERT_TRUE(desktop->SetFocus(field));
    desktop->TypeKey('7');
    desktop->TypeKey('\r');
    EXPECT_EQ(dialog.NextLine(), std::string("enter:") + kPinPlaceholder + "7");
}

TEST(PinWatcherTest, ATitleMatchWithoutATextFieldIsFoundButNotAnswered) {
    setenv("VELKORA_OS_VERSION", "5.1", 1);
    // The German title comes first, whichever window is newer.
    CDialogProcess english("Smart Card PIN", true);
    CDialogProcess german("Smartcard-PIN", false);
    ASSERT_EQ(english.NextLine(), "ready");
    ASSERT_EQ(german.NextLine(), "ready");
    const std::unique_ptr<CPinDesktop> desktop = OpenSessionPinDesktop();
    ASSERT_NE(desktop, nullptr);
    CPinDesktop::Item found;
    for (int pass = 0; pass < 300 && found.title != "Smartcard-PIN"; ++pass) {
        found = WaitForDialog(*desktop);
    }
    ASSERT_EQ(found.title, "Smartcard-PIN");
    EXPECT_TRUE(desktop->FirstTextField(found).id.empty());
    ResetLastPinField();
    AnswerPinDialog(*desktop, found); // nothing to answer
    // The English dialog still gets its first answer: the field-less one did not count.
    for (const CPinDesktop::Item& window : desktop->TopLevelWindows()) {
        if (window.title == "Smart Card PIN") {
            AnswerPinDialog(*desktop, window);
        }
    }
    EXPECT_EQ(english.NextLine(), std::string("enter:") + kPinPlaceholder);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
