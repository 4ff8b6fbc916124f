#include "desktop/StaticLink.h"

#include "desktop/LinkTarget.h"
#include "platform/qt/UiLog.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>

#include <memory>

namespace {

// What assistive tools see: a link named by its text that can be pressed.
class CStaticLinkAccessible : public QAccessibleWidget {
public:
    explicit CStaticLinkAccessible(CStaticLink* link)
        : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? Link()->text() : name;
        }
        if (t == QAccessible::Value || t == QAccessible::Description) {
            return Link()->Target().isEmpty() ? Link()->text() : Link()->Target();
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            Link()->OpenLink();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

private:
    CStaticLink* Link() const { return static_cast<CStaticLink*>(widget()); }
};

QAccessibleInterface* StaticLinkAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("CStaticLink") && object != nullptr && object->isWidgetType()) {
        // Qt's accessibility cache owns and deletes the interfaces a factory returns.
        return std::make_unique<CStaticLinkAccessible>(static_cast<CStaticLink*>(object)).release();
    }
    return nullptr;
}

struct LinkCursorState {
    bool tried = false;
    std::optional<QCursor> cursor;
};

LinkCursorState& CursorState() {
    static LinkCursorState state;
    return state;
}

} // namespace

CStaticLink::CStaticLink(const QString& target, QWidget* parent)
    : QLabel(parent), m_target(target) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(StaticLinkAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    // A static text takes no focus of its own; a link must be reachable by Tab.
    setFocusPolicy(Qt::StrongFocus);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setTextFormat(Qt::PlainText);
    ApplyColour();
}

const QCursor* CStaticLink::LinkCursor() {
    LinkCursorState& state = CursorState();
    if (!state.tried) {
        state.tried = true;
        // The desktop's pointing hand, from its cursor theme.
        state.cursor.emplace(Qt::PointingHandCursor);
    }
    return state.cursor ? &*state.cursor : nullptr;
}

bool CStaticLink::event(QEvent* event) {
    if (event->type() == QEvent::Polish) {
        UseLinkFont();
    }
    return QLabel::event(event);
}

void CStaticLink::UseLinkFont() {
    if (m_linkFont) {
        return;
    }
    // The font the label has been given (by its dialog), underlined, nothing else changed.
    m_linkFont = font();
    m_linkFont->setUnderline(true);
    setFont(*m_linkFont);
}

void CStaticLink::ApplyColour() {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, m_colour);
    palette.setColor(QPalette::Text, m_colour);
    setPalette(palette);
    // The dialog's background shows through.
    setAutoFillBackground(false);
}

void CStaticLink::enterEvent(QEnterEvent* event) {
    if (const QCursor* cursor = LinkCursor()) {
        setCursor(*cursor);
    }
    QLabel::enterEvent(event);
}

void CStaticLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OpenLink();
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CStaticLink::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OpenLink();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void CStaticLink::OpenLink() {
    const QString target = m_target.isEmpty() ? text() : m_target;
    if (target.isEmpty()) {
        return;
    }
    if (OpenLinkTarget(target)) {
        m_colour = kVisitedColour;
        ApplyColour();
        repaint();
    } else {
        uilog::Append("beep", {target.toStdString()});
        QApplication::beep();
    }
}
