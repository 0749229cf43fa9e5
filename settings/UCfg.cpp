#include "settings/UCfg.h"

TCfgDialog *CfgDialog = nullptr;

TCfgDialog::TCfgDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName("CfgDialog");
    setWindowTitle("Einstellungen");
    if (!CfgDialog)
        CfgDialog = this;
}

TCfgDialog::~TCfgDialog()
{
    if (CfgDialog == this)
        CfgDialog = nullptr;
}
