#pragma once

#include <QDialog>

// The information box ("Information").
class TFormInfo : public QDialog
{
    Q_OBJECT
public:
    explicit TFormInfo(QWidget *parent = nullptr);
    ~TFormInfo() override;
};

extern TFormInfo *FormInfo;
