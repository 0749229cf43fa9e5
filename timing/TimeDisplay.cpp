#include "timing/TimeDisplay.h"

#include <QPalette>

TTimeDisplay::TTimeDisplay(QWidget *parent) : QWidget(parent)
{
    setObjectName("PanelTimer");
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    resize(492, 239);
}

void TTimeDisplay::ShowTime(int row, qint32 value)
{
    m_value[row & 1] = value;
}
