#pragma once

#include <QDialog>
#include <string>

// The modeless window without caption that says what a long card operation is doing while it
// runs. The caller shows it with Create, pumps the events once so that it paints, runs the
// operation, hides it, pumps again and destroys it.
class CDlgWait : public QDialog {
    Q_OBJECT
public:
    explicit CDlgWait(std::string text, QWidget* parent = nullptr);

    // Shows the window centred on the screen and in front; true when it is shown.
    bool Create();

    std::string m_strText;

protected:
    void paintEvent(QPaintEvent* event) override;
};
