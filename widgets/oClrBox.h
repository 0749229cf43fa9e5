#pragma once

#include "platform/Colors.h"

#include <QComboBox>
#include <QString>

#include <functional>

// The groups a colour combo can list.
enum TColorGroup
{
    clrPure = 0x1, // the 16 pure colours
    clrCtrl = 0x2, // the 21 system colours
    clrUser = 0x4, // one entry "Other..." holding a colour of the user's choice
};
using TColorSet = int;

// A drop-down list of colour swatches (with or without their names).
class ToColorCombo : public QComboBox
{
    Q_OBJECT
public:
    explicit ToColorCombo(QWidget *parent = nullptr);

    TColorSet ColorSet() const { return m_set; }
    // Rebuilds the list; an empty set counts as {clrUser}.
    void setColorSet(TColorSet set);
    TColor ColorValue() const { return m_value; }
    // Selects the first item of that colour; without one the user entry takes it, and
    // without a user entry nothing changes.
    void setColorValue(TColor v);
    // The same as setColorValue when the list has a user entry; otherwise nothing.
    void setColorUser(TColor v);
    bool DrawColorName() const { return m_drawNames; }
    void setDrawColorName(bool on);
    // The user entry is in the list and selected.
    bool IsUserEntrySelected() const;

    // Re-entrancy guard of the owner's change handler.
    int Tag = 0;
    // After the chosen colour changed (by the user or by code).
    std::function<void(QObject *Sender)> OnChange;

    int itemCount() const { return count(); }
    TColor itemColor(int index) const;
    QString itemName(int index) const;
    // 1.2 x the font's character height, at least 10 pixels.
    int itemHeight() const;
    // Draws one item into rect as the list and the closed field show it.
    void drawItem(QPainter &p, const QRect &rect, int index, bool selected) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    void build();
    void userPicked(int index);
    void setItemColor(int index, TColor c);

    TColorSet m_set = clrPure | clrCtrl;
    TColor m_value = clBlack;
    bool m_drawNames = true;
};
