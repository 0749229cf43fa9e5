#pragma once

#include <QDialog>

class QLabel;

// Yes/no confirmation. The caller writes the question into Label1 and shows it modally;
// the result is mrYes (6) for "Ja" and cancel for "Nein", Escape or the close box.
class TFDlgYesNo : public QDialog
{
    Q_OBJECT
public:
    static constexpr int mrYes = 6;
    static constexpr int mrCancel = 2;

    explicit TFDlgYesNo(QWidget *parent = nullptr);
    ~TFDlgYesNo() override;

    QLabel *Label1 = nullptr;

    // Shows the dialog modally and returns mrYes or mrCancel. A test may answer in advance.
    int showModalResult();
    static void setNextAnswerForTesting(int answer);
};

// The one instance, created after the main window.
extern TFDlgYesNo *FDlgYesNo;
