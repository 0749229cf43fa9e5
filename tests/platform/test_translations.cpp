#include "platform/FileDialog.h"
#include "platform/Translations.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <gtest/gtest.h>

#include <functional>

namespace {

QStringList texts(const QWidget &w)
{
    QStringList out;
    for (const QLabel *l : w.findChildren<QLabel *>())
        if (l->isVisibleTo(&w) && !l->text().isEmpty())
            out << l->text().remove(QLatin1Char('&'));
    for (const QPushButton *b : w.findChildren<QPushButton *>())
        if (b->isVisibleTo(&w) && !b->text().isEmpty())
            out << b->text().remove(QLatin1Char('&'));
    return out;
}

// Runs show (which opens a modal dialog), looks at the dialog once it is up and closes it.
void whileShown(const std::function<void()> &show, const std::function<void(QWidget &)> &look)
{
    bool seen = false;
    QTimer::singleShot(0, qApp, [&] {
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget(); }, 10000));
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog, 10000));
        seen = true;
        look(*dialog);
        dialog->close();
    });
    show();
    EXPECT_TRUE(seen);
}

class GermanDialogs : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Qt's own dialogs, as on a desktop without a dialog service of its own.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
        const QString locale = QLocale().name();
        ASSERT_TRUE(Translations::installQtGerman(*qApp))
            << "qtbase_de.qm missing in " << Translations::qtFolder().toStdString()
            << " (package qt6-translations-l10n)";
        // Texts only: dates and numbers keep the desktop's format.
        EXPECT_EQ(QLocale().name(), locale);
    }
};

// The program's open dialog as the user sees it, grabbed from the screen: its buttons and
// labels are German.
TEST_F(GermanDialogs, TheOpenDialogSpeaksGerman)
{
    QTemporaryDir dir;
    TFileDialog open(TFileDialog::OpenKind);
    open.Filter = QStringLiteral("Textdatei (*.txt)|*.txt");
    open.InitialDir = dir.path();
    whileShown(
        [&] { open.Execute(); },
        [&](QWidget &dialog) {
            ASSERT_TRUE(qobject_cast<QFileDialog *>(&dialog));
            const QImage shot = dialog.grab().toImage();
            ASSERT_FALSE(shot.isNull());
            EXPECT_EQ(shot.size(), dialog.size() * dialog.devicePixelRatio());
            // Kept for a look by eye beside the test's other output.
            shot.save(QDir::current().filePath(QStringLiteral("open-dialog.png")));
            const QStringList shown = texts(dialog);
            for (const char *t :
                 {"Suchen in:", "Dateiname:", "Dateien des Typs:", "Öffnen", "Abbrechen"})
                EXPECT_TRUE(shown.contains(QString::fromUtf8(t)))
                    << t << " not among: " << shown.join(" | ").toStdString();
            for (const char *t : {"Look in:", "File name:", "Files of type:", "Open", "Cancel"})
                EXPECT_FALSE(shown.contains(QString::fromUtf8(t))) << t;
        });
}

TEST_F(GermanDialogs, MessageBoxAndColourChooserSpeakGerman)
{
    whileShown(
        [] {
            QMessageBox box(QMessageBox::Question, QStringLiteral("Frage"), QStringLiteral("?"),
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.exec();
        },
        [](QWidget &dialog) {
            const QStringList shown = texts(dialog);
            for (const char *t : {"Ja", "Nein", "Abbrechen"})
                EXPECT_TRUE(shown.contains(QString::fromUtf8(t)))
                    << shown.join(" | ").toStdString();
        });
    whileShown([] { QColorDialog::getColor(Qt::red); },
               [](QWidget &dialog) {
                   const QStringList shown = texts(dialog);
                   EXPECT_TRUE(shown.contains(QStringLiteral("Benutzerdefinierte Farben")))
                       << shown.join(" | ").toStdString();
                   EXPECT_FALSE(shown.contains(QStringLiteral("Custom colors")));
               });
}

TEST(Translations, AFolderWithoutTheFileLeavesQtEnglish)
{
    QTemporaryDir empty;
    EXPECT_FALSE(Translations::installQtGerman(*qApp, empty.path()));
}

} // namespace
