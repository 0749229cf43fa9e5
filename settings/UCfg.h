#pragma once

#include "platform/ColorDialog.h"
#include "platform/Timer.h"
#include "settings/Settings.h"
#include "timing/BarrierGuard.h"

#include <QColor>
#include <QDialog>
#include <QMap>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class TComPort;
class TSpinEdit;
class TSpinFloatEdit;
class ToColorCombo;

// The settings dialog ("Einstellungen"): port, trigger edge, lock time, number of time
// columns and display colours, with the live contact test of the light barrier. A port
// chosen here is opened at once, so the contact test works before "OK", and stays chosen
// after "Abbrechen".
class TCfgDialog : public QDialog, public IContactTest
{
    Q_OBJECT
public:
    // portSet: the ports found at start-up; comPort: the main window's port.
    TCfgDialog(quint32 portSet, TComPort *comPort, QWidget *parent = nullptr);
    ~TCfgDialog() override;

    QGroupBox *gbLS = nullptr;
    QComboBox *cbPort = nullptr;
    // What the chosen port is: "/dev/ttyUSB0 · FTDI FT232R USB UART".
    QLabel *lPortInfo = nullptr;
    QComboBox *cbAlg = nullptr;
    TSpinFloatEdit *seWait = nullptr;
    QLabel *PanelTest = nullptr;
    TSpinEdit *seCounter = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    ToColorCombo *cbColorCifra = nullptr;
    ToColorCombo *cbColorCifra2 = nullptr;
    ToColorCombo *cbColorFon = nullptr;
    TColorDialog ColorDialog1;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

    void FormCreate();
    // The port list: "Keine" and COMn for each port in portSet, each with what it is (its
    // hint, and the line under the list while it is chosen). Keeps no selection.
    void setPorts(quint32 portSet, const QMap<int, QString> &descriptions = {});
    void FormShow();
    void cbPortChange();
    void cbColorCifraChange(QObject *Sender);

    // Fills the controls from the working values (everything but showing the dialog) and
    // returns the port list's index then (-1: the stored port was not found).
    int fill(const TSettings &working);
    // The working values as "OK" leaves them: column count, lock time, colours, and the
    // port and algorithm of the port list's choice.
    TSettings chosen(TSettings working) const;

    QColor PanelTestColor() const { return m_panelColor; }
    void setPanelTestColor(const QColor &c);
    // The colour of the panel's parent, the light-barrier group.
    QColor parentColor() const;

    // The spin buttons' repeat timers come from here.
    void setTimerFactory(const TimerFactory &factory);

    // IContactTest: while the dialog is shown, line changes drive the panel.
    bool contactTestVisible() const override { return isVisible(); }
    void updateContactTest(quint32 status, bool contact) override;

signals:
    // A port chosen in the list took the chosen trigger edge (the port's Tag) at once.
    void triggerEdgeChanged(int alg);

protected:
    void showEvent(QShowEvent *e) override;

private:
    void showPortInfo();

    TComPort *m_port;
    quint32 m_portSet;
    QColor m_panelColor;
};

// Program-wide reference; cleared when the dialog is destroyed, so the main window's
// light-barrier handlers can test whether it still exists.
extern TCfgDialog *CfgDialog;
