#include "platform/ErrorBox.h"
#include "platform/FileDialog.h"
#include "tests/support/ResultsGrid.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The real dialogs, answered from inside their own event loop.
struct SeenDialog
{
    QStringList nameFilters;
    QString selectedFilter;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QString directory;
    QString defaultSuffix;
    bool confirmsOverwrite = false;
};

// Shows the dialog; `answer` sees it and accepts or rejects it.
bool runDialog(TFileDialog &d, SeenDialog &seen, const std::function<void(QFileDialog *)> &answer)
{
    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        seen.nameFilters = dlg->nameFilters();
        seen.selectedFilter = dlg->selectedNameFilter();
        seen.mode = dlg->acceptMode();
        seen.fileMode = dlg->fileMode();
        seen.directory = dlg->directory().absolutePath();
        seen.defaultSuffix = dlg->defaultSuffix();
        seen.confirmsOverwrite = !dlg->testOption(QFileDialog::DontConfirmOverwrite);
        answer(dlg);
    });
    return d.Execute(nullptr);
}

TEST(RealFileDialog, OpenOffersTheFilterAndAcceptsAnExistingFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("starter.txt");
    ASSERT_TRUE(writeBytes(file, "Nr.;Fahrer\r\n"));
    TFileDialog d(TFileDialog::OpenKind);
    d.Filter = "Textdatei (*.txt)|*.txt|MS Excel (*.xls)|*.xls";
    d.FilterIndex = 1;
    d.InitialDir = dir.path();
    d.DefaultExt = "txt";
    SeenDialog seen;
    EXPECT_TRUE(runDialog(d, seen, [&](QFileDialog *dlg) {
        dlg->selectFile(file);
        static_cast<QDialog *>(dlg)->accept();
    }));
    EXPECT_EQ(seen.nameFilters, (QStringList{"Textdatei (*.txt)", "MS Excel (*.xls)"}));
    EXPECT_EQ(seen.selectedFilter, "Textdatei (*.txt)");
    EXPECT_EQ(seen.mode, QFileDialog::AcceptOpen);
    EXPECT_EQ(seen.fileMode, QFileDialog::ExistingFile);
    EXPECT_EQ(seen.directory, dir.path());
    EXPECT_EQ(d.FileName, file);
    EXPECT_EQ(d.FilterIndex, 1);

    // Cancelled, the dialog keeps its previous choice.
    EXPECT_FALSE(runDialog(d, seen, [](QFileDialog *dlg) { dlg->reject(); }));
    EXPECT_EQ(d.FileName, file);
}

TEST(RealFileDialog, SaveReportsTheChosenEntryAndAsksBeforeReplacing)
{
    QTemporaryDir dir;
    TFileDialog d(TFileDialog::SaveKind);
    d.Filter = "Textdatei (*.txt)|*.txt|Webseite (*.html)|*.html";
    d.FilterIndex = 2;
    d.InitialDir = dir.path();
    d.FileName = "tornelo.txt";
    d.DefaultExt = "txt";
    SeenDialog seen;
    EXPECT_TRUE(runDialog(d, seen, [&](QFileDialog *dlg) {
        dlg->selectFile(dir.filePath("seite"));
        static_cast<QDialog *>(dlg)->accept();
    }));
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
    EXPECT_EQ(seen.selectedFilter, "Webseite (*.html)");
    EXPECT_EQ(seen.defaultSuffix, "html"); // a name without extension gets the type's
    EXPECT_TRUE(seen.confirmsOverwrite);
    EXPECT_EQ(d.FilterIndex, 2);
    EXPECT_EQ(d.FileName, dir.filePath("seite.html"));

    // A stored entry that the filter does not have selects the first one.
    d.FilterIndex = 3;
    EXPECT_TRUE(runDialog(d, seen, [&](QFileDialog *dlg) {
        dlg->selectFile(dir.filePath("p.txt"));
        static_cast<QDialog *>(dlg)->accept();
    }));
    EXPECT_EQ(seen.selectedFilter, "Textdatei (*.txt)");
    EXPECT_EQ(d.FilterIndex, 1);
}

TEST(RealErrorBox, ErrorIconOneOkButtonAndTheText)
{
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        QTest::keyClick(box, Qt::Key_Return);
    });
    ErrorBox::show(nullptr, "Der Schreibfehler der Datei: x.html");
    EXPECT_EQ(text, "Der Schreibfehler der Datei: x.html");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

} // namespace
