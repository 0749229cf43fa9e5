#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Yes/no confirmation. The caller writes the question into Label1 and shows it modally;
// the result is mrYes (6) for "Ja" and cancel for "Nein", Escape or the close box. The
// dialog keeps its last question until the caller sets a new one.
class TFDlgYesNo : public QDialog
{
    Q_OBJECT
public:
    static constexpr int mrYes = 6;
    static constexpr int mrCancel = 2;

    explicit TFDlgYesNo(QWidget *parent = nullptr);
    ~TFDlgYesNo() override;

    QLabel *Label1 = nullptr;
    QLabel *Icon = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

    // Shows the dialog modally and returns mrYes or mrCancel. A test may answer in advance.
    int showModalResult();
    static void setNextAnswerForTesting(int answer);

    // mrYes after "Ja", mrCancel after anything else; 0 while no answer has been given.
    int modalResult() const { return m_modalResult; }

    void done(int r) override;

protected:
    void showEvent(QShowEvent *e) override;

private:
    int m_modalResult = 0;
};

// The one instance, created after the main window.
extern TFDlgYesNo *FDlgYesNo;
