#include "widgets/DlgYesNo.h"

#include "platform/AppInfo.h"
#include "platform/Colors.h"
#include "widgets/Pictures.h"

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

TFDlgYesNo::TFDlgYesNo(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                          Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("FDlgYesNo");
    setWindowTitle(AppInfo::baseName());
    setFixedSize(273, 116);
    QFont f = font();
    f.setPixelSize(14);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::Button, toQColor(clBtnFace));
    setPalette(pal);

    Label1 = new QLabel(QStringLiteral("?"), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(49, 7, 208, 61);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);

    Icon = new QLabel(this);
    Icon->setObjectName("Icon");
    Icon->setGeometry(5, 17, 39, 40);
    Icon->setAlignment(Qt::AlignCenter);
    Icon->setAttribute(Qt::WA_TranslucentBackground);
    Icon->setPixmap(Pictures::question(32));

    // Created in tab order: "Ja" first, so a freshly opened dialog answers Enter with yes.
    OKBtn = new QPushButton(QStringLiteral("Ja"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(48, 74, 92, 31);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Nein"), this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(166, 74, 92, 31);
    setTabOrder(OKBtn, CancelBtn);

    connect(OKBtn, &QPushButton::clicked, this, [this] { done(mrYes); });
    // Escape and the close box end in reject(), which answers the same as "Nein".
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    if (!FDlgYesNo)
        FDlgYesNo = this;
}

TFDlgYesNo::~TFDlgYesNo()
{
    if (FDlgYesNo == this)
        FDlgYesNo = nullptr;
}

void TFDlgYesNo::done(int r)
{
    m_modalResult = r == mrYes ? mrYes : mrCancel;
    QDialog::done(m_modalResult);
}

void TFDlgYesNo::showEvent(QShowEvent *e)
{
    m_modalResult = 0;
    QDialog::showEvent(e);
    OKBtn->setDefault(true);
    OKBtn->setFocus(Qt::ActiveWindowFocusReason);
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
