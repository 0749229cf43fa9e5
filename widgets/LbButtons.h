#pragma once

#include "platform/Colors.h"

#include <QAbstractButton>

// The large command button of the main window (START, ZEIT, STOPP).
// It reports the press of any mouse button (mouseDown) before the click, because START
// and ZEIT act on the press; STOPP acts on the click, which also comes from the release
// of Enter or Space while it has the focus.
class TLbButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TLbButton(QWidget *parent = nullptr);

    TColor Color() const { return m_color; }
    void setColor(TColor c);
    TColor HotTrackColor() const { return m_hotTrackColor; }
    void setHotTrackColor(TColor c) { m_hotTrackColor = c; }
    TColor FontColor() const { return m_fontColor; }
    void setFontColor(TColor c);
    // Font colour while the pointer is over the button.
    TColor HotTrackFontColor() const { return m_hotTrackFontColor; }
    void setHotTrackFontColor(TColor c) { m_hotTrackFontColor = c; }
    bool isHot() const { return m_hot; }

    QSize sizeHint() const override { return {100, 23}; }

signals:
    void mouseDown(Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;

private:
    TColor m_color = clBtnFace;
    TColor m_hotTrackColor = clBtnFace;
    TColor m_fontColor = clBlack;
    TColor m_hotTrackFontColor = clWhite;
    bool m_hot = false;
    bool m_keyDown = false;
};
