#pragma once

#include <QString>

#include <functional>

class QWidget;

// The error message box with one OK button.
namespace ErrorBox {
void show(QWidget *parent, const QString &text);
// Tests: the hook receives the text instead of a box being shown.
void setHookForTesting(std::function<void(const QString &)> hook);
} // namespace ErrorBox
