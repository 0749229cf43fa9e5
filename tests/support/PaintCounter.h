#pragma once

#include "platform/Colors.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QWidget>

#include <map>

// Counts the paint events each watched widget receives.
class PaintCounter : public QObject
{
public:
    void watch(QWidget *w)
    {
        w->installEventFilter(this);
        counts[w] = 0;
    }
    int count(const QWidget *w) const
    {
        const auto it = counts.find(w);
        return it == counts.end() ? -1 : it->second;
    }
    void reset()
    {
        for (auto &c : counts)
            c.second = 0;
    }

    std::map<const QObject *, int> counts;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++counts[o];
        return false;
    }
};

// Delivers the pending repaints of shown widgets now, without waiting for a timer.
inline void flushPaints()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A pixel of a grabbed image as a stored colour value (0x00BBGGRR).
inline TColor pixelAt(const QImage &img, int x, int y)
{
    return fromQColor(img.pixelColor(x, y));
}
