#pragma once

#include "image/embedded_image.h"
#include "image/memory_image.h"
#include "link/link.h"
#include "link/link_host.h"
#include "link/serial_port.h"
#include "message_presenter.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace rqv5 {

class DoubleClickLineEdit;
class FileDropLineEdit;

// What the window runs on. Left empty, the window makes the program's own: a
// QSerialPort, Timer1 with a blocking yield, and modal message boxes.
struct WindowEnvironment {
    std::unique_ptr<SerialPort> port;
    WaitClock* clock = nullptr; // not owned
    MessagePresenter presenter;
};

// The program's only window. What the user sees: the version label, the Start
// button, the progress bar while an update runs, and the COM menu. Every other
// control exists from start-up but is hidden: the service panel (revealed by
// double-clicking the progress box), the legacy step buttons, the port-pin panel
// and the file drop target.
//
// Handlers are named control_Event and run the protocol procedures of Link; each
// turns a procedure's result into exactly one message.
class frmMain : public QMainWindow, public LinkHost {
    Q_OBJECT
public:
    using Environment = WindowEnvironment;

    static constexpr int TwipsPerPixel = 15;
    static constexpr int RevealCount = 5;
    static constexpr int BarMinimum = 0xC000;
    static constexpr int BarMaximum = 0xFFFF;

    explicit frmMain(Environment environment = {});
    ~frmMain() override;

    // --- Start-up and the port menu --------------------------------------
    void mnuCom_Click(int index);
    std::int16_t GetCOM() override;
    void Timer1_Timer();

    // --- The update --------------------------------------------------------
    void cmdStart_Click();
    void cmdMacro_Click(int index);

    // --- Service panel ----------------------------------------------------
    void Text1_DblClick();
    void Command11_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void cmdCheckSum_Click();
    void txtPinNumber_Change();

    // --- Legacy step buttons ------------------------------------------------
    void Command1_Click();
    void cmbErase_Click();
    void cmbWrite_Click();
    void cmbEnd_Click();
    void Command4_Click();
    void Command7_Click();
    void Command6_Click();
    void Command5_Click();

    // --- Port-pin panel ---------------------------------------------------
    void Command2_Click();

    // --- Image file drop ----------------------------------------------------
    void Text3_OLEDragDrop(const QStringList& files);

    // --- State the handlers share ---------------------------------------------
    std::int16_t hiddenActivateCounter = 0;
    MemoryImage image;
    ImageLineTable lines;
    std::int16_t LoadError = 0;
    Link& link() { return *link_; }
    SerialPort& MSComm1() { return *MSComm1_; }
    // True while a protocol procedure (or its message) is running.
    bool operationRunning() const { return operationDepth_ > 0; }
    // True while the hourglass pointer is shown.
    bool hourglass() const { return hourglass_; }

    // --- LinkHost ----------------------------------------------------------
    void armTimer1() override;
    void disarmTimer1() override;
    bool timer1Running() const override;
    void yieldToEvents() override;
    int selectedBaudOption() override;
    int selectedPortOption() override;
    QString pinNumberText() override;
    void setBarValue(int row) override;
    void setText1(const QString& text) override;

    // --- Controls (their objectName is the same as the member's name; array
    // elements are named like "mnuCom(3)") -------------------------------------
    QWidget* client = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* cmdStart = nullptr;
    QProgressBar* bar = nullptr;
    DoubleClickLineEdit* Text1 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* cmdCheckSum = nullptr;
    QLineEdit* txtCsStt = nullptr;
    QLineEdit* txtCsStp = nullptr;
    std::array<QPushButton*, 3> cmdMacro{};
    QPushButton* Command1 = nullptr;
    QPushButton* cmbErase = nullptr;
    QPushButton* cmbWrite = nullptr;
    QPushButton* cmbEnd = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command5 = nullptr;
    QGroupBox* Frame2 = nullptr;
    std::array<QRadioButton*, 4> port{};
    QLineEdit* txtPinNumber = nullptr;
    QPushButton* Command2 = nullptr;
    QLineEdit* Text2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 3> optBPS{};
    FileDropLineEdit* Text3 = nullptr;
    QMenu* mnuSetting = nullptr;
    QMenu* mnuPort = nullptr;
    std::array<QAction*, 17> mnuCom{}; // 1..16; element 0 unused
    QTimer* Timer1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Operation;

    void buildLayout();
    void connectHandlers();
    void Form_Load();
    void showMessage(const QString& text, const QString& title, MessageIcon icon);
    void showOutcome(bool passed, const QString& passText, const QString& failText);
    void setHourglass(bool on);
    // A step button: disabled while its step runs; the step passes on exactly `passValue`.
    void stepButton(QPushButton* pressed, const std::function<std::int16_t()>& step, std::int16_t passValue,
                    const QString& passText, const QString& failText);
    // A write button: the hourglass while it runs; the write passes on 0.
    void writeButton(const std::function<std::int16_t()>& write, const QString& passText);
    // A click from the user: refused while another protocol procedure runs, since
    // both would talk over the same port.
    void onClick(void (frmMain::*handler)());
    void runFlashSequence();
    void runLegacySequence(ProtocolMode mode);
    void revealServicePanel();

    std::unique_ptr<SerialPort> MSComm1_;
    std::unique_ptr<WaitClock> ownClock_;
    WaitClock* clock_ = nullptr;
    MessagePresenter presenter_;
    std::unique_ptr<Link> link_;
    int operationDepth_ = 0;
    bool closing_ = false;
    bool hourglass_ = false;
};

} // namespace rqv5
