#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The information box ("Information"): program name, version and a short notice. Closed by
// "Einverstanden", Escape or the close box; nothing in it takes the focus.
class TFormInfo : public QDialog
{
    Q_OBJECT
public:
    explicit TFormInfo(QWidget *parent = nullptr);
    ~TFormInfo() override;

    QFrame *Panel1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lbl_Name = nullptr;
    QLabel *lbl_Version = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QPushButton *cmd_OK = nullptr;

    static const QString NoticeText;

protected:
    void keyPressEvent(QKeyEvent *e) override;
};

extern TFormInfo *FormInfo;
