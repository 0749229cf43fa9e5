#pragma once

#include "platform/Colors.h"
#include "platform/Timer.h"

#include <QAbstractButton>
#include <QPointer>

#include <memory>
#include <optional>

class QMenu;

// The push button with a gradient face, a rounded outline and hot tracking; the main window
// uses it for START, ZEIT and STOPP.
// It reports the press of any mouse button (mouseDown) before the click, because START
// and ZEIT act on the press; STOPP acts on the click: the release of the left button after
// a left press, wherever the pointer is then. Keys never click it: Return typed for a
// start number must not stop or reset the chronometer because a command button kept the
// focus after a click.
class TLbButton : public QAbstractButton
{
    Q_OBJECT
public:
    // The fade after the pointer leaves runs on a timer from timers (tests hand in theirs).
    explicit TLbButton(QWidget *parent = nullptr, const TimerFactory &timers = makeQtTimer);
    ~TLbButton() override;

    // "No colour" for HotTrackColor and ColorWhenDown.
    static constexpr TColor clNone = 0x1FFFFFFF;
    // Steps of the hot level, and the pause between two steps of the fade.
    static constexpr int kHotLevels = 8;
    static constexpr int kFadeStepMs = 30;

    TColor Color() const { return m_color; }
    void setColor(TColor c) { assign(m_color, c); }
    // The gradient runs from ColorLight at the top and bottom edges to the face.
    TColor ColorLight() const { return m_colorLight; }
    void setColorLight(TColor c) { assign(m_colorLight, c); }
    TColor ColorShadow() const { return m_colorShadow; }
    void setColorShadow(TColor c) { assign(m_colorShadow, c); }
    // The face is blended towards it while the pointer is over the button (clNone: never).
    TColor HotTrackColor() const { return m_hotTrackColor; }
    void setHotTrackColor(TColor c) { assign(m_hotTrackColor, c); }
    // The face while pressed (clNone: the face as it is).
    TColor ColorWhenDown() const { return m_colorWhenDown; }
    void setColorWhenDown(TColor c) { assign(m_colorWhenDown, c); }
    TColor FontColor() const { return m_fontColor; }
    void setFontColor(TColor c) { assign(m_fontColor, c); }
    // The caption's font and colour while the pointer is over the button or it has the focus,
    // when UseHotTrackFont is on. The font follows font() until one is set.
    QFont HotTrackFont() const { return m_hotTrackFont.value_or(font()); }
    void setHotTrackFont(const QFont &f);
    TColor HotTrackFontColor() const { return m_hotTrackFontColor; }
    void setHotTrackFontColor(TColor c) { assign(m_hotTrackFontColor, c); }
    bool UseHotTrackFont() const { return m_useHotTrackFont; }
    void setUseHotTrackFont(bool on) { assign(m_useHotTrackFont, on); }
    bool WordWrap() const { return m_wordWrap; }
    void setWordWrap(bool on) { assign(m_wordWrap, on); }
    // Horizontal alignment of the caption.
    Qt::Alignment Alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment a);
    // On: the hot level falls step by step after the pointer leaves instead of at once.
    bool SlowDecease() const { return m_slowDecease; }
    void setSlowDecease(bool on);
    // Non-zero: a click ends the modal dialog the button sits on with this result.
    int ModalResult() const { return m_modalResult; }
    void setModalResult(int r) { m_modalResult = r; }
    // Opens below the button after a click.
    QMenu *PopupMenu() const;
    void setPopupMenu(QMenu *m);

    // 0 (not hot) to kHotLevels (pointer over it).
    int hotLevel() const { return m_hotLevel; }
    // The face as drawn now: blended by the hot level, or the pressed colour.
    QColor faceColor() const;

    QSize sizeHint() const override { return {100, 23}; }

signals:
    void mouseDown(Qt::MouseButton button);
    void OnMouseEnter(TLbButton *sender);
    void OnMouseExit(TLbButton *sender);

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void changeEvent(QEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;

private:
    // Setters store a changed value and repaint; an unchanged one costs nothing.
    template <class T> void assign(T &member, const T &value)
    {
        if (member == value)
            return;
        member = value;
        update();
    }
    void setHotLevel(int level);
    void fadeStep();
    void afterClick();
    QImage render() const;

    TColor m_color = clBtnFace;
    TColor m_colorLight = clWhite;
    TColor m_colorShadow = clGray;
    TColor m_hotTrackColor = clNone;
    TColor m_colorWhenDown = clNone;
    TColor m_fontColor = clBlack;
    std::optional<QFont> m_hotTrackFont;
    TColor m_hotTrackFontColor = clWhite;
    bool m_useHotTrackFont = false;
    bool m_wordWrap = false;
    Qt::Alignment m_alignment = Qt::AlignHCenter;
    bool m_slowDecease = false;
    int m_modalResult = 0;
    QPointer<QMenu> m_popupMenu;

    int m_hotLevel = 0;
    bool m_pointerInside = false;
    // A left press is held: its release clicks, inside the button or not.
    bool m_pressed = false;
    std::unique_ptr<ITimer> m_fade;
};
