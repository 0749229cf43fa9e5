#pragma once

#include "platform/ErrorBox.h"
#include "platform/FileDialog.h"
#include "platform/Shell.h"
#include "tests/support/core/FailingDevice.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <deque>
#include <optional>

// Answers the file dialogs in advance and records the error boxes and the shell verbs,
// so that no file command waits for a person or starts a viewer.
class FileSeams
{
public:
    FileSeams()
    {
        TFileDialog::setHookForTesting([this](const TFileDialog &d) {
            shown.push_back(
                Shown{d.kind(), d.Filter, d.FilterIndex, d.InitialDir, d.FileName, d.DefaultExt});
            std::optional<TFileDialog::Answer> result;
            if (!answers.empty()) {
                const Next next = answers.front();
                answers.pop_front();
                if (next.proposed)
                    result.emplace(TFileDialog::Answer{d.FileName, d.FilterIndex});
                else if (!next.cancel)
                    result.emplace(TFileDialog::Answer{next.fileName, next.filterIndex});
            }
            return result;
        });
        ErrorBox::setHookForTesting([this](const QString &t) { errors << t; });
        Shell::setHookForTesting([this](const QString &verb, const QString &file) {
            verbs << qMakePair(verb, file);
            return !passPrint || verb != QStringLiteral("print");
        });
    }
    ~FileSeams()
    {
        TFileDialog::setHookForTesting({});
        ErrorBox::setHookForTesting({});
        Shell::setHookForTesting({});
        Shell::setPrinterForTesting(nullptr);
    }

    // The next dialog chooses this file and entry; cancel() makes it cancel.
    void choose(const QString &file, int entry) { answers.push_back(Next{false, file, entry}); }
    void cancel() { answers.push_back(Next{true, QString(), 0}); }
    // The next dialog is confirmed as it comes up: its proposed file and entry.
    void acceptProposal() { answers.push_back(Next{false, QString(), 0, true}); }

    struct Shown
    {
        TFileDialog::Kind kind;
        QString filter;
        int filterIndex;
        QString initialDir;
        QString fileName;
        QString defaultExt;
    };
    struct Next
    {
        bool cancel;
        QString fileName;
        int filterIndex;
        bool proposed = false;
    };
    // An empty queue cancels.
    std::deque<Next> answers;
    std::vector<Shown> shown;
    QStringList errors;
    QList<QPair<QString, QString>> verbs;
    // Let "print" go on to the printer set with Shell::setPrinterForTesting.
    bool passPrint = false;
};
