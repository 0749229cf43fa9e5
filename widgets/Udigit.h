#pragma once

#include "platform/Colors.h"

#include <QWidget>

#include <functional>

// One decimal digit drawn as a seven-segment figure with a corner point. It knows nothing
// about time: it shows a digit value or a raw segment pattern in two colours, with the
// segment geometry derived from its size, Thickness and Separation.
class TDigit : public QWidget
{
    Q_OBJECT
public:
    enum TBorderStyle
    {
        bsNone,
        bsSingle
    };

    // Segment bits of ValueBinary.
    enum Segment : quint8
    {
        SegTop = 1,
        SegMiddle = 2,
        SegBottom = 4,
        SegUpperLeft = 8,
        SegUpperRight = 16,
        SegLowerLeft = 32,
        SegLowerRight = 64,
        SegPoint = 128,
    };

    explicit TDigit(QWidget *parent = nullptr);

    // The segment pattern of the digits 0 to 9.
    static quint8 digitPattern(int digit);

    int Value() const { return m_value; }
    // Values outside 0 to 9 show 0 and fire OnOverflow.
    void setValue(int v);
    quint8 ValueBinary() const { return m_valueBinary; }
    void setValueBinary(quint8 v);

    TColor ColorOn() const { return m_colorOn; }
    void setColorOn(TColor c);
    TColor ColorOff() const { return m_colorOff; }
    void setColorOff(TColor c);
    // Background, and the outline colour of every segment.
    TColor Color() const { return m_color; }
    void setColor(TColor c);

    // Half the width of a segment bar; refused silently when larger than half the width
    // or half the height.
    int Thickness() const { return m_thickness; }
    void setThickness(int t);
    // Gap between the ends of neighbouring segments; any value is taken.
    int Separation() const { return m_separation; }
    void setSeparation(int s);

    // Kept for forms that set it; no frame is drawn for either value.
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(TBorderStyle b);

    int Tag = 0;

    std::function<void(QObject *Sender)> OnOverflow;
    std::function<void(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseDown;
    std::function<void(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseUp;
    std::function<void(QObject *Sender, Qt::KeyboardModifiers Shift, int X, int Y)> OnMouseMove;

    QSize sizeHint() const override { return {16, 32}; }

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;

private:
    int m_value = 0;
    quint8 m_valueBinary = 125;
    TColor m_colorOn = clYellow;
    TColor m_colorOff = clBlack;
    TColor m_color = clBlack;
    int m_thickness = 2;
    int m_separation = 1;
    TBorderStyle m_borderStyle = bsSingle;
};
