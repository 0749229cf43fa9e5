#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// An open or save dialog set up through its properties and shown by Execute, which
// leaves the chosen name and type entry in FileName and FilterIndex.
class TFileDialog
{
public:
    enum Kind
    {
        OpenKind,
        SaveKind
    };
    explicit TFileDialog(Kind kind) : m_kind(kind) {}

    Kind kind() const { return m_kind; }
    // Descriptions and patterns, "|" between all parts: "Text (*.txt)|*.txt|...".
    QString Filter;
    // The selected type entry, counted from 1.
    int FilterIndex = 1;
    QString InitialDir;
    QString FileName;
    // Without the dot.
    QString DefaultExt;

    int entryCount() const;
    QString description(int entry) const;
    QString pattern(int entry) const;

    // Shows the dialog; false when the user cancels. Open accepts only an existing file;
    // Save asks before it replaces one.
    bool Execute(QWidget *parent = nullptr);

    // Tests answer in advance: the hook sees the dialog as it would be shown and returns
    // the chosen file and entry, or nothing to cancel.
    struct Answer
    {
        QString fileName;
        int filterIndex = 1;
    };
    using Hook = std::function<std::optional<Answer>(const TFileDialog &)>;
    static void setHookForTesting(Hook hook);

private:
    QStringList parts() const;
    Kind m_kind;
};
