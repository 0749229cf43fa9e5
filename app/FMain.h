#pragma once

#include "platform/Clock.h"
#include "platform/Timer.h"
#include "protocol/Recovery.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "timing/BarrierGuard.h"
#include "timing/Chronometer.h"

#include <QMainWindow>
#include <QPixmap>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTimer;
class QToolButton;
class TLbButton;
class TTimeDisplay;
class TClickImage;
class TSortGrid;
class TProtocolTables;
class TProtocolView;
class TComPort;
class TCfgDialog;
class TFileCommands;
class TLiveResults;
class TSafekeeping;
class TSheetCommands;

// The main window: the frame that owns every control and forwards each handler to the
// component that owns the behaviour.
class TFormMain : public QMainWindow, public ICommandPanel
{
    Q_OBJECT
public:
    // clock: the local clock (a test hands in its own); nullptr = the system clock.
    // store: the per-user settings store; nullptr = the program's own (QSettings).
    explicit TFormMain(IClock *clock = nullptr, QWidget *parent = nullptr,
                       ISettingsStore *store = nullptr);
    ~TFormMain() override;

    // The probe of COM1..COM16, at start-up and each time the settings dialog opens; tests
    // replace it so that no real device is opened.
    static std::function<quint32()> &portProbe();
    // What the ports are (device, adapter, by-id name), read from the system's /sys and
    // /dev; tests point it at a folder of their own.
    static PortDiscovery &portDiscovery();

    // Start-up and shut-down.
    void FormDestroy();

    // The executable's base name: application title, settings key, file names.
    QString ApplicationTitle;
    QString SettingsKey;
    // The executable's path with ".chm" for its extension.
    QString HelpFile;
    // Working copies of settings that no control holds.
    bool Sound = true;
    int Acc = 2;
    int FilterInd = 1;

    // The settings as the components hold them now.
    TSettings currentSettings() const;
    // Where the window's own timers come from (tests hand in test timers).
    TimerFactory timerFactory = makeQtTimer;
    // True during the second after "OK" with another port, before the rest is applied.
    bool cfgPausePending() const;

    // Non-visual members.
    TComPort *ComPort = nullptr;
    // Ports COM1..COM16 found at start-up and when the settings dialog last opened: bit n-1
    // for COMn, the highest in the upper half.
    quint32 PortSet = 0;
    TChronometer *chrono = nullptr;
    // The two barrier icons: 0 locked, 1 free.
    QList<QPixmap> ImageList1;
    // Barrier lock, lock time (with its timer TimerGesperrt) and trigger edge.
    TBarrierGuard *guard = nullptr;
    // Both protocol grids as the window shows them, with their buttons and commands.
    TProtocolView *view = nullptr;
    // The rules of both protocol tables (the view's).
    TProtocolTables *tables = nullptr;
    // Open, Save, the page for the viewer and the printer; it owns both file dialogs.
    TFileCommands *files = nullptr;
    // The live results on the local network (off unless the settings or --live ask).
    TLiveResults *live = nullptr;
    // The journal of every time and command, and the recovery file (after start-up).
    TSafekeeping *safekeeping = nullptr;
    TSheetCommands *sheets = nullptr;

    // Chronometer commands and display tick.
    void ClockTimer();

    // Light barrier.
    void ComPortLS(QObject *Sender);
    // What the recovery file keeps of the run: the chronometer's state and the barrier.
    RecoveryFormat::Run runState() const;

    // Protocol tables.
    void bInsertClick();
    void bInsertALLClick();
    void bRestoreClick();
    void bDelClick();
    void sbClsClick();
    void LayoutColumns();
    void UpdateFileButtons();
    void ApplyTimeColumnCount();

    // Files, viewer and printer.
    // sbWeb opens the page in the viewer, sbPrint prints it.
    void sbWebClick(QObject *Sender);
    void SaveProtocolText(const QString &FileName);
    void LoadProtocolText(const QString &FileName);
    void WriteHtmlReport(const QString &FileName);
    void LoadProtocolSheet(const QString &FileName);
    // suffix: the format (xls, xlsx, ods); empty: the name's own.
    void SaveProtocolSheet(const QString &FileName, const QString &suffix = QString());
    bool SpreadsheetAvailable() const;
    // Starts the live results when the settings file ([Live] Enabled) or the command line
    // (--live, --live=PORT) asks for them.
    void startLiveResults(bool commandLineLive = false,
                          std::optional<quint16> commandLinePort = std::nullopt);
    // Starts the journal and the recovery file in folder (empty: the user's data folder of
    // this program) and offers a recovery file left by a crash. Needs the yes/no dialog.
    void startSafekeeping(const QString &folder = QString());

    // ICommandPanel
    void setCommandEnabled(ChronoCommand cmd, bool enabled) override;
    void setResetCaption(const QString &caption) override;

signals:
    // A time taken: its text, its time of day, and where it came from ("F8", "Maus", or
    // "Lichtschranke" with the pin pair and the port, e.g. "Lichtschranke 4+6 COM5").
    void timeTaken(const QString &timeText, const TimeOfDay &t, const QString &source);

protected:
    void resizeEvent(QResizeEvent *e) override;
    // Minimised: the running row is not drawn (the time-taking path is untouched).
    void changeEvent(QEvent *e) override;

private:
    // Handlers of the controls, the port and the timers, connected in the constructor.
    void FormCreate();
    // Puts loaded settings into the components that use them.
    void applySettings(const TSettings &s);
    void mStartClick();
    void mLAPClick();
    void mResetClick();
    void bStartMouseDown(Qt::MouseButton button);
    void bLAPMouseDown(Qt::MouseButton button);
    void ComPortOpen(QObject *Sender);
    void ComPortClose(QObject *Sender);
    // What the port reports besides line events, said in the status bar.
    void ComPortNotice(QObject *Sender, int Notice);
    void BarrierTrigger();
    // A pass that took no time: counted in the status bar and written to the journal.
    void barrierPassIgnored(const TBarrierPass &pass, TBarrierGuard::Ignored why);
    void StartLockTime();
    void TimerGesperrtTimer();
    void ImageLSzeitClick();
    // Other keys of the hidden menu.
    void LockLSStart1Click();
    void bHelpClick();
    void bCFGClick();
    void bInfoClick();

    void FormResize();

    void sbOpenClick();
    void sbSaveClick();

    // Takes a time by any route (F8, a mouse press on ZEIT, a light-barrier pass): at the
    // given time of day, or the clock's now. source says where it came from ("F8", "Maus",
    // "Lichtschranke 4+6 COM5"). A disabled ZEIT takes nothing: false.
    bool takeTime(const QString &source, std::optional<TimeOfDay> at = std::nullopt);
    // A pass the barrier guard let through.
    void barrierPass(const TBarrierPass &pass);
    // While a spreadsheet conversion runs or a text file is read: file buttons off (and,
    // loading, the buttons that move times into the results protocol), the status bar says
    // what runs, busy cursor.
    void fileBusy(bool busy, const QString &status);
    // What the settings dialog's "OK" changes, in its order; opens the port if asked.
    void applyCfg(const TSettings &chosen, bool openPort);
    void cfgPauseEnded();
    // The barrier icon for the port's state: hidden while closed, the lock state while
    // open, "not connected" while a lost port is retried.
    void showBarrierIcon();
    // The status bar after the port was lost (wasOpen) or could not be opened at start-up.
    void sayPortLoss(bool wasOpen);
    // Probes the ports again and hands them, each with what it is, to the settings dialog.
    void refreshPorts(TCfgDialog &dlg);
    // A load or a save has put the results protocol into a file or taken it from one.
    void fileLoaded(const QString &fileName);
    void fileSaved(const QString &fileName, quint64 revision);
    // "ergebnis.xlsx, 40 Fahrzeuge": the file's name and the cars in the results protocol.
    QString fileCountText(const QString &fileName) const;
    void createMenu();
    void createUpperArea();
    void createLowerArea();
    void layoutAreas();

    // The controls, each with its object name (tests find them by it).
    // Hidden menu: its items exist for their shortcuts; a disabled item does nothing.
    QMenu *HideMenu1 = nullptr;
    QAction *mHilfe = nullptr;
    QAction *mCFG = nullptr;
    QAction *LockLSStart1 = nullptr;
    QAction *mStart = nullptr;
    QAction *mLAP = nullptr;
    QAction *mReset = nullptr;
    QAction *Info1 = nullptr;
    QAction *Hilfe1 = nullptr;
    QAction *Beenden1 = nullptr;

    // Upper area.
    QWidget *UpperArea = nullptr;
    TTimeDisplay *PanelTimer = nullptr;
    QWidget *Panel5 = nullptr;
    TLbButton *bStart = nullptr;
    TLbButton *bLAP = nullptr;
    TLbButton *bReset = nullptr;
    TClickImage *ImageLSzeit = nullptr;
    QToolButton *bHelp = nullptr;
    QToolButton *bCFG = nullptr;
    QToolButton *bInfo = nullptr;
    QLabel *LabelDate = nullptr;
    QLabel *LabelTitle = nullptr;
    QLabel *LabelProtokoll = nullptr;
    QToolButton *sbOpen = nullptr;
    QToolButton *sbSave = nullptr;
    QToolButton *sbPrint = nullptr;
    QToolButton *sbWeb = nullptr;
    QToolButton *sbCls = nullptr;

    // Lower area.
    QWidget *LowerArea = nullptr;
    QWidget *PanelLeft = nullptr;
    TSortGrid *SortGridPred = nullptr;
    TSortGrid *SortGrid1 = nullptr;
    QToolButton *bInsertALL = nullptr;
    QToolButton *bInsert = nullptr;
    QToolButton *bRestore = nullptr;
    QToolButton *bDel = nullptr;
    QStatusBar *StatusBar1 = nullptr;

    QLabel *LabelLive = nullptr;
    // Passes of the light barrier since START that took no time, with the last one.
    QLabel *LabelIgnored = nullptr;

    IClock *m_clock;
    // Stamps for line changes handled without a stamp of their own.
    ClockStamps m_stamps;
    int m_ignoredPasses = 0;
    // The port opened last in this run (0: none yet).
    int m_openedPort = 0;
    // What the status bar says while a spreadsheet conversion runs.
    QString m_busyStatus;
    // A note of the text loader on its way (more time columns), said with "Geladen".
    QString m_fileNote;
    std::unique_ptr<ISettingsStore> m_ownStore;
    ISettingsStore *m_store = nullptr;
    bool m_destroyed = false;
    // The port stays closed for a second after another port was confirmed; the window
    // keeps running meanwhile and the rest of "OK" is applied when it ends.
    std::unique_ptr<ITimer> m_cfgPause;
    std::optional<TSettings> m_pendingCfg;
};
