#include "widgets/FInfo.h"

#include "platform/Colors.h"
#include "widgets/Pictures.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

TFormInfo *FormInfo = nullptr;

namespace {
constexpr TColor clSkyBlue = 0xF0CAA6;

QFont arial(int pixels, bool bold)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}
} // namespace

const QString TFormInfo::NoticeText = QStringLiteral(
    "Tornelo ist ein Zeitnahmeprogramm für Auto-Trials.\n"
    "\n"
    "Zeiten werden mit F8, mit der Maus auf ZEIT oder über eine Lichtschranke an einer "
    "seriellen Schnittstelle genommen und als Tageszeit auf 1/100 Sekunde festgehalten.\n"
    "\n"
    "Die Tabellen werden nicht automatisch gespeichert: Speichern Sie das Protokoll vor dem "
    "Beenden.\n"
    "\n"
    "Das Programm wird ohne jede Gewähr überlassen. Offizielle Ergebnisse sind vor der "
    "Bekanntgabe zu prüfen.\n"
    "\n"
    "Hilfe: F1 oder Alt+H.");

TFormInfo::TFormInfo(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("FormInfo");
    setWindowTitle(QStringLiteral("Information"));
    setFixedSize(272, 331);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, toQColor(clSkyBlue));
    setPalette(pal);
    // The box handles its keys itself.
    setFocusPolicy(Qt::StrongFocus);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(16, 22, 44, 41);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(white);
    Image1 = new QLabel(Panel1);
    Image1->setObjectName("Image1");
    Image1->setGeometry(6, 4, 32, 32);
    Image1->setPixmap(Pictures::application(32));

    lbl_Name = new QLabel(QStringLiteral("Tornelo"), this);
    lbl_Name->setObjectName("lbl_Name");
    QFont nameFont = arial(29, true);
    nameFont.setUnderline(true);
    lbl_Name->setFont(nameFont);
    QPalette maroon = lbl_Name->palette();
    maroon.setColor(QPalette::WindowText, toQColor(clMaroon));
    lbl_Name->setPalette(maroon);
    lbl_Name->move(66, 9);
    lbl_Name->adjustSize();

    lbl_Version = new QLabel(QStringLiteral("Version 1.6  ( 7.05.2007 )"), this);
    lbl_Version->setObjectName("lbl_Version");
    lbl_Version->setFont(arial(13, true));
    lbl_Version->move(105, 51);
    lbl_Version->adjustSize();

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(16, 96, 241, 137);
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::NoFocus);
    Memo1->setPlainText(NoticeText);

    cmd_OK = new QPushButton(QStringLiteral("Einverstanden"), this);
    cmd_OK->setObjectName("cmd_OK");
    cmd_OK->setGeometry(67, 294, 137, 28);
    cmd_OK->setFlat(true);
    cmd_OK->setAutoDefault(false);
    cmd_OK->setFocusPolicy(Qt::NoFocus);
    cmd_OK->setIcon(QIcon(Pictures::agree(16)));
    cmd_OK->setFont(arial(13, true));
    QPalette red = cmd_OK->palette();
    red.setColor(QPalette::ButtonText, toQColor(clRed));
    cmd_OK->setPalette(red);
    connect(cmd_OK, &QPushButton::clicked, this, &QDialog::accept);

    if (!FormInfo)
        FormInfo = this;
}

TFormInfo::~TFormInfo()
{
    if (FormInfo == this)
        FormInfo = nullptr;
}

void TFormInfo::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        reject();
        return;
    }
    QDialog::keyPressEvent(e);
}
