#include "widgets/DlgYesNo.h"

#include "platform/AppInfo.h"

#include <QLabel>
#include <QPushButton>

#include <optional>

TFDlgYesNo *FDlgYesNo = nullptr;

namespace {
std::optional<int> &nextAnswer()
{
    static std::optional<int> answer;
    return answer;
}
} // namespace

TFDlgYesNo::TFDlgYesNo(QWidget *parent) : QDialog(parent)
{
    setObjectName("FDlgYesNo");
    setWindowTitle(AppInfo::baseName());
    setFixedSize(273, 116);
    Label1 = new QLabel("?", this);
    Label1->setGeometry(49, 7, 208, 61);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    auto *ok = new QPushButton("Ja", this);
    ok->setGeometry(48, 74, 92, 31);
    ok->setDefault(true);
    auto *cancel = new QPushButton("Nein", this);
    cancel->setGeometry(166, 74, 92, 31);
    connect(ok, &QPushButton::clicked, this, [this] { done(mrYes); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
    if (!FDlgYesNo)
        FDlgYesNo = this;
}

TFDlgYesNo::~TFDlgYesNo()
{
    if (FDlgYesNo == this)
        FDlgYesNo = nullptr;
}

int TFDlgYesNo::showModalResult()
{
    if (nextAnswer()) {
        const int a = *nextAnswer();
        nextAnswer().reset();
        return a;
    }
    const int r = exec();
    return r == mrYes ? mrYes : mrCancel;
}

void TFDlgYesNo::setNextAnswerForTesting(int answer)
{
    nextAnswer() = answer;
}
