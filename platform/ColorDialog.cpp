#include "platform/ColorDialog.h"

#include <QColorDialog>

namespace {
TColorDialog::Hook &hook()
{
    static TColorDialog::Hook h;
    return h;
}
} // namespace

void TColorDialog::setHookForTesting(Hook h)
{
    hook() = std::move(h);
}

bool TColorDialog::Execute(QWidget *parent)
{
    std::optional<TColor> chosen;
    if (hook()) {
        chosen = hook()(*this);
    } else {
        const QColor c = QColorDialog::getColor(toQColor(Color), parent);
        if (c.isValid())
            chosen = fromQColor(c);
    }
    if (!chosen)
        return false;
    Color = *chosen;
    return true;
}
