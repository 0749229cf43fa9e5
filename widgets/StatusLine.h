#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QStatusBar;

// The hint of a status bar, so that no message is lost to another: the bar shows one
// message at a time, cut where its permanent fields begin; its hint then holds the message
// whole, and the few messages it replaced before, each with the time it was said. A bar
// whose message fits and replaced nothing has no hint.
class TStatusLine : public QObject
{
    Q_OBJECT
public:
    TStatusLine(QStatusBar &bar, const IClock &clock);

    // Earlier messages kept in the hint.
    static constexpr int Kept = 3;

    // The width the bar gives its message: up to the first permanent field shown.
    int messageWidth() const;
    bool messageCut() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void messageChanged(const QString &text);
    void updateHint();

    QStatusBar &m_bar;
    const IClock &m_clock;
    // "10:01:23 text", the newest first; the first is the message shown now (if any).
    QStringList m_said;
    QString m_current;
};
