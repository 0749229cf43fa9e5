#pragma once

#include <QDialog>

// The settings dialog ("Einstellungen").
class TCfgDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TCfgDialog(QWidget *parent = nullptr);
    ~TCfgDialog() override;
};

// Program-wide reference; cleared when the dialog is destroyed, so the main window's
// light-barrier handlers can test whether it still exists.
extern TCfgDialog *CfgDialog;
