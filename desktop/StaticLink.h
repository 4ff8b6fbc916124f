#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QString>

#include <optional>

// A text label turned into a hyperlink: drawn underlined in the link colour, with a hand cursor
// over it; a left click (or Space / Enter when it has the keyboard focus, or the "press" action
// of an assistive tool) hands the target to the desktop's handler. Once a target has opened the
// label turns to the visited colour for the rest of its life; a target that cannot be opened
// beeps and leaves the colour alone.
class CStaticLink : public QLabel {
    Q_OBJECT
public:
    static inline const QColor kUnvisitedColour{0, 0, 255};
    static inline const QColor kVisitedColour{128, 0, 128};

    // An empty target makes the label's own text the target.
    explicit CStaticLink(const QString& target = QString(), QWidget* parent = nullptr);

    const QString& Target() const { return m_target; }
    void SetTarget(const QString& target) { m_target = target; }
    QColor Colour() const { return m_colour; }

    // The click: opens the target (or the text); nothing when both are empty.
    void OpenLink();

    // The hand cursor, looked up once per process on the first hover of any link; null when
    // the lookup found none (the arrow stays then).
    static const QCursor* LinkCursor();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    void UseLinkFont();
    void ApplyColour();

    QString m_target;
    QColor m_colour = kUnvisitedColour;
    std::optional<QFont> m_linkFont;
};
