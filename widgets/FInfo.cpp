#include "widgets/FInfo.h"

TFormInfo *FormInfo = nullptr;

TFormInfo::TFormInfo(QWidget *parent) : QDialog(parent)
{
    setObjectName("FormInfo");
    setWindowTitle("Information");
    setFixedSize(272, 331);
    if (!FormInfo)
        FormInfo = this;
}

TFormInfo::~TFormInfo()
{
    if (FormInfo == this)
        FormInfo = nullptr;
}
