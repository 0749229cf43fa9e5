#include "widgets/StatusLine.h"

#include <QEvent>
#include <QLayout>
#include <QSizeGrip>
#include <QStatusBar>

TStatusLine::TStatusLine(QStatusBar &bar, const IClock &clock)
    : QObject(&bar), m_bar(bar), m_clock(clock)
{
    connect(&bar, &QStatusBar::messageChanged, this, &TStatusLine::messageChanged);
    // A permanent field that grows or shows (the live address, the passes without a time)
    // or a narrower window may cut a message that fitted.
    bar.installEventFilter(this);
}

int TStatusLine::messageWidth() const
{
    // Where the bar draws its message: from 6 pixels in, up to 2 pixels before the first
    // permanent field shown, or 12 before its end.
    if (QLayout *l = m_bar.layout())
        l->activate();
    int right = m_bar.width() - 12;
    for (QObject *o : m_bar.children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (w && w->isVisible() && !qobject_cast<QSizeGrip *>(w) && !w->isWindow())
            right = qMin(right, w->x() - 2);
    }
    return qMax(0, right - 6);
}

bool TStatusLine::messageCut() const
{
    return !m_current.isEmpty() &&
           m_bar.fontMetrics().horizontalAdvance(m_current) > messageWidth();
}

bool TStatusLine::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_bar &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        updateHint();
    return QObject::eventFilter(watched, event);
}

void TStatusLine::messageChanged(const QString &text)
{
    m_current = text;
    if (!text.isEmpty()) {
        const TimeOfDay t = m_clock.now();
        m_said.prepend(QStringLiteral("%1:%2:%3 ")
                           .arg(t.hour, 2, 10, QLatin1Char('0'))
                           .arg(t.minute, 2, 10, QLatin1Char('0'))
                           .arg(t.second, 2, 10, QLatin1Char('0')) +
                       text);
        while (m_said.size() > Kept + 1)
            m_said.removeLast();
    }
    updateHint();
}

void TStatusLine::updateHint()
{
    const QStringList earlier = m_current.isEmpty() ? m_said : m_said.mid(1);
    QString hint;
    if (messageCut() || (!m_current.isEmpty() && !earlier.isEmpty()))
        hint = m_current;
    if (!earlier.isEmpty()) {
        if (!hint.isEmpty())
            hint += QStringLiteral("\n\n");
        hint += (m_current.isEmpty() ? QStringLiteral("Zuletzt:\n") : QStringLiteral("Davor:\n")) +
                earlier.join(QLatin1Char('\n'));
    }
    if (m_bar.toolTip() != hint)
        m_bar.setToolTip(hint);
}
