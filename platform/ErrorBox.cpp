#include "platform/ErrorBox.h"

#include <QMessageBox>

namespace {
std::function<void(const QString &)> &hook()
{
    static std::function<void(const QString &)> h;
    return h;
}
} // namespace

void ErrorBox::setHookForTesting(std::function<void(const QString &)> h)
{
    hook() = std::move(h);
}

void ErrorBox::show(QWidget *parent, const QString &text)
{
    if (hook()) {
        hook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Fehler"), text, QMessageBox::Ok, parent);
    box.exec();
}
