#include "app/FMain.h"

#include "app/LiveResults.h"
#include "app/ProtocolView.h"
#include "app/Safekeeping.h"
#include "platform/AppInfo.h"
#include "platform/Colors.h"
#include "platform/ErrorBox.h"
#include "platform/Termination.h"
#include "platform/Timer.h"
#include "protocol/FileCommands.h"
#include "protocol/ProtocolTables.h"
#include "protocol/SheetCommands.h"
#include "serial/Comms.h"
#include "serial/PortProbe.h"
#include "serial/SerialDevice.h"
#include "settings/UCfg.h"
#include "timing/BarrierGuard.h"
#include "timing/display/BarrierIcons.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/ClickImage.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"
#include "widgets/LbButtons.h"
#include "widgets/SPHTMLHelp.h"
#include "widgets/SortGrid.h"
#include "widgets/StatusLine.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {
constexpr int kUpperHeight = 239;
constexpr int kTimerWidth = 492;
constexpr int kLeftPanelWidth = 266;
constexpr int kStatusHeight = 19;
constexpr int kDesignPanel5Width = 800 - kTimerWidth;

QFont commandFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(32);
    f.setBold(true);
    return f;
}

QToolButton *toolButton(QWidget *parent, const char *name, const QString &hint, int size,
                        QStyle::StandardPixmap icon)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->resize(size, size);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setIconSize(QSize(size - 12, size - 12));
    return b;
}

// A time of day to the second, for the status bar.
QString clockText(const TimeOfDay &t)
{
    return QStringLiteral("%1:%2:%3")
        .arg(t.hour, 2, 10, QLatin1Char('0'))
        .arg(t.minute, 2, 10, QLatin1Char('0'))
        .arg(t.second, 2, 10, QLatin1Char('0'));
}

void setBackground(QWidget *w, TColor c)
{
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, toQColor(c));
    w->setPalette(pal);
}
} // namespace

TFormMain::TFormMain(IClock *clock, QWidget *parent, ISettingsStore *store)
    : QMainWindow(parent), m_clock(clock ? clock : &systemClock()), m_stamps(*m_clock),
      m_store(store)
{
    setObjectName("FormMain");
    setWindowTitle(QStringLiteral("1.7"));
    setBackground(this, 0xA7A7A7);
    setMinimumSize(800, 530);

    chrono = new TChronometer(*m_clock, *this, this);
    ImageList1 = {barrierIcon(0), barrierIcon(1)};

    // The light-barrier port as the form sets it: 9600 bit/s, 5 data bits, no parity, one
    // stop bit, RTS under handshake and DTR on (the two lines a contact bridges), and the
    // four modem-status events.
    ComPort = new TComPort(this);
    ComPort->setObjectName("ComPort");
    ComPort->setBaudRate(br9600);
    ComPort->setBaudRateUser(28800);
    ComPort->setPort(0);
    ComPort->setParity(prNone);
    ComPort->setStopBits(sbOneStopBit);
    ComPort->setFlowControl(fcRtsCts);
    ComPort->setDataBits(5);
    ComPort->setEvents({evRing, evCTS, evDSR, evRLSD});
    ComPort->setEnableDTR(true);
    ComPort->setWriteBufSize(64);
    ComPort->setReadBufSize(64);
    ComPort->OnRing = [this](QObject *s) { ComPortLS(s); };
    ComPort->OnCTS = [this](QObject *s) { ComPortLS(s); };
    ComPort->OnDSR = [this](QObject *s) { ComPortLS(s); };
    ComPort->OnRLSD = [this](QObject *s) { ComPortLS(s); };
    ComPort->OnOpen = [this](QObject *s) { ComPortOpen(s); };
    ComPort->OnClose = [this](QObject *s) { ComPortClose(s); };
    ComPort->OnNotice = [this](QObject *s, TComNotice n) { ComPortNotice(s, n); };
    // An adapter that comes back under another ttyUSB number is found by its by-id name.
    ComPort->setStableNameLookup(
        [](quint8 n) { return portDiscovery().stableName(devicePathForPort(n)); });

    // A precise timer: a coarse one may end the lock time on screen a few milliseconds early.
    guard = new TBarrierGuard(this, [] {
        auto t = std::make_unique<QtTimer>();
        t->setTimerType(Qt::PreciseTimer);
        return std::unique_ptr<ITimer>(std::move(t));
    });
    guard->stampClock = &m_stamps;
    guard->readStatus = [this] { return ComPort->ModemStatus(); };
    guard->contactTest = [] { return static_cast<IContactTest *>(CfgDialog); };
    // Every time taken, with where it came from, for the journal and the live results.
    connect(chrono, &TChronometer::lapTaken, this, &TFormMain::timeTaken);
    connect(guard, &TBarrierGuard::passAccepted, this, &TFormMain::barrierPass);
    connect(guard, &TBarrierGuard::passIgnored, this, &TFormMain::barrierPassIgnored);
    connect(guard, &TBarrierGuard::lockStateChanged, this, [this] {
        showBarrierIcon();
        if (safekeeping)
            safekeeping->stateChanged();
    });

    createMenu();
    auto *central = new QWidget(this);
    central->setObjectName("Central");
    setCentralWidget(central);
    createUpperArea();
    createLowerArea();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(kStatusHeight);
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);
    LabelIgnored = new QLabel(StatusBar1);
    LabelIgnored->setObjectName("LabelIgnored");
    LabelIgnored->setToolTip(QStringLiteral("Durchfahrten an der Lichtschranke seit START, die "
                                            "keine Zeit genommen haben; jede steht mit ihrem "
                                            "Grund im Journal."));
    LabelIgnored->hide();
    StatusBar1->addPermanentWidget(LabelIgnored);
    LabelLive = new QLabel(StatusBar1);
    LabelLive->setObjectName("LabelLive");
    LabelLive->hide();
    StatusBar1->addPermanentWidget(LabelLive);
    // A message cut by the two fields, or replaced by the next, stays readable in the hint.
    new TStatusLine(*StatusBar1, *m_clock);

    chrono->setDisplayOutput(PanelTimer);
    chrono->setCaptureOutput(view);
    connect(chrono, &TChronometer::runReset, view, &TProtocolView::runReset);
    // START and RESET lock a free barrier; STOPP leaves it as it is.
    connect(chrono, &TChronometer::runStarted, guard, &TBarrierGuard::lockIfFree);
    connect(chrono, &TChronometer::runReset, guard, &TBarrierGuard::lockIfFree);
    connect(chrono, &TChronometer::runStarted, this, [this] {
        m_ignoredPasses = 0;
        LabelIgnored->hide();
    });
    // The run state goes into the recovery file, so that a restart takes times at once.
    for (auto changed :
         {&TChronometer::runStarted, &TChronometer::runStopped, &TChronometer::runReset})
        connect(chrono, changed, this, [this] {
            if (safekeeping)
                safekeeping->stateChanged();
        });
    // The form's design bounds; the stored ones replace them in FormCreate.
    resize(800, 530);
    move(243, 112);
    FormCreate();
}

TFormMain::~TFormMain()
{
    FormDestroy();
}

void TFormMain::FormCreate()
{
    // 1-3: everything named after the executable follows its current name.
    ApplicationTitle = AppInfo::baseName();
    setWindowTitle(ApplicationTitle + QStringLiteral(" ") + windowTitle());
    SettingsKey = SettingsIO::keyPath(ApplicationTitle);
    if (!m_store) {
        m_ownStore = std::make_unique<TQSettingsStore>(ApplicationTitle);
        m_store = m_ownStore.get();
    }
    // 4: upper and lower row colours before the store is read.
    PanelTimer->setC2(clLime);
    PanelTimer->setC4(clYellow);
    // 5: names the system does not know keep their built-in ones.
    files->applicationTitle = ApplicationTitle;
    sheets->applicationTitle = ApplicationTitle;
    files->readFileTypeNames();
    // 6: a missing or unreadable value leaves the defaults, silently.
    TSettings s = currentSettings();
    SettingsIO::load(*m_store, s);
    applySettings(s);
    // 7
    sbCls->setToolTip(QStringLiteral("Neu / Löschen"));
    // 8
    LabelDate->setText(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    // 9
    SortGridPred->setCells(0, 0, QString());
    SortGridPred->setCells(1, 0, QStringLiteral("Zeit"));
    SortGridPred->setCells(2, 0, QStringLiteral("Nr."));
    // 10
    files->buildFilters(SpreadsheetAvailable());
    // 11
    bInsertALL->setToolTip(QStringLiteral("Alle Einfügen"));
    bInsert->setToolTip(QStringLiteral("Einfügen"));
    bRestore->setToolTip(QStringLiteral("Zurück / Entfernen"));
    bDel->setToolTip(QStringLiteral("Zwischenprotokoll löschen"));
    // 12
    HelpFile = SPHTMLHelp::helpFileFor(AppInfo::executablePath());
    SPHTMLHelp::setCurrentHelpFile(HelpFile);
    // 13
    ApplyTimeColumnCount();
    SortGrid1->setCells(0, 0, QStringLiteral("Nr."));
    SortGrid1->setCells(1, 0, QStringLiteral("Fahrer"));
    // 14
    LayoutColumns();
    // 15: probed before the stored port is opened, so that our own port is free.
    PortSet = portProbe()();
    // 16: the save dialog's type entry is the stored one.
    files->proposeNames(AppInfo::executablePath());
    files->SaveDialog1.FilterIndex = FilterInd;
    // 17
    PanelTimer->ApplyDisplayColors();
    PanelTimer->ShowTime(0, 0);
    PanelTimer->ShowTime(1, 0);
    // 18: a port that cannot be opened is said in the status bar (start-up asks nothing)
    // and tried again every second; the program runs without light barrier meanwhile.
    if (ComPort->Port() != 0) {
        try {
            ComPort->Open();
        } catch (const EComError &e) {
            ComPort->RetryOpen(e.SystemText);
            sayPortLoss(false);
        }
    }
    // 19: the barrier starts locked.
    showBarrierIcon();
    // 20
    UpdateFileButtons();
}

std::function<quint32()> &TFormMain::portProbe()
{
    static std::function<quint32()> probe = [] { return probePorts(); };
    return probe;
}

PortDiscovery &TFormMain::portDiscovery()
{
    static PortDiscovery discovery;
    return discovery;
}

void TFormMain::refreshPorts(TCfgDialog &dlg)
{
    // Adapters plugged in since the last look are offered. The program's own port cannot
    // be probed while it holds it, and a port lost during the run stays in the list while
    // it is retried: "OK" must not give it up.
    PortSet = portProbe()();
    const int own = ComPort->Port();
    if (own >= firstProbedPort && own <= lastProbedPort && !portInSet(PortSet, own) &&
        (ComPort->Connected() || (ComPort->Retrying() && m_openedPort == own)))
        PortSet = (PortSet & 0xFFFFu) | (1u << (own - 1)) |
                  (quint32(qMax(highestPort(PortSet), own)) << 16);
    // The own port found again under its stable name is described by that name: its
    // number's node may be gone.
    QMap<int, QString> descriptions;
    for (int n = firstProbedPort; n <= lastProbedPort; ++n)
        if (portInSet(PortSet, n))
            descriptions.insert(n, portDiscovery()
                                       .describe(n == own && !ComPort->StableName().isEmpty()
                                                     ? ComPort->StableName()
                                                     : devicePathForPort(n))
                                       .text());
    dlg.setPorts(PortSet, descriptions);
}

QString TFormMain::fileCountText(const QString &fileName) const
{
    int cars = 0;
    for (int r = 1; r < SortGrid1->RowCount(); ++r)
        if (!SortGrid1->Cells(0, r).trimmed().isEmpty())
            ++cars;
    return QFileInfo(fileName).fileName() + (cars == 1
                                                 ? QStringLiteral(", 1 Fahrzeug")
                                                 : QStringLiteral(", %1 Fahrzeuge").arg(cars));
}

void TFormMain::fileLoaded(const QString &fileName)
{
    view->resultsLoaded();
    // A note the load made on its way (more time columns) is said with it.
    const QString note = m_fileNote;
    m_fileNote.clear();
    StatusBar1->showMessage(QStringLiteral("Geladen: ") + fileCountText(fileName) +
                            (note.isEmpty() ? QString() : QStringLiteral(". ") + note));
    if (safekeeping)
        safekeeping->loaded(fileName);
}

void TFormMain::fileSaved(const QString &fileName, quint64 revision)
{
    StatusBar1->showMessage(QStringLiteral("Gespeichert: ") + fileCountText(fileName));
    if (safekeeping)
        safekeeping->saved(fileName, revision);
}

void TFormMain::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    // Closing during the pause after "OK" keeps what was confirmed.
    if (m_pendingCfg) {
        m_cfgPause->stop();
        const TSettings chosen = *m_pendingCfg;
        m_pendingCfg.reset();
        applyCfg(chosen, false);
    }
    // A store that cannot be written keeps the previous run's values; nothing to report.
    if (m_store)
        SettingsIO::save(*m_store, currentSettings());
    ComPort->Close();
    // After the port: its last events may still bring times.
    if (safekeeping)
        safekeeping->close();
}

TSettings TFormMain::currentSettings() const
{
    TSettings s;
    s.Port = ComPort->Port();
    s.Alg = ComPort->Tag;
    s.Left = x();
    s.Top = y();
    s.Width = width();
    s.Height = height();
    s.Sound = Sound;
    s.C1 = PanelTimer->C1();
    s.C2 = PanelTimer->C2();
    s.C3 = PanelTimer->C3();
    s.Acc = Acc;
    s.C4 = PanelTimer->C4();
    s.FilterInd = FilterInd;
    s.Wait = guard->lockTime();
    s.CountRunden = tables->CountRunden();
    return s;
}

void TFormMain::applySettings(const TSettings &s)
{
    // A position on no screen (a monitor that is gone) falls back to the design position.
    QPoint pos(s.Left, s.Top);
    const QRect probe(pos + QPoint(20, 20), QSize(40, 40));
    QScreen *onScreen = nullptr;
    for (QScreen *screen : QGuiApplication::screens())
        if (!onScreen && screen->availableGeometry().intersects(probe))
            onScreen = screen;
    if (!onScreen && !QGuiApplication::screens().isEmpty())
        pos = QPoint(243, 112);
    // The size is held to the screen's free area before the window system sees it: a huge
    // stored size would make it allocate the window's pixels. The minimum size still wins.
    // A window cut to the area is also moved into it, so that none of it lies off screen.
    QSize size(s.Width, s.Height);
    if (QScreen *screen = onScreen ? onScreen : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        if (size.width() > area.width())
            pos.setX(area.left());
        if (size.height() > area.height())
            pos.setY(area.top());
        size = size.boundedTo(area.size());
    }
    resize(size.expandedTo(minimumSize()));
    move(pos);
    ComPort->setPort(quint8(s.Port));
    ComPort->Tag = s.Alg;
    guard->setTriggerEdge(s.Alg);
    Sound = s.Sound;
    PanelTimer->setC1(s.C1);
    PanelTimer->setC2(s.C2);
    PanelTimer->setC3(s.C3);
    Acc = s.Acc;
    PanelTimer->setC4(s.C4);
    FilterInd = s.FilterInd;
    guard->setLockTime(s.Wait);
    tables->setCountRunden(s.CountRunden);
}

void TFormMain::createMenu()
{
    // The menu bar stays hidden; the actions are also added to the window itself, or
    // their shortcuts would not fire while the bar is hidden.
    QMenuBar *bar = menuBar();
    HideMenu1 = bar->addMenu(QStringLiteral("HideMenu"));
    HideMenu1->setObjectName("HideMenu1");
    HideMenu1->menuAction()->setVisible(false);
    bar->hide();

    auto add = [this](QAction *&slot, const char *name, const QString &caption,
                      const QKeySequence &key) {
        slot = new QAction(caption, this);
        slot->setObjectName(QLatin1String(name));
        slot->setShortcut(key);
        slot->setShortcutContext(Qt::WindowShortcut);
        HideMenu1->addAction(slot);
        addAction(slot);
    };
    add(mHilfe, "mHilfe", QStringLiteral("Hilfe"), QKeySequence(Qt::Key_F1));
    add(mCFG, "mCFG", QStringLiteral("&Einstellungen"), QKeySequence(Qt::Key_F2));
    add(LockLSStart1, "LockLSStart1", QStringLiteral("Lock LS"), QKeySequence(Qt::Key_F3));
    HideMenu1->addSeparator();
    add(mStart, "mStart", QStringLiteral("Start"), QKeySequence(Qt::Key_F4));
    add(mLAP, "mLAP", QStringLiteral("LAP"), QKeySequence(Qt::Key_F8));
    add(mReset, "mReset", QStringLiteral("0,00"), QKeySequence(Qt::Key_F9));
    add(Info1, "Info1", QStringLiteral("Info"), QKeySequence(Qt::ALT | Qt::Key_I));
    add(Hilfe1, "Hilfe1", QStringLiteral("H&ilfe"), QKeySequence(Qt::ALT | Qt::Key_H));
    add(Beenden1, "Beenden1", QStringLiteral("&Beenden"), QKeySequence(Qt::ALT | Qt::Key_B));
    mLAP->setEnabled(false);
    mReset->setEnabled(false);

    connect(mHilfe, &QAction::triggered, this, &TFormMain::bHelpClick);
    connect(Hilfe1, &QAction::triggered, this, &TFormMain::bHelpClick);
    connect(mCFG, &QAction::triggered, this, &TFormMain::bCFGClick);
    connect(LockLSStart1, &QAction::triggered, this, &TFormMain::LockLSStart1Click);
    connect(mStart, &QAction::triggered, this, &TFormMain::mStartClick);
    connect(mLAP, &QAction::triggered, this, &TFormMain::mLAPClick);
    connect(mReset, &QAction::triggered, this, &TFormMain::mResetClick);
    connect(Info1, &QAction::triggered, this, &TFormMain::bInfoClick);
    // Alt+B ("&Beenden") has no action: closing the window is the one way to end.
}

void TFormMain::createUpperArea()
{
    UpperArea = new QWidget(centralWidget());
    UpperArea->setObjectName("UpperArea");

    PanelTimer = new TTimeDisplay(UpperArea);
    PanelTimer->setObjectName("PanelTimer");
    PanelTimer->setGeometry(0, 0, kTimerWidth, kUpperHeight);

    Panel5 = new QWidget(UpperArea);
    Panel5->setObjectName("Panel5");

    auto makeCommand = [this](TLbButton *&b, const char *name, const QString &caption,
                              const QString &hint, int top, TColor face, TColor hot,
                              TColor fontColor, TColor edge) {
        b = new TLbButton(Panel5);
        b->setObjectName(QLatin1String(name));
        b->setText(caption);
        b->setToolTip(hint);
        b->setGeometry(6, top, 130, 40);
        b->setFocusPolicy(Qt::ClickFocus); // reached by a click, never by Tab
        b->setFont(commandFont());
        b->setColor(face);
        b->setHotTrackColor(hot);
        b->setFontColor(fontColor);
        b->setHotTrackFontColor(clWhite);
        b->setUseHotTrackFont(true);
        b->setWordWrap(true);
        b->setColorLight(edge);
        b->setColorShadow(edge);
    };
    makeCommand(bStart, "bStart", QStringLiteral("START"), QStringLiteral("F4"), 56, clLime, clLime,
                clYellow, clGreen);
    makeCommand(bLAP, "bLAP", QStringLiteral("ZEIT"), QStringLiteral("F8"), 104, clBlack, clYellow,
                clBlack, clOlive);
    makeCommand(bReset, "bReset", QStringLiteral("STOPP"), QStringLiteral("F9"), 152, clRed, clRed,
                clYellow, clMaroon);
    bLAP->setEnabled(false);
    bReset->setEnabled(false);
    connect(bStart, &TLbButton::mouseDown, this, &TFormMain::bStartMouseDown);
    connect(bLAP, &TLbButton::mouseDown, this, &TFormMain::bLAPMouseDown);
    connect(bReset, &TLbButton::clicked, this, &TFormMain::mResetClick);

    ImageLSzeit = new TClickImage(Panel5);
    ImageLSzeit->setObjectName("ImageLSzeit");
    ImageLSzeit->setGeometry(139, 108, 30, 30);
    ImageLSzeit->setToolTip(QStringLiteral("[F3] Zeit-LS frei / gesperrt"));
    ImageLSzeit->setCursor(Qt::PointingHandCursor);
    ImageLSzeit->hide(); // shown only while the port is open
    connect(ImageLSzeit, &TClickImage::clicked, this, &TFormMain::ImageLSzeitClick);

    bHelp =
        toolButton(Panel5, "bHelp", QStringLiteral("[F1] Hilfe"), 40, QStyle::SP_DialogHelpButton);
    bCFG = toolButton(Panel5, "bCFG", QStringLiteral("[F2] Einstellungen"), 40,
                      QStyle::SP_FileDialogDetailedView);
    bInfo = toolButton(Panel5, "bInfo", QStringLiteral("[Alt+I] Info"), 40,
                       QStyle::SP_MessageBoxInformation);
    connect(bHelp, &QToolButton::clicked, this, &TFormMain::bHelpClick);
    connect(bCFG, &QToolButton::clicked, this, &TFormMain::bCFGClick);
    connect(bInfo, &QToolButton::clicked, this, &TFormMain::bInfoClick);

    LabelTitle = new QLabel(QStringLiteral("Tornelo"), Panel5);
    LabelTitle->setObjectName("LabelTitle");
    QFont tf(QStringLiteral("Arial"));
    tf.setPixelSize(30);
    tf.setBold(true);
    tf.setItalic(true);
    LabelTitle->setFont(tf);
    LabelTitle->setStyleSheet(QStringLiteral("color: #800000"));
    LabelTitle->setGeometry(6, 8, 150, 40);

    LabelDate = new QLabel(Panel5);
    LabelDate->setObjectName("LabelDate");
    QFont df(QStringLiteral("Arial"));
    df.setPixelSize(24);
    LabelDate->setFont(df);
    LabelDate->setAlignment(Qt::AlignCenter);
    LabelDate->setStyleSheet(QStringLiteral("color: #383838; background: transparent"));
    LabelDate->resize(122, 27);

    LabelProtokoll = new QLabel(QStringLiteral("Protokoll:"), Panel5);
    LabelProtokoll->setObjectName("LabelProtokoll");
    QFont pf(QStringLiteral("Arial"));
    pf.setPixelSize(14);
    pf.setBold(true);
    LabelProtokoll->setFont(pf);
    LabelProtokoll->setGeometry(10, kUpperHeight - 36 - 6, 86, 36);

    const int fileTop = kUpperHeight - 36 - 6;
    sbOpen = toolButton(Panel5, "sbOpen",
                        QStringLiteral("Starterliste oder gespeichertes Protokoll laden"), 36,
                        QStyle::SP_DialogOpenButton);
    sbSave = toolButton(Panel5, "sbSave", QStringLiteral("Speichern unter…"), 36,
                        QStyle::SP_DialogSaveButton);
    sbPrint = toolButton(Panel5, "sbPrint", QStringLiteral("Drucken"), 36,
                         QStyle::SP_FileDialogContentsView);
    sbWeb =
        toolButton(Panel5, "sbWeb", QStringLiteral("Als Webseite..."), 36, QStyle::SP_DriveNetIcon);
    sbCls = toolButton(Panel5, "sbCls", QString(), 36, QStyle::SP_TrashIcon);
    const int fileLefts[] = {98, 138, 178, 218, 258};
    QToolButton *files[] = {sbOpen, sbSave, sbPrint, sbWeb, sbCls};
    for (int i = 0; i < 5; ++i)
        files[i]->move(fileLefts[i], fileTop);
}

void TFormMain::createLowerArea()
{
    LowerArea = new QWidget(centralWidget());
    LowerArea->setObjectName("LowerArea");

    PanelLeft = new QWidget(LowerArea);
    PanelLeft->setObjectName("PanelLeft");

    SortGridPred = new TSortGrid(PanelLeft);
    SortGridPred->setObjectName("SortGridPred");
    TProtocolView::configurePred(*SortGridPred);
    SortGrid1 = new TSortGrid(LowerArea);
    SortGrid1->setObjectName("SortGrid1");
    TProtocolView::configureResults(*SortGrid1, 4);

    bInsertALL = toolButton(PanelLeft, "bInsertALL", QString(), 36, QStyle::SP_ArrowRight);
    bInsert = toolButton(PanelLeft, "bInsert", QString(), 36, QStyle::SP_MediaSeekForward);
    bRestore = toolButton(PanelLeft, "bRestore", QString(), 36, QStyle::SP_ArrowBack);
    bDel = toolButton(PanelLeft, "bDel", QString(), 36, QStyle::SP_DialogDiscardButton);
    for (QToolButton *b : {bInsertALL, bInsert, bRestore, bDel})
        b->setEnabled(false);

    TProtocolView::Buttons buttons;
    buttons.bInsertALL = bInsertALL;
    buttons.bInsert = bInsert;
    buttons.bRestore = bRestore;
    buttons.bDel = bDel;
    buttons.sbSave = sbSave;
    buttons.sbPrint = sbPrint;
    buttons.sbWeb = sbWeb;
    buttons.sbCls = sbCls;
    view = new TProtocolView(*SortGridPred, *SortGrid1, buttons, this);
    tables = &view->tables();
    view->confirmClear = [] {
        if (!FDlgYesNo)
            return false;
        FDlgYesNo->Label1->setText(QStringLiteral("Ergebnisse entfernen?"));
        return FDlgYesNo->showModalResult() == TFDlgYesNo::mrYes;
    };
    connect(view, &TProtocolView::status, this,
            [this](const QString &text) { StatusBar1->showMessage(text); });
    // The chronometer goes back to idle (stop flag 1, then STOPP/RESET).
    connect(view, &TProtocolView::resetRequested, this, [this] {
        chrono->setStopFlag(1);
        mResetClick();
    });
    connect(bInsertALL, &QToolButton::clicked, this, &TFormMain::bInsertALLClick);
    connect(bInsert, &QToolButton::clicked, this, &TFormMain::bInsertClick);
    connect(bRestore, &QToolButton::clicked, this, &TFormMain::bRestoreClick);
    connect(bDel, &QToolButton::clicked, this, &TFormMain::bDelClick);
    connect(sbCls, &QToolButton::clicked, this, &TFormMain::sbClsClick);
    // The window's column layout comes after the grids' own resizing, which stretches
    // their last column.
    SortGridPred->OnResize = [this](QObject *) { LayoutColumns(); };
    SortGrid1->OnResize = [this](QObject *) { LayoutColumns(); };

    files = new TFileCommands(view->resultsTable(), this, this);
    connect(files, &TFileCommands::columnsNeeded, this, [this](int n) {
        tables->setCountRunden(n);
        ApplyTimeColumnCount();
    });
    connect(files, &TFileCommands::status, this, [this](const QString &text) {
        StatusBar1->showMessage(text);
        m_fileNote = text;
    });
    // What a load or a save did, in the status bar; the journal and the recovery file learn
    // of it too once they run.
    connect(files, &TFileCommands::loaded, this, &TFormMain::fileLoaded);
    connect(files, &TFileCommands::saved, this, &TFormMain::fileSaved);
    connect(files, &TFileCommands::pageWritten, this, [this](const QString &f) {
        StatusBar1->showMessage(QStringLiteral("Als Webseite gespeichert: ") + fileCountText(f));
    });
    sheets = new TSheetCommands(view->resultsTable(), this, this);
    connect(sheets, &TSheetCommands::busyChanged, this, &TFormMain::fileBusy);
    connect(files, &TFileCommands::busyChanged, this, &TFormMain::fileBusy);
    // The save dialog takes over a text file's type once the file has been read.
    connect(files, &TFileCommands::finished, this, [this](bool ok) {
        if (ok)
            FilterInd = files->SaveDialog1.FilterIndex;
    });
    connect(sheets, &TSheetCommands::loaded, this, &TFormMain::fileLoaded);
    connect(sheets, &TSheetCommands::saved, this, &TFormMain::fileSaved);
    connect(files, &TFileCommands::sheetOpenRequested, this, &TFormMain::LoadProtocolSheet);
    connect(files, &TFileCommands::sheetSaveRequested, this, &TFormMain::SaveProtocolSheet);
    view->heldDisabled = [this](QAbstractButton *b) {
        if (!sheets->busy() && !files->busy())
            return false;
        if (b == sbSave || b == sbPrint || b == sbWeb || b == sbCls)
            return true;
        // A text file being read always replaces the results protocol.
        return (sheets->loading() || files->busy()) &&
               (b == bInsert || b == bInsertALL || b == bRestore);
    };
    connect(sbOpen, &QToolButton::clicked, this, &TFormMain::sbOpenClick);
    connect(sbSave, &QToolButton::clicked, this, &TFormMain::sbSaveClick);
    connect(sbWeb, &QToolButton::clicked, this, [this] { sbWebClick(sbWeb); });
    connect(sbPrint, &QToolButton::clicked, this, [this] { sbWebClick(sbPrint); });
}

void TFormMain::layoutAreas()
{
    QWidget *c = centralWidget();
    const int w = c->width();
    const int h = c->height();
    UpperArea->setGeometry(0, 0, w, kUpperHeight);
    Panel5->setGeometry(kTimerWidth, 0, qMax(0, w - kTimerWidth), kUpperHeight);

    // Help, settings and info buttons and the date are anchored to the right.
    const int shift = Panel5->width() - kDesignPanel5Width;
    bHelp->move(162 + shift, 56);
    bCFG->move(208 + shift, 56);
    bInfo->move(254 + shift, 56);
    LabelDate->move(162 + shift, 14);

    const int lowerH = qMax(0, h - kUpperHeight);
    LowerArea->setGeometry(0, kUpperHeight, w, lowerH);
    PanelLeft->setGeometry(0, 0, kLeftPanelWidth, lowerH);
    SortGridPred->setGeometry(0, 0, kLeftPanelWidth - 40, lowerH);
    bInsertALL->move(kLeftPanelWidth - 38, 16);
    bInsert->move(kLeftPanelWidth - 38, 56);
    bRestore->move(kLeftPanelWidth - 38, 96);
    bDel->move(kLeftPanelWidth - 38, qMax(136, lowerH - 36 - 8));
    SortGrid1->setGeometry(kLeftPanelWidth, 0, qMax(0, w - kLeftPanelWidth), lowerH);
}

void TFormMain::resizeEvent(QResizeEvent *e)
{
    QMainWindow::resizeEvent(e);
    layoutAreas();
    FormResize();
}

void TFormMain::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        chrono->setDisplayHidden(isMinimized());
}

void TFormMain::FormResize()
{
    LayoutColumns();
    bStart->update();
    bLAP->update();
    bReset->update();
    // Hide and show the right-hand panel so that it is redrawn completely; the focus of a
    // command button inside it must survive that.
    QWidget *focus = QApplication::focusWidget();
    const bool inside = focus && Panel5->isAncestorOf(focus);
    Panel5->hide();
    Panel5->show();
    if (inside)
        focus->setFocus(Qt::OtherFocusReason);
}

void TFormMain::setCommandEnabled(ChronoCommand cmd, bool enabled)
{
    QAction *action = nullptr;
    TLbButton *button = nullptr;
    switch (cmd) {
    case ChronoCommand::Start:
        action = mStart;
        button = bStart;
        break;
    case ChronoCommand::Lap:
        action = mLAP;
        button = bLAP;
        break;
    case ChronoCommand::Reset:
        action = mReset;
        button = bReset;
        break;
    }
    action->setEnabled(enabled);
    button->setEnabled(enabled);
    button->setColor(enabled ? button->HotTrackColor() : clBlack);
}

void TFormMain::setResetCaption(const QString &caption)
{
    bReset->setText(caption);
}

void TFormMain::mStartClick()
{
    chrono->start();
}

bool TFormMain::takeTime(const QString &source, std::optional<TimeOfDay> at)
{
    // A disabled ZEIT does nothing, by whichever route it is reached.
    if (!mLAP->isEnabled())
        return false;
    if (at)
        chrono->lapAt(*at, source);
    else
        chrono->lap(source);
    return true;
}

void TFormMain::mLAPClick()
{
    takeTime(QStringLiteral("F8"));
}

void TFormMain::mResetClick()
{
    chrono->resetClick();
}

void TFormMain::ClockTimer()
{
    chrono->tick();
}

void TFormMain::bStartMouseDown(Qt::MouseButton)
{
    mStart->trigger();
}

void TFormMain::bLAPMouseDown(Qt::MouseButton)
{
    takeTime(QStringLiteral("Maus"));
}

void TFormMain::ComPortLS(QObject *Sender)
{
    // An event of the port carries the line status after its change and the moment it
    // happened; any other call reads the line now.
    if (Sender == ComPort && ComPort->Dispatching())
        guard->ComPortLS(ComPort->EventStatus(), ComPort->EventStamp(), ComPort->Port());
    else
        guard->ComPortLS(ComPort->Port());
}

void TFormMain::barrierPass(const TBarrierPass &pass)
{
    // "Lichtschranke 4+6 COM5": the pin pair the barrier closed, and its port.
    const QString pair = pinPairText(pass.status & 0xF0u);
    const QString source = QStringLiteral("Lichtschranke ") +
                           (pair.isEmpty() ? QString() : pair + ' ') + QStringLiteral("COM") +
                           QString::number(pass.port);
    if (!takeTime(source, pass.stamp.timeOfDay))
        guard->passNotTaken(pass);
}

void TFormMain::ComPortOpen(QObject *)
{
    m_openedPort = ComPort->Port();
    showBarrierIcon();
    if (CfgDialog)
        CfgDialog->setPanelTestColor(toQColor(clLime));
}

void TFormMain::ComPortClose(QObject *)
{
    showBarrierIcon();
    if (CfgDialog)
        CfgDialog->setPanelTestColor(toQColor(clBtnFace));
}

void TFormMain::ComPortNotice(QObject *, int Notice)
{
    switch (Notice) {
    case cnPollingFallback:
        StatusBar1->showMessage(
            QStringLiteral("Lichtschranke an COM%1: Der Treiber meldet keine Kontaktänderungen, "
                           "die Leitungen werden jetzt alle 2 ms abgefragt.")
                .arg(ComPort->Port()));
        break;
    case cnEventsDropped:
        StatusBar1->showMessage(
            QStringLiteral("Lichtschranke: %1 Kontaktänderungen verloren, weil das Programm "
                           "zu lange beschäftigt war.")
                .arg(ComPort->DroppedEvents()));
        break;
    case cnPortLost:
        guard->LastLineStatus = TBarrierGuard::unknownLineStatus;
        sayPortLoss(true);
        break;
    case cnPriority:
        // Which priority the worker got decides how much a busy machine can delay a stamp.
        if (safekeeping) {
            QStringList line{QStringLiteral("Priorität"),
                             QStringLiteral("COM%1").arg(ComPort->Port()),
                             workerPriorityText(ComPort->WorkerPriority())};
            if (!ComPort->PriorityReason().isEmpty())
                line << ComPort->PriorityReason();
            safekeeping->command(line);
        }
        break;
    case cnPortReopened: {
        QString text = QStringLiteral("Lichtschranke an COM%1 um %2 verbunden")
                           .arg(ComPort->Port())
                           .arg(clockText(ComPort->ReopenStamp().timeOfDay));
        // Found again through its stable name under another device node: which one.
        const PortDiscovery &ports = portDiscovery();
        const QString stable = ComPort->StableName();
        if (!stable.isEmpty() &&
            ports.node(stable) != ports.node(devicePathForPort(ComPort->Port())))
            text += QStringLiteral(", jetzt als ") + ports.describe(stable).text();
        StatusBar1->showMessage(text + QLatin1Char('.'));
        break;
    }
    }
}

void TFormMain::sayPortLoss(bool wasOpen)
{
    const QString text = wasOpen ? QStringLiteral("Verbindung zur Lichtschranke an COM%1 um %2 "
                                                  "verloren: %3. Neuer Versuch jede Sekunde.")
                                 : QStringLiteral("Lichtschranke an COM%1 ließ sich um %2 nicht "
                                                  "öffnen: %3. Neuer Versuch jede Sekunde.");
    StatusBar1->showMessage(text.arg(QString::number(ComPort->Port()),
                                     clockText(ComPort->LossStamp().timeOfDay),
                                     ComPort->LossReason()));
}

void TFormMain::showBarrierIcon()
{
    // The lock state is kept while the port is lost, and shown again when it is back.
    const bool lost = ComPort->Retrying();
    ImageLSzeit->setPixmap(lost ? barrierIconNotConnected() : ImageList1.value(guard->lockState()));
    ImageLSzeit->setVisible(lost || ComPort->Connected());
    ImageLSzeit->update();
}

void TFormMain::barrierPassIgnored(const TBarrierPass &pass, TBarrierGuard::Ignored why)
{
    ++m_ignoredPasses;
    const QString time = TChronometer::timeText(pass.stamp.timeOfDay);
    const QString reason = TBarrierGuard::ignoredText(why);
    LabelIgnored->setText(QStringLiteral("Durchfahrten ohne Zeit: %1, zuletzt %2 (%3)")
                              .arg(m_ignoredPasses)
                              .arg(time, reason));
    LabelIgnored->show();
    if (safekeeping) {
        const QString pair = pinPairText(pass.status & 0xF0u);
        safekeeping->passIgnored(
            pass.stamp.timeOfDay, time, pair.isEmpty() ? QStringLiteral("-") : pair,
            pass.port ? QStringLiteral("COM") + QString::number(pass.port) : QStringLiteral("-"),
            reason);
    }
}

RecoveryFormat::Run TFormMain::runState() const
{
    RecoveryFormat::Run run;
    run.state = chrono->running()         ? RecoveryFormat::Running
                : chrono->stopFlag() == 1 ? RecoveryFormat::Stopped
                                          : RecoveryFormat::Idle;
    // A lock time ends with the barrier free, whoever locked it meanwhile.
    run.barrierFree = guard->lockState() == 1 || guard->lockTimeRunning();
    return run;
}

void TFormMain::BarrierTrigger()
{
    guard->BarrierTrigger({m_stamps.stamp(), guard->LastLineStatus, ComPort->Port()});
}

void TFormMain::StartLockTime()
{
    guard->StartLockTime(m_stamps.stamp());
}

void TFormMain::TimerGesperrtTimer()
{
    guard->TimerGesperrtTimer();
}

void TFormMain::ImageLSzeitClick()
{
    guard->ImageLSzeitClick();
}

void TFormMain::LockLSStart1Click()
{
    // Works in every state, icon visible or not, also during a lock time.
    guard->ImageLSzeitClick();
}

void TFormMain::bHelpClick()
{
    // One request for all three triggers: the contents of the help file.
    SPHTMLHelp::showTableOfContents();
}

void TFormMain::bCFGClick()
{
    // During the pause after "OK" the confirmed values are not applied yet.
    if (!CfgDialog || cfgPausePending())
        return;
    TCfgDialog &dlg = *CfgDialog;
    // The dialog changes the port's trigger edge with its port (the contact test needs it
    // before "OK"); the guard follows at once.
    connect(&dlg, &TCfgDialog::triggerEdgeChanged, guard, &TBarrierGuard::setTriggerEdge,
            Qt::UniqueConnection);
    refreshPorts(dlg);
    const int remembered = dlg.fill(currentSettings());
    if (dlg.exec() != QDialog::Accepted)
        return;
    // The port list may have opened another port meanwhile: read the working values now.
    const TSettings chosen = dlg.chosen(currentSettings());
    if (dlg.cbPort->currentIndex() == remembered) {
        applyCfg(chosen, false);
        return;
    }
    // Another port: closed for a second before it is opened again, without holding up
    // the window.
    ComPort->Close();
    m_pendingCfg = chosen;
    if (!m_cfgPause) {
        m_cfgPause = timerFactory ? timerFactory() : makeQtTimer();
        m_cfgPause->setSingleShot(true);
        m_cfgPause->onTimeout = [this] { cfgPauseEnded(); };
    }
    mCFG->setEnabled(false);
    bCFG->setEnabled(false);
    m_cfgPause->start(1000);
}

bool TFormMain::cfgPausePending() const
{
    return m_pendingCfg.has_value();
}

void TFormMain::cfgPauseEnded()
{
    if (!m_pendingCfg)
        return;
    const TSettings chosen = *m_pendingCfg;
    m_pendingCfg.reset();
    mCFG->setEnabled(true);
    bCFG->setEnabled(true);
    applyCfg(chosen, chosen.Port != 0);
}

void TFormMain::applyCfg(const TSettings &chosen, bool openPort)
{
    // Lowering the column count must not drop times: columns that hold one stay.
    const int wanted = qBound(1, chosen.CountRunden, 100);
    const int count = tables->timeColumnsKeeping(wanted);
    if (count > wanted)
        StatusBar1->showMessage(
            QStringLiteral("Zeitenanzahl %1 statt %2: die Zeitspalten bis %1 enthalten Zeiten.")
                .arg(count)
                .arg(wanted));
    tables->setCountRunden(count);
    ApplyTimeColumnCount();
    guard->setLockTime(chosen.Wait);
    PanelTimer->setC2(chosen.C2);
    PanelTimer->setC1(chosen.C1);
    PanelTimer->setC4(chosen.C4);
    PanelTimer->ApplyDisplayColors();
    if (!chrono->running()) {
        PanelTimer->ShowTime(0, 0);
        PanelTimer->ShowTime(1, 0);
    }
    ComPort->setPort(quint8(chosen.Port));
    ComPort->Tag = chosen.Alg;
    guard->setTriggerEdge(chosen.Alg);
    if (!openPort)
        return;
    // The last step: everything else is applied even when the port cannot be opened.
    try {
        ComPort->Open();
    } catch (const EComError &e) {
        ErrorBox::show(this, e.Message);
    }
}

void TFormMain::bInfoClick()
{
    if (FormInfo)
        FormInfo->exec();
}
void TFormMain::bInsertClick()
{
    view->bInsertClick();
}

void TFormMain::bInsertALLClick()
{
    view->bInsertALLClick();
}

void TFormMain::bRestoreClick()
{
    view->bRestoreClick();
}

void TFormMain::bDelClick()
{
    view->bDelClick();
}

void TFormMain::sbClsClick()
{
    view->sbClsClick();
}

void TFormMain::LayoutColumns()
{
    view->LayoutColumns();
}

void TFormMain::UpdateFileButtons()
{
    view->UpdateFileButtons();
}

void TFormMain::ApplyTimeColumnCount()
{
    view->ApplyTimeColumnCount();
}

void TFormMain::sbOpenClick()
{
    files->sbOpenClick();
    // The save dialog took over the type just loaded.
    FilterInd = files->SaveDialog1.FilterIndex;
}

void TFormMain::sbSaveClick()
{
    files->SaveDialog1.FilterIndex = FilterInd;
    files->sbSaveClick();
    FilterInd = files->SaveDialog1.FilterIndex;
}

void TFormMain::sbWebClick(QObject *Sender)
{
    if (Sender == sbWeb)
        files->sbWebClick(0);
    else if (Sender == sbPrint)
        files->sbWebClick(1);
}

void TFormMain::SaveProtocolText(const QString &FileName)
{
    files->SaveProtocolText(FileName);
}

void TFormMain::LoadProtocolText(const QString &FileName)
{
    // One file at a time replaces the results protocol.
    if (!sheets->busy())
        files->LoadProtocolText(FileName);
}

void TFormMain::WriteHtmlReport(const QString &FileName)
{
    files->WriteHtmlReport(FileName);
}

void TFormMain::LoadProtocolSheet(const QString &FileName)
{
    if (!files->busy())
        sheets->LoadProtocolSheet(FileName);
}

void TFormMain::SaveProtocolSheet(const QString &FileName, const QString &suffix)
{
    sheets->SaveProtocolSheet(FileName, suffix);
}

void TFormMain::startLiveResults(bool commandLineLive, std::optional<quint16> commandLinePort)
{
    const TLiveResults::Config c = TLiveResults::withCommandLine(TLiveResults::readSettings(),
                                                                 commandLineLive, commandLinePort);
    if (!c.enabled || live)
        return;
    live = new TLiveResults(view->predTable(), view->resultsTable(), this);
    live->applicationTitle = ApplicationTitle;
    connect(live, &TLiveResults::status, this, [this](const QString &text) {
        LabelLive->setText(text);
        LabelLive->setVisible(!text.isEmpty());
    });
    connect(this, &TFormMain::timeTaken, live,
            [this](const QString &text, const TimeOfDay &t) { live->noteCapture(text, t); });
    live->start(c);
}

void TFormMain::startSafekeeping(const QString &folder)
{
    if (safekeeping)
        return;
    safekeeping = new TSafekeeping(view->predTable(), view->resultsTable(), *m_clock,
                                   folder.isEmpty() ? TSafekeeping::defaultFolder() : folder, this);
    safekeeping->setTimerFactory(timerFactory);
    connect(safekeeping, &TSafekeeping::status, this,
            [this](const QString &text) { StatusBar1->showMessage(text); });
    safekeeping->askRestore = [] {
        // Asked to end already: nobody is there to answer.
        if (!FDlgYesNo || Termination::requested())
            return false;
        FDlgYesNo->Label1->setText(QStringLiteral("Letztes Protokoll wiederherstellen?"));
        return FDlgYesNo->showModalResult() == TFDlgYesNo::mrYes;
    };
    connect(safekeeping, &TSafekeeping::restoreRequested, this,
            [this](const RecoveryFormat::State &s) {
                view->restore(s.pred, s.results);
                // As it was: a running chronometer runs on and a free barrier takes the next pass.
                if (s.run.state != RecoveryFormat::Idle && !chrono->running())
                    mStart->trigger();
                if (s.run.state == RecoveryFormat::Stopped && chrono->running())
                    mReset->trigger();
                if (s.run.barrierFree && guard->lockState() == 0)
                    guard->ImageLSzeitClick();
            });
    safekeeping->runState = [this] { return runState(); };
    connect(this, &TFormMain::timeTaken, safekeeping, &TSafekeeping::timeTaken);
    connect(tables, &TProtocolTables::changeMade, safekeeping, &TSafekeeping::command);
    safekeeping->start(ApplicationTitle, AppInfo::version(),
                       QStringLiteral("Lichtschranke: ") +
                           workerPriorityText(ComPort->WorkerPriority()));
}

bool TFormMain::SpreadsheetAvailable() const
{
    return SpreadsheetApp::available();
}

void TFormMain::fileBusy(bool busy, const QString &status)
{
    const bool any = sheets->busy() || files->busy();
    sbOpen->setEnabled(!any);
    if (busy) {
        StatusBar1->showMessage(status);
        m_busyStatus = status;
        setCursor(Qt::BusyCursor);
    } else if (!any) {
        // What the command said at its end ("Geladen: ...") stays, with a note the command
        // left (a sheet read only to the second).
        const bool unchanged = StatusBar1->currentMessage() == m_busyStatus;
        if (!status.isEmpty())
            StatusBar1->showMessage(
                unchanged ? status : StatusBar1->currentMessage() + QStringLiteral(" – ") + status);
        else if (unchanged)
            StatusBar1->clearMessage();
        m_busyStatus.clear();
        unsetCursor();
    }
    view->refreshButtons();
}
