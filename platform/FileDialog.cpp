#include "platform/FileDialog.h"

#include <QFileDialog>

namespace {
TFileDialog::Hook &hook()
{
    static TFileDialog::Hook h;
    return h;
}

// "*.html" -> "html"
QString suffixOf(const QString &pattern)
{
    const qsizetype dot = pattern.lastIndexOf(QLatin1Char('.'));
    const QString s = dot < 0 ? QString() : pattern.mid(dot + 1);
    return s.contains(QLatin1Char('*')) ? QString() : s;
}
} // namespace

void TFileDialog::setHookForTesting(Hook h)
{
    hook() = std::move(h);
}

QStringList TFileDialog::parts() const
{
    return Filter.isEmpty() ? QStringList() : Filter.split(QLatin1Char('|'));
}

int TFileDialog::entryCount() const
{
    return int(parts().size() / 2);
}

QString TFileDialog::description(int entry) const
{
    return parts().value(2 * (entry - 1));
}

QString TFileDialog::pattern(int entry) const
{
    return parts().value(2 * (entry - 1) + 1);
}

bool TFileDialog::Execute(QWidget *parent)
{
    if (hook()) {
        const std::optional<Answer> a = hook()(*this);
        if (!a)
            return false;
        FileName = a->fileName;
        FilterIndex = a->filterIndex;
        return true;
    }

    QFileDialog dlg(parent);
    const int n = entryCount();
    QStringList names;
    for (int i = 1; i <= n; ++i) {
        // Qt takes the patterns from the parentheses at the end of each name.
        const QString d = description(i);
        const QString p = pattern(i);
        names << (d.endsWith(QLatin1Char('(') + p + QLatin1Char(')'))
                      ? d
                      : d + QStringLiteral(" (") + p + QLatin1Char(')'));
    }
    dlg.setNameFilters(names);
    const int index = (FilterIndex >= 1 && FilterIndex <= n) ? FilterIndex : 1;
    if (n > 0)
        dlg.selectNameFilter(names[index - 1]);
    if (m_kind == OpenKind) {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setDefaultSuffix(DefaultExt);
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        // A name typed without extension gets the one of the chosen type.
        const QString s = n > 0 ? suffixOf(pattern(index)) : QString();
        dlg.setDefaultSuffix(s.isEmpty() ? DefaultExt : s);
        QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg,
                         [&dlg, names, this](const QString &f) {
                             const QString s = suffixOf(pattern(int(names.indexOf(f)) + 1));
                             dlg.setDefaultSuffix(s.isEmpty() ? DefaultExt : s);
                         });
    }
    if (!InitialDir.isEmpty())
        dlg.setDirectory(InitialDir);
    if (!FileName.isEmpty())
        dlg.selectFile(FileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    FileName = dlg.selectedFiles().constFirst();
    const int chosen = int(names.indexOf(dlg.selectedNameFilter()));
    FilterIndex = chosen >= 0 ? chosen + 1 : index;
    return true;
}
