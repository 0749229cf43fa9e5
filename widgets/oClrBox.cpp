#include "widgets/oClrBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>

namespace {

struct NamedColor
{
    const char *name;
    TColor color;
};

constexpr NamedColor kPure[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080},  {"Green", 0x008000}, {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080},  {"Teal", 0x808000},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},     {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
};

// System colours 0 to 20, in the order of their numbers.
constexpr const char *kCtrl[] = {
    "ScrollBar",    "Background",     "ActiveCaption", "InactiveCaption", "Menu",
    "Window",       "WindowFrame",    "MenuText",      "WindowText",      "CaptionText",
    "ActiveBorder", "InactiveBorder", "AppWorkSpace",  "Highlight",       "HighlightText",
    "BtnFace",      "BtnShadow",      "GrayText",      "BtnText",         "InactiveCaptionText",
    "BtnHighlight",
};

class ColorItemDelegate : public QStyledItemDelegate
{
public:
    explicit ColorItemDelegate(ToColorCombo *combo) : QStyledItemDelegate(combo), m_combo(combo) {}

    void paint(QPainter *p, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        p->save();
        m_combo->drawItem(*p, option.rect, index.row(), option.state & QStyle::State_Selected);
        p->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return QSize(m_combo->width(), m_combo->itemHeight());
    }

private:
    ToColorCombo *m_combo;
};

} // namespace

ToColorCombo::ToColorCombo(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    setItemDelegate(new ColorItemDelegate(this));
    connect(this, &QComboBox::activated, this, &ToColorCombo::userPicked);
    build();
}

void ToColorCombo::build()
{
    clear();
    if (m_set & clrPure)
        for (const NamedColor &c : kPure)
            addItem(QLatin1String(c.name), uint(c.color));
    if (m_set & clrCtrl)
        for (int i = 0; i < int(std::size(kCtrl)); ++i)
            addItem(QLatin1String(kCtrl[i]), uint(0xFF000000u | TColor(i)));
    if (m_set & clrUser)
        addItem(QStringLiteral("Other..."), uint(clWhite));
    // What is shown is what is chosen.
    setCurrentIndex(0);
    m_value = itemColor(0);
    updateGeometry();
    update();
}

void ToColorCombo::setColorSet(TColorSet set)
{
    set &= clrPure | clrCtrl | clrUser;
    if (set == 0)
        set = clrUser;
    if (set == m_set)
        return;
    m_set = set;
    build();
}

TColor ToColorCombo::itemColor(int index) const
{
    return TColor(itemData(index).toUInt());
}

QString ToColorCombo::itemName(int index) const
{
    return itemText(index);
}

void ToColorCombo::setItemColor(int index, TColor c)
{
    setItemData(index, uint(c));
}

void ToColorCombo::setColorValue(TColor v)
{
    if (v == m_value)
        return;
    for (int i = 0; i < count(); ++i) {
        if (itemColor(i) == v) {
            m_value = v;
            setCurrentIndex(i);
            if (OnChange)
                OnChange(this);
            return;
        }
    }
    if (!(m_set & clrUser))
        return;
    const int last = count() - 1;
    m_value = v;
    setItemColor(last, v);
    setCurrentIndex(last);
    if (OnChange)
        OnChange(this);
    update();
}

void ToColorCombo::setColorUser(TColor v)
{
    if (m_set & clrUser)
        setColorValue(v);
}

void ToColorCombo::setDrawColorName(bool on)
{
    if (m_drawNames == on)
        return;
    m_drawNames = on;
    updateGeometry();
    update();
}

bool ToColorCombo::IsUserEntrySelected() const
{
    return (m_set & clrUser) && count() > 0 && currentIndex() == count() - 1;
}

void ToColorCombo::userPicked(int index)
{
    if (index < 0)
        return;
    m_value = itemColor(index);
    if (OnChange)
        OnChange(this);
}

int ToColorCombo::itemHeight() const
{
    return qMax(10, qRound(1.2 * fontMetrics().height()));
}

void ToColorCombo::drawItem(QPainter &p, const QRect &rect, int index, bool selected) const
{
    p.fillRect(rect, palette().color(selected ? QPalette::Highlight : QPalette::Base));
    if (index < 0 || index >= count())
        return;
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width();
    const int b = rect.top() + rect.height();
    const QRect swatch(QPoint(l + 2, t + 2), QPoint((m_drawNames ? l + 24 : r - 2) - 1, b - 3));
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
    p.fillRect(swatch.adjusted(1, 1, -1, -1), toQColor(itemColor(index)));
    if (m_drawNames) {
        p.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        p.drawText(QRect(l + 28, t, qMax(0, r - l - 28), rect.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, itemName(index));
    }
}

void ToColorCombo::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    opt.currentText.clear();
    opt.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    drawItem(painter, field, currentIndex(), hasFocus());
}

QSize ToColorCombo::sizeHint() const
{
    int textWidth = 0;
    if (m_drawNames)
        for (int i = 0; i < count(); ++i)
            textWidth = qMax(textWidth, fontMetrics().horizontalAdvance(itemName(i)));
    const QSize contents(m_drawNames ? 28 + textWidth + 4 : 48, itemHeight());
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    return style()->sizeFromContents(QStyle::CT_ComboBox, &opt, contents, this);
}

QSize ToColorCombo::minimumSizeHint() const
{
    return sizeHint();
}

void ToColorCombo::changeEvent(QEvent *e)
{
    QComboBox::changeEvent(e);
    // The item height follows the font.
    if (e->type() == QEvent::FontChange) {
        updateGeometry();
        if (view())
            view()->doItemsLayout();
    }
}
