#pragma once

#include "platform/Timer.h"

#include <QClipboard>
#include <QLineEdit>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>

// One half of a spin button: a flat button that clicks on release and, while held,
// again after 400 ms and then every 100 ms.
class TTimerSpeedButton : public QWidget
{
    Q_OBJECT
public:
    static constexpr int InitRepeatPause = 400;
    static constexpr int RepeatPause = 100;

    explicit TTimerSpeedButton(QWidget *parent = nullptr);
    ~TTimerSpeedButton() override;

    QPixmap Glyph() const { return m_glyph; }
    void setGlyph(const QPixmap &glyph);
    // Repeats while held (on for both halves of a spin button).
    bool allowTimer() const { return m_allowTimer; }
    void setAllowTimer(bool on) { m_allowTimer = on; }
    // The spin button shows its keyboard focus on one half.
    bool drawFocusRect() const { return m_drawFocusRect; }
    void setDrawFocusRect(bool on);

    // Where the repeat timer comes from; it is made on the first press.
    void setTimerFactory(TimerFactory factory) { m_factory = std::move(factory); }
    ITimer *repeatTimer() const { return m_timer.get(); }

    // Shown pressed: held with the left button and the mouse over it.
    bool isDown() const { return m_down; }
    void click();

    std::function<void()> OnClick;
    // A left press, before the repeat starts.
    std::function<void()> OnPress;

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void paintEvent(QPaintEvent *e) override;

private:
    void timerExpired();

    QPixmap m_glyph;
    bool m_allowTimer = false;
    bool m_drawFocusRect = false;
    bool m_held = false;
    bool m_down = false;
    TimerFactory m_factory;
    std::unique_ptr<ITimer> m_timer;
};

// Two stacked halves, up over down, overlapping by one pixel; default 20 x 25, never
// narrower than 15. Clicking a half hands the keyboard focus to FocusControl.
class TSpinButton : public QWidget
{
    Q_OBJECT
public:
    explicit TSpinButton(QWidget *parent = nullptr);

    TTimerSpeedButton *UpButton() const { return m_up; }
    TTimerSpeedButton *DownButton() const { return m_down; }
    // The half Space and the arrow keys act on (the up half at first).
    TTimerSpeedButton *focusedButton() const { return m_focused; }

    void setUpGlyph(const QPixmap &glyph) { m_up->setGlyph(glyph); }
    void setDownGlyph(const QPixmap &glyph) { m_down->setGlyph(glyph); }
    void setTimerFactory(const TimerFactory &factory);
    QSize sizeHint() const override { return QSize(20, 25); }

    // The control that receives the focus when a half is pressed (the owning edit).
    QWidget *FocusControl = nullptr;

    std::function<void(QObject *Sender)> OnUpClick;
    std::function<void(QObject *Sender)> OnDownClick;

    // The 9 x 6 arrows drawn when no other glyphs are given.
    static QPixmap spinUpGlyph();
    static QPixmap spinDownGlyph();

protected:
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;

private:
    void setFocusBtn(TTimerSpeedButton *b);
    void halfPressed(TTimerSpeedButton *b);
    void updateFocusRects();

    TTimerSpeedButton *m_up;
    TTimerSpeedButton *m_down;
    TTimerSpeedButton *m_focused;
};

// An integer field with a spin button. Equal limits (both 0 too) mean no limit.
class TSpinEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    // The text as an integer; a text that is no number reads as MinValue.
    qint32 Value() const;
    void setValue(qint32 v);
    qint32 MinValue() const { return m_min; }
    void setMinValue(qint32 v);
    qint32 MaxValue() const { return m_max; }
    void setMaxValue(qint32 v);
    qint32 Increment() const { return m_increment; }
    void setIncrement(qint32 v) { m_increment = v; }
    // Off: only the spin actions change the value.
    bool EditorEnabled() const { return m_editorEnabled; }
    void setEditorEnabled(bool on) { m_editorEnabled = on; }
    // How many characters may be typed (0: any); the spin actions are not limited by it.
    int MaxLength() const { return m_maxLength; }
    void setMaxLength(int n) { m_maxLength = qMax(0, n); }
    bool AutoSelect = true;

    TSpinButton *Button() const { return m_button; }
    void setTimerFactory(const TimerFactory &factory) { m_button->setTimerFactory(factory); }

    void UpClick(QObject *Sender);
    void DownClick(QObject *Sender);
    qint32 CheckValue(qint32 v) const;

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    bool mayChangeText() const { return m_editorEnabled && !isReadOnly(); }
    // Characters that still fit in MaxLength when the selection is replaced.
    int room() const;
    void pasteLimited(QClipboard::Mode mode);

    TSpinButton *m_button;
    qint32 m_min = 0;
    qint32 m_max = 0;
    qint32 m_increment = 1;
    bool m_editorEnabled = true;
    int m_maxLength = 0;
};

// Places a spin button inside an edit's frame, the text area ending 2 pixels before it.
void placeSpinButton(QLineEdit &edit, TSpinButton &button);
