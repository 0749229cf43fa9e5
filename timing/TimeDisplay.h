#pragma once

#include "timing/Chronometer.h"

#include <QWidget>

// The time display panel (PanelTimer): two rows of the time of day.
class TTimeDisplay : public QWidget, public IDisplayOutput
{
    Q_OBJECT
public:
    explicit TTimeDisplay(QWidget *parent = nullptr);

    void ShowTime(int row, qint32 value) override;

    // The value each row shows now.
    qint32 shownValue(int row) const { return m_value[row & 1]; }

private:
    qint32 m_value[2] = {0, 0};
};
