#include "settings/UCfg.h"

#include "platform/ErrorBox.h"
#include "serial/Comms.h"
#include "serial/PortProbe.h"
#include "widgets/FlEdit.h"
#include "widgets/Spin.h"
#include "widgets/oClrBox.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>

TCfgDialog *CfgDialog = nullptr;

namespace {
QLabel *label(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}
} // namespace

TCfgDialog::TCfgDialog(quint32 portSet, TComPort *comPort, QWidget *parent)
    : QDialog(parent), m_port(comPort), m_portSet(portSet)
{
    setObjectName("CfgDialog");
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    // Light barrier, on the left.
    gbLS = new QGroupBox(QStringLiteral("Lichtschranke/n"), this);
    gbLS->setObjectName("gbLS");
    cbPort = new QComboBox(gbLS);
    cbPort->setObjectName("cbPort");
    cbPort->setMaxVisibleItems(20);
    cbPort->setToolTip(QStringLiteral("Durchfahrt (4+6)"));
    lPortInfo = new QLabel(gbLS);
    lPortInfo->setObjectName("lPortInfo");
    lPortInfo->setTextFormat(Qt::PlainText);
    // Two lines: an adapter's name can be long, and the dialog keeps its size.
    lPortInfo->setWordWrap(true);
    lPortInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lPortInfo->setFixedHeight(2 * lPortInfo->fontMetrics().lineSpacing() + 2);
    lPortInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cbAlg = new QComboBox(gbLS);
    cbAlg->setObjectName("cbAlg");
    cbAlg->addItems({QStringLiteral("Ein"), QStringLiteral("Aus")});
    seWait = new TSpinFloatEdit(gbLS);
    seWait->setObjectName("seWait");
    seWait->setMax(SettingsIO::MaxWaitMs / 1000.0);
    seWait->setIncrement(0.1);
    seWait->setDigits(1);
    seWait->setValue(0.1);
    seWait->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    seWait->setEnabled(false);
    PanelTest = new QLabel(gbLS);
    PanelTest->setObjectName("PanelTest");
    PanelTest->setTextFormat(Qt::PlainText);
    PanelTest->setAlignment(Qt::AlignCenter);
    // Lowered inner and outer bevel.
    PanelTest->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelTest->setLineWidth(2);
    PanelTest->setAutoFillBackground(true);
    QFont bold = PanelTest->font();
    bold.setBold(true);
    PanelTest->setFont(bold);

    auto *ls = new QGridLayout(gbLS);
    ls->setHorizontalSpacing(8);
    ls->setVerticalSpacing(10);
    ls->addWidget(label(QStringLiteral("Lichtschranke:"), gbLS), 0, 0);
    ls->addWidget(cbPort, 0, 1);
    ls->addWidget(label(QStringLiteral("4+6"), gbLS), 0, 2);
    ls->addWidget(lPortInfo, 1, 0, 1, 3);
    ls->addWidget(label(QStringLiteral("Algorithmus:"), gbLS), 2, 0);
    ls->addWidget(cbAlg, 2, 1);
    ls->addWidget(label(QStringLiteral("Sperrzeit:"), gbLS), 3, 0);
    ls->addWidget(seWait, 3, 1);
    ls->addWidget(label(QStringLiteral("Sek."), gbLS), 3, 2);
    ls->addWidget(label(QStringLiteral("Test-Kontakt:"), gbLS), 4, 0);
    ls->addWidget(PanelTest, 4, 1);
    ls->setColumnMinimumWidth(1, 96);
    ls->setRowStretch(5, 1);
    for (QWidget *w : {static_cast<QWidget *>(cbPort), static_cast<QWidget *>(cbAlg),
                       static_cast<QWidget *>(seWait), static_cast<QWidget *>(PanelTest)})
        w->setFixedHeight(qMax(26, cbPort->sizeHint().height()));

    // Column count and colours, on the right.
    seCounter = new TSpinEdit(this);
    seCounter->setObjectName("seCounter");
    seCounter->setMinValue(1);
    seCounter->setMaxValue(100);
    seCounter->setValue(4);
    seCounter->setMaxLength(2);
    seCounter->setFixedSize(56, qMax(26, cbPort->sizeHint().height()));

    GroupBox1 = new QGroupBox(QStringLiteral("Farben"), this);
    GroupBox1->setObjectName("GroupBox1");
    auto makeColor = [this](const char *name) {
        auto *c = new ToColorCombo(GroupBox1);
        c->setObjectName(QLatin1String(name));
        c->setColorSet(clrPure | clrUser);
        c->setDrawColorName(false);
        c->setColorUser(clBlack);
        c->setFixedWidth(96);
        c->OnChange = [this](QObject *s) { cbColorCifraChange(s); };
        return c;
    };
    cbColorCifra = makeColor("cbColorCifra");
    cbColorCifra2 = makeColor("cbColorCifra2");
    cbColorFon = makeColor("cbColorFon");
    auto *colours = new QGridLayout(GroupBox1);
    colours->setHorizontalSpacing(8);
    colours->setVerticalSpacing(10);
    colours->addWidget(label(QStringLiteral("Start:"), GroupBox1), 0, 0);
    colours->addWidget(cbColorCifra, 0, 1);
    colours->addWidget(label(QStringLiteral("Zeit:"), GroupBox1), 1, 0);
    colours->addWidget(cbColorCifra2, 1, 1);
    colours->addWidget(label(QStringLiteral("Display:"), GroupBox1), 2, 0);
    colours->addWidget(cbColorFon, 2, 1);

    auto *counterRow = new QHBoxLayout;
    counterRow->addWidget(label(QStringLiteral("Zeitenanzahl:"), this));
    counterRow->addStretch(1);
    counterRow->addWidget(seCounter);
    auto *right = new QVBoxLayout;
    right->addLayout(counterRow);
    right->addWidget(GroupBox1, 1);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Abbrechen"), this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    top->addWidget(gbLS, 1);
    top->addLayout(right);
    auto *all = new QVBoxLayout(this);
    all->setContentsMargins(10, 10, 10, 10);
    all->setSpacing(12);
    all->addLayout(top);
    all->addLayout(buttons);
    all->setSizeConstraint(QLayout::SetFixedSize);

    connect(cbPort, &QComboBox::currentIndexChanged, this, [this] { cbPortChange(); });

    FormCreate();
    if (!CfgDialog)
        CfgDialog = this;
}

TCfgDialog::~TCfgDialog()
{
    if (CfgDialog == this)
        CfgDialog = nullptr;
}

void TCfgDialog::FormCreate()
{
    setPorts(m_portSet);
    {
        const QSignalBlocker block(cbPort);
        cbPort->setCurrentIndex(0);
    }
    showPortInfo();
    setPanelTestColor(parentColor());
}

void TCfgDialog::setPorts(quint32 portSet, const QMap<int, QString> &descriptions)
{
    m_portSet = portSet;
    const QSignalBlocker block(cbPort);
    cbPort->clear();
    cbPort->addItem(QStringLiteral("Keine"));
    QStringList hint{QStringLiteral("Durchfahrt (4+6)")};
    for (const QString &entry : portListEntries(portSet)) {
        const QString what = descriptions.value(entry.mid(3).toInt());
        cbPort->addItem(entry);
        if (what.isEmpty())
            continue;
        cbPort->setItemData(cbPort->count() - 1, what, Qt::ToolTipRole);
        hint << entry + QStringLiteral(": ") + what;
    }
    cbPort->setToolTip(hint.join(QLatin1Char('\n')));
    cbPort->setCurrentIndex(-1);
    showPortInfo();
}

void TCfgDialog::showPortInfo()
{
    const int index = cbPort->currentIndex();
    lPortInfo->setText(index == 0  ? QStringLiteral("Ohne Lichtschranke")
                       : index < 0 ? QString()
                                   : cbPort->itemData(index, Qt::ToolTipRole).toString());
}

void TCfgDialog::setTimerFactory(const TimerFactory &factory)
{
    seWait->setTimerFactory(factory);
    seCounter->setTimerFactory(factory);
}

QColor TCfgDialog::parentColor() const
{
    return gbLS->palette().color(gbLS->backgroundRole());
}

void TCfgDialog::setPanelTestColor(const QColor &c)
{
    if (m_panelColor == c)
        return;
    m_panelColor = c;
    QPalette pal = PanelTest->palette();
    pal.setColor(QPalette::Window, c);
    // Dark text on lime and the parent's grey, white on red.
    pal.setColor(QPalette::WindowText, c == QColor(Qt::red) ? Qt::white : Qt::black);
    PanelTest->setPalette(pal);
}

int TCfgDialog::fill(const TSettings &w)
{
    // While the dialog is hidden the colour handler opens nothing.
    cbColorCifra->setColorValue(w.C2);
    cbColorCifra2->setColorValue(w.C4);
    cbColorFon->setColorValue(w.C1);
    {
        const QSignalBlocker block(cbPort);
        if (w.Port != 0)
            cbPort->setCurrentIndex(cbPort->findText(QStringLiteral("COM%1").arg(w.Port),
                                                     Qt::MatchExactly | Qt::MatchCaseSensitive));
        else
            cbPort->setCurrentIndex(0);
    }
    showPortInfo();
    if (w.Port != 0 && cbPort->currentIndex() < 0)
        lPortInfo->setText(QStringLiteral("COM%1 wurde nicht gefunden: Adapter einstecken und die "
                                          "Einstellungen neu öffnen, oder eine andere "
                                          "Schnittstelle wählen.")
                               .arg(w.Port));
    cbAlg->setEnabled(w.Port != 0);
    cbAlg->setCurrentIndex(w.Alg == 0 || w.Alg == 1 ? w.Alg : -1);
    const int remembered = cbPort->currentIndex();
    seWait->setValue(w.Wait / 1000.0);
    seCounter->setValue(w.CountRunden);
    return remembered;
}

TSettings TCfgDialog::chosen(TSettings w) const
{
    w.CountRunden = seCounter->CheckValue(seCounter->Value());
    w.Wait = int(std::lround(seWait->Value() * 1000.0));
    w.C2 = cbColorCifra->ColorValue();
    w.C1 = cbColorFon->ColorValue();
    w.C4 = cbColorCifra2->ColorValue();
    if (cbPort->currentIndex() == 0) {
        w.Port = 0;
    } else {
        // No selection, or an entry that names no number, gives no port.
        bool ok = false;
        const int n = cbPort->currentText().mid(3).toInt(&ok);
        w.Port = ok ? n : 0;
        w.Alg = cbAlg->currentIndex();
    }
    return w;
}

void TCfgDialog::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TCfgDialog::FormShow()
{
    const int alg = m_port ? m_port->Tag : 0;
    cbPort->setEnabled(alg >= 0);
    setPanelTestColor(m_port && m_port->Connected() ? QColor(Qt::green) : parentColor());
    seWait->setEnabled(cbAlg->isEnabled());
    seWait->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TCfgDialog::cbPortChange()
{
    showPortInfo();
    if (m_port)
        m_port->Close(); // the port's close handler gives the panel the button face
    setPanelTestColor(parentColor());
    const int index = cbPort->currentIndex();
    cbAlg->setEnabled(index > 0);
    seWait->setEnabled(cbAlg->isEnabled());
    if (!m_port)
        return;
    if (index == 0) {
        m_port->setPort(0);
        return;
    }
    bool ok = false;
    const int n = cbPort->currentText().mid(3).toInt(&ok);
    m_port->setPort(quint8(ok ? n : 0));
    m_port->Tag = cbAlg->currentIndex();
    emit triggerEdgeChanged(m_port->Tag);
    // Opening turns the panel lime; from then on it follows the contacts.
    try {
        m_port->Open();
    } catch (const EComError &e) {
        ErrorBox::show(this, e.Message);
    }
}

void TCfgDialog::cbColorCifraChange(QObject *Sender)
{
    auto *combo = qobject_cast<ToColorCombo *>(Sender);
    if (!combo || !isVisible() || combo->Tag != 0 || !combo->IsUserEntrySelected())
        return;
    // The chooser starts with the colour chosen in it last time, not the combo's.
    if (ColorDialog1.Execute(this)) {
        combo->Tag = 1;
        combo->setColorUser(ColorDialog1.Color);
    }
    combo->Tag = 0;
}

void TCfgDialog::updateContactTest(quint32 status, bool contact)
{
    if (contact) {
        setPanelTestColor(Qt::red);
        // With several inputs active the caption stays as it was.
        const QString pair = pinPairText(status);
        if (!pair.isEmpty())
            PanelTest->setText(pair);
    } else {
        setPanelTestColor(Qt::green);
        PanelTest->clear();
    }
}
