#include "frm_main.h"

#include "image/hex_field.h"
#include "image/image_file.h"
#include "link/com_ports.h"
#include "link/qt_serial_port.h"
#include "link/qt_wait_clock.h"
#include "widgets.h"

#include <QAction>
#include <QCloseEvent>
#include <QDebug>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>

namespace rqv5 {

namespace {

// Layout positions and sizes are kept in twips, 15 to a pixel at 96 dpi.
QRect twips(int left, int top, int width, int height) {
    constexpr int k = frmMain::TwipsPerPixel;
    return {left / k, top / k, width / k, height / k};
}

QFont japaneseFont(qreal points) {
    QFont font;
    // The window asks for MS P Gothic; IPA P Gothic has the same metrics and is
    // what a Debian machine has, Noto Sans CJK JP is the last resort.
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    return font;
}

template <class W>
W* make(QWidget* parent, const QString& name, QRect geometry, bool visible = true) {
    auto* w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(geometry);
    w->setVisible(visible);
    return w;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, QRect geometry,
                    bool visible) {
    auto* b = make<QPushButton>(parent, name, geometry, visible);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

QString indexed(const char* name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

} // namespace

// Marks a protocol procedure (with its message) as running, for the guard that
// keeps a second one off the port, and finishes a close that arrived meanwhile.
class frmMain::Operation {
public:
    explicit Operation(frmMain& window) : window_(window) { ++window_.operationDepth_; }
    ~Operation() {
        if (--window_.operationDepth_ == 0 && window_.closing_)
            QMetaObject::invokeMethod(&window_, &QWidget::close, Qt::QueuedConnection);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    frmMain& window_;
};

frmMain::frmMain(Environment environment)
    : MSComm1_(std::move(environment.port)), clock_(environment.clock),
      presenter_(std::move(environment.presenter)) {
    buildLayout();
    if (!MSComm1_)
        MSComm1_ = std::make_unique<QtSerialPort>();
    if (clock_ == nullptr) {
        ownClock_ = std::make_unique<QtWaitClock>(*Timer1);
        clock_ = ownClock_.get();
    }
    if (!presenter_)
        presenter_ = messageBoxPresenter(this);
    link_ = std::make_unique<Link>(*MSComm1_, *this, image);
    connectHandlers();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::buildLayout() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("RQ-V5 ver 5.000"));
    // A fixed single border: a close box, no minimize or maximize box, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips(0, 0, 2400, 1665).size());
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // What the user sees.
    Line1 = make<QFrame>(client, QStringLiteral("Line1"), twips(120, 0, 2175, 15));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);

    Label1 = make<QLabel>(client, QStringLiteral("Label1"), twips(600, 240, 1455, 375));
    Label1->setText(QStringLiteral("Ver 5.000"));
    Label1->setFont(japaneseFont(14.25));

    cmdStart =
        button(client, QStringLiteral("cmdStart"), QStringLiteral("Start"), twips(480, 720, 1455, 495), true);
    cmdStart->setFont(japaneseFont(21.75));

    bar = make<QProgressBar>(client, QStringLiteral("bar"), twips(120, 1320, 2175, 255), false);
    bar->setOrientation(Qt::Horizontal);
    bar->setRange(BarMinimum, BarMaximum);
    bar->setValue(BarMinimum);
    bar->setTextVisible(false);

    // The hidden controls, at their stored places, most of them outside the client area.
    Text1 = make<DoubleClickLineEdit>(client, QStringLiteral("Text1"), twips(1560, 2640, 1095, 270), false);
    Text1->setAlignment(Qt::AlignRight);

    Command11 = button(client, QStringLiteral("Command11"), QStringLiteral("Connect"),
                       twips(240, 1440, 1095, 375), false);
    Command8 = button(client, QStringLiteral("Command8"), QStringLiteral("Erase"),
                      twips(240, 1800, 1095, 375), false);
    Command9 = button(client, QStringLiteral("Command9"), QStringLiteral("Write"),
                      twips(240, 2160, 1095, 375), false);
    Command10 = button(client, QStringLiteral("Command10"), QStringLiteral("Disconnect"),
                       twips(240, 2520, 1095, 375), false);
    cmdCheckSum = button(client, QStringLiteral("cmdCheckSum"), QStringLiteral("CS"),
                         twips(3600, 120, 495, 495), false);
    txtCsStt = make<QLineEdit>(client, QStringLiteral("txtCsStt"), twips(4200, 120, 615, 495), false);
    txtCsStt->setText(QStringLiteral("E0000"));
    txtCsStp = make<QLineEdit>(client, QStringLiteral("txtCsStp"), twips(4920, 120, 615, 495), false);
    txtCsStp->setText(QStringLiteral("FFFFF"));

    const QString ma = QStringLiteral("マ");
    cmdMacro[2] = button(client, indexed("cmdMacro", 2), ma, twips(120, 3240, 615, 615), false);
    cmdMacro[1] = button(client, indexed("cmdMacro", 1), ma, twips(7800, 1680, 615, 1455), false);
    cmdMacro[0] = button(client, indexed("cmdMacro", 0), ma, twips(7800, 120, 615, 1455), false);

    const QString connectText = QStringLiteral("接続"), eraseText = QStringLiteral("消去"),
                  writeText = QStringLiteral("書き込み"), endText = QStringLiteral("切断");
    Command1 = button(client, QStringLiteral("Command1"), connectText, twips(6720, 120, 975, 375), false);
    cmbErase = button(client, QStringLiteral("cmbErase"), eraseText, twips(6720, 480, 975, 375), false);
    cmbWrite = button(client, QStringLiteral("cmbWrite"), writeText, twips(6720, 840, 975, 375), false);
    cmbEnd = button(client, QStringLiteral("cmbEnd"), endText, twips(6720, 1200, 975, 375), false);
    Command4 = button(client, QStringLiteral("Command4"), connectText, twips(6720, 1680, 975, 375), false);
    Command7 = button(client, QStringLiteral("Command7"), eraseText, twips(6720, 2040, 975, 375), false);
    Command6 = button(client, QStringLiteral("Command6"), writeText, twips(6720, 2400, 975, 375), false);
    Command5 = button(client, QStringLiteral("Command5"), endText, twips(6720, 2760, 975, 375), false);

    Frame2 = make<QGroupBox>(client, QStringLiteral("Frame2"), twips(3600, 960, 2535, 1335), false);
    Frame2->setTitle(QStringLiteral("ポートの制御"));
    const QString portCaptions[] = {QStringLiteral("L出力"), QStringLiteral("H出力"), QStringLiteral("入力"),
                                    QStringLiteral("読む")};
    for (int i = 0; i < 4; ++i) {
        port[i] = make<QRadioButton>(Frame2, indexed("port", i), twips(240, 240 + 240 * i, 855, 255));
        port[i]->setText(portCaptions[i]);
    }
    port[3]->setChecked(true);
    txtPinNumber = make<QLineEdit>(Frame2, QStringLiteral("txtPinNumber"), twips(1200, 240, 1095, 375));
    Command2 =
        button(Frame2, QStringLiteral("Command2"), QStringLiteral("GO"), twips(1200, 720, 1095, 495), true);

    Text2 = make<QLineEdit>(client, QStringLiteral("Text2"), twips(2640, 2640, 2775, 270), false);
    Text2->setText(QStringLiteral("Text2"));

    Frame1 = make<QGroupBox>(client, QStringLiteral("Frame1"), twips(1920, 1560, 1455, 1095), false);
    Frame1->setTitle(QStringLiteral("baud rate"));
    const QString rates[] = {QStringLiteral("9600"), QStringLiteral("38400"), QStringLiteral("57600")};
    for (int i = 0; i < 3; ++i) {
        optBPS[i] = make<QRadioButton>(Frame1, indexed("optBPS", i), twips(360, 240 + 240 * i, 855, 255));
        optBPS[i]->setText(rates[i]);
    }
    optBPS[2]->setChecked(true);

    Text3 = make<FileDropLineEdit>(client, QStringLiteral("Text3"), twips(840, 960, 6615, 375), false);

    // The COM menu.
    mnuSetting = menuBar()->addMenu(QStringLiteral("COM"));
    mnuSetting->setObjectName(QStringLiteral("mnuSetting"));
    mnuPort = mnuSetting->addMenu(QStringLiteral("COM port"));
    mnuPort->setObjectName(QStringLiteral("mnuPort"));
    mnuPort->setToolTipsVisible(true);
    for (int n = 1; n <= 16; ++n) {
        mnuCom[n] = mnuPort->addAction(QStringLiteral("COM%1").arg(n));
        mnuCom[n]->setObjectName(indexed("mnuCom", n));
        mnuCom[n]->setCheckable(true);
    }
    // As stored, COM1 and COM3 carry marks; start-up leaves only COM1.
    mnuCom[1]->setChecked(true);
    mnuCom[3]->setChecked(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the deadline is a promise of 5 seconds.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(WaitClock::Timer1IntervalMs);
}

void frmMain::connectHandlers() {
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    for (int n = 1; n <= 16; ++n)
        connect(mnuCom[n], &QAction::triggered, this, [this, n] { mnuCom_Click(n); });
    connect(mnuPort, &QMenu::aboutToShow, this, [this] {
        // Re-read the ports each time: adapters come and go.
        const auto ports = systemSerialPorts();
        for (int n = 1; n <= 16; ++n) {
            const auto com = resolveComPort(n, ports);
            mnuCom[n]->setToolTip(com ? QStringLiteral("%1 — %2").arg(com->device, com->description)
                                      : QStringLiteral("no serial port"));
        }
    });

    connect(cmdStart, &QPushButton::clicked, this, [this] { onClick(&frmMain::cmdStart_Click); });
    for (int i = 0; i < 3; ++i)
        connect(cmdMacro[i], &QPushButton::clicked, this, [this, i] {
            if (!operationRunning())
                cmdMacro_Click(i);
        });

    connect(Text1, &DoubleClickLineEdit::doubleClicked, this, &frmMain::Text1_DblClick);
    connect(Command11, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command11_Click); });
    connect(Command8, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command8_Click); });
    connect(Command9, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command9_Click); });
    connect(Command10, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command10_Click); });
    // The check sum talks to no radio, but its message box would hold up a wait
    // that is running (the deadline passes behind the box), so it waits its turn too.
    connect(cmdCheckSum, &QPushButton::clicked, this, [this] { onClick(&frmMain::cmdCheckSum_Click); });
    connect(txtPinNumber, &QLineEdit::textChanged, this, &frmMain::txtPinNumber_Change);

    connect(Command1, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command1_Click); });
    connect(cmbErase, &QPushButton::clicked, this, [this] { onClick(&frmMain::cmbErase_Click); });
    connect(cmbWrite, &QPushButton::clicked, this, [this] { onClick(&frmMain::cmbWrite_Click); });
    connect(cmbEnd, &QPushButton::clicked, this, [this] { onClick(&frmMain::cmbEnd_Click); });
    connect(Command4, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command4_Click); });
    connect(Command7, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command7_Click); });
    connect(Command6, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command6_Click); });
    connect(Command5, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command5_Click); });
    connect(Command2, &QPushButton::clicked, this, [this] { onClick(&frmMain::Command2_Click); });

    Text3->refuse = [this] { return operationRunning(); };
    connect(Text3, &FileDropLineEdit::filesDropped, this, &frmMain::Text3_OLEDragDrop);
}

void frmMain::Form_Load() {
    mnuCom_Click(1);
    hiddenActivateCounter = 0;
    LoadEmbeddedImage(image, lines, LoadError);
}

void frmMain::onClick(void (frmMain::*handler)()) {
    if (operationRunning())
        return; // another procedure has the port; this click would corrupt both exchanges
    (this->*handler)();
}

// --- The port menu and the timer ---------------------------------------------

void frmMain::mnuCom_Click(int index) {
    for (int n = 1; n <= 16; ++n)
        mnuCom[n]->setChecked(false);
    if (index >= 1 && index <= 16)
        mnuCom[index]->setChecked(true);
}

std::int16_t frmMain::GetCOM() {
    for (std::int16_t n = 1; n <= 16; ++n)
        if (mnuCom[n]->isChecked())
            return n;
    return 17;
}

void frmMain::Timer1_Timer() {
    Timer1->stop();
}

// --- LinkHost --------------------------------------------------------------------

void frmMain::armTimer1() {
    clock_->armTimer1();
}
void frmMain::disarmTimer1() {
    clock_->disarmTimer1();
}
bool frmMain::timer1Running() const {
    return clock_->timer1Running();
}

void frmMain::yieldToEvents() {
    if (closing_)
        throw Abandoned();
    clock_->yieldToEvents();
    if (closing_)
        throw Abandoned();
}

int frmMain::selectedBaudOption() {
    for (int i = 0; i < 3; ++i)
        if (optBPS[i]->isChecked())
            return i;
    return -1;
}

int frmMain::selectedPortOption() {
    for (int i = 0; i < 4; ++i)
        if (port[i]->isChecked())
            return i;
    return -1;
}

QString frmMain::pinNumberText() {
    return txtPinNumber->text();
}

void frmMain::setBarValue(int row) {
    // QProgressBar repaints synchronously on a new value. The write sets it just
    // before it sends the next packet, while the radio waits for that packet, so
    // the repaint is left to the wait's next yield instead.
    bar->setUpdatesEnabled(false);
    bar->setValue(row);
    bar->setUpdatesEnabled(true);
}

void frmMain::setText1(const QString& text) {
    Text1->setText(text);
}

// --- Messages ------------------------------------------------------------------

void frmMain::showMessage(const QString& text, const QString& title, MessageIcon icon) {
    if (closing_)
        return; // the window is going away; nobody is there to read it
    presenter_(text, title, icon);
}

void frmMain::showOutcome(bool passed, const QString& passText, const QString& failText) {
    if (passed)
        showMessage(passText, QStringLiteral("OK"), MessageIcon::None);
    else
        showMessage(failText, QStringLiteral("NG"), MessageIcon::Warning);
}

void frmMain::setHourglass(bool on) {
    hourglass_ = on;
    if (on)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void frmMain::stepButton(QPushButton* pressed, const std::function<std::int16_t()>& step,
                         std::int16_t passValue, const QString& passText, const QString& failText) {
    Operation operation(*this);
    pressed->setEnabled(false);
    showOutcome(step() == passValue, passText, failText);
    pressed->setEnabled(true);
}

void frmMain::writeButton(const std::function<std::int16_t()>& write, const QString& passText) {
    // The write buttons stay enabled; the hourglass, kept until the message has
    // been closed, is their only sign of work.
    Operation operation(*this);
    setHourglass(true);
    showOutcome(write() == 0, passText, QStringLiteral("Write failed."));
    setHourglass(false);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (operationRunning()) {
        // Abandon the running exchange at its next wait; its trap closes the port,
        // and the window closes once the handler has unwound.
        closing_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

// --- The update ------------------------------------------------------------------

void frmMain::cmdStart_Click() {
    Operation operation(*this);
    cmdStart->setEnabled(false);
    bar->setValue(BarMinimum);
    bar->show();
    const ReplyCode identified = link_->IdentifyDevice();
    if (identified != ReplyOK)
        showMessage(identified == ReplyRE ? QStringLiteral("Region error") : QStringLiteral("Error"),
                    QStringLiteral("NG"), MessageIcon::Warning);
    else
        cmdMacro_Click(2);
    bar->hide();
    cmdStart->setEnabled(true);
}

void frmMain::cmdMacro_Click(int index) {
    Operation operation(*this);
    if (index == 2)
        runFlashSequence();
    else if (index == 0 || index == 1)
        runLegacySequence(static_cast<ProtocolMode>(index));
}

void frmMain::runFlashSequence() {
    cmdMacro[2]->setEnabled(false);
    if (link_->ConnectDevice(ModeFlash) != ReplyCT) {
        showOutcome(false, {}, QStringLiteral("Connect failed."));
    } else if (link_->FlashErase() != ReplyBE) {
        showOutcome(false, {}, QStringLiteral("Erase failed."));
    } else if (link_->FlashWriteImage() != 0) {
        showOutcome(false, {}, QStringLiteral("Write failed."));
    } else if (link_->FlashEnd() != ReplyED) {
        showOutcome(false, {}, QStringLiteral("Disconnect failed."));
    } else {
        showOutcome(true, QStringLiteral("Completed."), {});
        Text1->setText(QStringLiteral("Completed."));
    }
    cmdMacro[2]->setEnabled(true);
}

void frmMain::runLegacySequence(ProtocolMode mode) {
    QPushButton* pressed = cmdMacro[static_cast<std::size_t>(mode)];
    pressed->setEnabled(false);
    if (link_->ConnectDevice(mode) != ReplyOK)
        showOutcome(false, {}, QStringLiteral("Connect failed."));
    else if (link_->LegacyEraseOrEnd(QStringLiteral("ERASE"), mode) != 0)
        showOutcome(false, {}, QStringLiteral("Erase failed."));
    else if (link_->LegacyWriteImage(mode) != 0)
        showOutcome(false, {}, QStringLiteral("Write failed."));
    else
        showOutcome(link_->LegacyEraseOrEnd(QStringLiteral("END"), mode) == 0,
                    QStringLiteral("FLASH Memory writing completed."), QStringLiteral("Disconnect failed."));
    pressed->setEnabled(true);
}

// --- Service panel ---------------------------------------------------------------

void frmMain::Text1_DblClick() {
    // The counter stops at the reveal count, so it can never overflow.
    if (hiddenActivateCounter < RevealCount)
        ++hiddenActivateCounter;
    if (hiddenActivateCounter < RevealCount)
        return;
    revealServicePanel();
}

void frmMain::revealServicePanel() {
    // As stored, the panel lies mostly outside the client area. Once shown it gets
    // a place of its own under the progress bar: the four steps in two columns, the
    // check sum and its two addresses in a row below them. The window grows
    // downwards and stays fixed in size. Sizes follow the font, so a desktop with a
    // larger one widens the window rather than cutting captions off.
    const QFontMetrics fm = Command10->fontMetrics();
    constexpr int margin = 4, columnGap = 2, boxGap = 4, top = 116;
    int caption = 0;
    for (const QPushButton* b : {Command11, Command8, Command9, Command10})
        caption = std::max(caption, fm.horizontalAdvance(b->text()));
    const int stepHeight = std::max(25, fm.height() + 8);
    const int sumSide = std::max({33, fm.height() + 12, fm.horizontalAdvance(cmdCheckSum->text()) + 16});
    const int address = fm.horizontalAdvance(QStringLiteral("FFFFF")) + 12;
    const int width = std::max({2400 / TwipsPerPixel, 2 * (caption + 8) + columnGap + 2 * margin,
                                sumSide + 2 * (boxGap + address) + 2 * margin});
    const int column = (width - 2 * margin - columnGap) / 2;
    const int box = (width - 2 * margin - sumSide - 2 * boxGap) / 2;
    const int right = width - margin - column, second = top + stepHeight + 4, sums = second + stepHeight + 6;

    Command11->setGeometry(margin, top, column, stepHeight);
    Command8->setGeometry(right, top, column, stepHeight);
    Command9->setGeometry(margin, second, column, stepHeight);
    Command10->setGeometry(right, second, column, stepHeight);
    cmdCheckSum->setGeometry(margin, sums, sumSide, sumSide);
    txtCsStt->setGeometry(margin + sumSide + boxGap, sums, box, sumSide);
    txtCsStp->setGeometry(width - margin - box, sums, box, sumSide);
    client->setFixedSize(width, sums + sumSide + 6);
    for (QWidget* w : std::initializer_list<QWidget*>{Command11, Command8, Command9, Command10, cmdCheckSum,
                                                      txtCsStt, txtCsStp})
        w->show();
}

void frmMain::Command11_Click() {
    stepButton(
        Command11, [&] { return link_->ConnectDevice(ModeFlash); }, ReplyCT, QStringLiteral("Connected."),
        QStringLiteral("Connect failed."));
}

void frmMain::Command8_Click() {
    stepButton(
        Command8, [&] { return link_->FlashErase(); }, ReplyBE, QStringLiteral("Erased."),
        QStringLiteral("Erase failed."));
}

void frmMain::Command9_Click() {
    writeButton([&] { return link_->FlashWriteImage(); }, QStringLiteral("Write OK."));
}

void frmMain::Command10_Click() {
    stepButton(
        Command10, [&] { return link_->FlashEnd(); }, ReplyED, QStringLiteral("Disconnected."),
        QStringLiteral("Disconnect failed."));
}

void frmMain::cmdCheckSum_Click() {
    const std::uint64_t start = readHex(txtCsStt->text().toUtf8().toStdString());
    const std::uint64_t stop = readHex(txtCsStp->text().toUtf8().toStdString());
    constexpr std::uint64_t first = MemoryImage::FirstRow * 16ULL, last = MemoryImage::LastRow * 16ULL + 15;
    if (start < first || start > last || stop < first || stop > last) {
        showMessage(QStringLiteral("The check sum range is outside 0xC0000..0xFFFFF."), QStringLiteral("NG"),
                    MessageIcon::Warning);
        return;
    }
    std::int32_t sum = 0;
    for (auto a = static_cast<std::int64_t>(start); a <= static_cast<std::int64_t>(stop); ++a)
        sum += image.at(a);
    showMessage(QString::number(sum, 16).toUpper(), QStringLiteral("CHECK SUM"), MessageIcon::None);
}

void frmMain::txtPinNumber_Change() {
    cmdStart->setText(txtPinNumber->text() == Link::AccessCode ? QStringLiteral("乙π")
                                                               : QStringLiteral("Tavix"));
}

// --- Legacy step buttons ---------------------------------------------------------
// In the legacy modes a step passes only on 0, a connect answered "CT" included.

void frmMain::Command1_Click() {
    stepButton(
        Command1, [&] { return link_->ConnectDevice(ModeE); }, 0, QStringLiteral("Connected."),
        QStringLiteral("Connect failed."));
}

void frmMain::cmbErase_Click() {
    stepButton(
        cmbErase, [&] { return link_->LegacyEraseOrEnd(QStringLiteral("ERASE"), ModeE); }, 0,
        QStringLiteral("Erased."), QStringLiteral("Erase failed."));
}

void frmMain::cmbWrite_Click() {
    writeButton([&] { return link_->LegacyWriteImage(ModeE); }, QStringLiteral("Write OK."));
}

void frmMain::cmbEnd_Click() {
    stepButton(
        cmbEnd, [&] { return link_->LegacyEraseOrEnd(QStringLiteral("END"), ModeE); }, 0,
        QStringLiteral("Disconnected"), QStringLiteral("Disconnect failed."));
}

void frmMain::Command4_Click() {
    stepButton(
        Command4, [&] { return link_->ConnectDevice(ModeFL); }, 0, QStringLiteral("Connected."),
        QStringLiteral("Connect failed."));
}

void frmMain::Command7_Click() {
    stepButton(
        Command7, [&] { return link_->LegacyEraseOrEnd(QStringLiteral("ERASE"), ModeFL); }, 0,
        QStringLiteral("Erased."), QStringLiteral("Erase failed."));
}

void frmMain::Command6_Click() {
    writeButton([&] { return link_->LegacyWriteImage(ModeFL); }, QStringLiteral("Write completed."));
}

void frmMain::Command5_Click() {
    stepButton(
        Command5, [&] { return link_->LegacyEraseOrEnd(QStringLiteral("END"), ModeFL); }, 0,
        QStringLiteral("Disconnected."), QStringLiteral("Disconnect failed."));
}

// --- Port-pin panel --------------------------------------------------------------

void frmMain::Command2_Click() {
    Operation operation(*this);
    Command2->setEnabled(false);
    QString shown;
    switch (link_->PortPinCommand()) {
    case ReplyOK:
        shown = QStringLiteral("OK");
        break;
    case ReplyNG:
        shown = QStringLiteral("NG");
        break;
    case ReplyPinOutLow:
        shown = QStringLiteral("L出力");
        break;
    case ReplyPinOutHigh:
        shown = QStringLiteral("H出力");
        break;
    case ReplyPinInLow:
        shown = QStringLiteral("L入力");
        break;
    case ReplyPinInHigh:
        shown = QStringLiteral("H入力");
        break;
    default:
        shown = QStringLiteral("???");
        break;
    }
    Text2->setText(shown);
    Command2->setEnabled(true);
}

// --- Image file drop -------------------------------------------------------------

void frmMain::Text3_OLEDragDrop(const QStringList& files) {
    // A write reads the image while it waits for the radio; replacing the image
    // under it would send a mix of two firmwares.
    if (files.isEmpty() || operationRunning())
        return;
    Text3->setText(files.first());
    setHourglass(true);
    const FileLoadOutcome outcome = LoadImageFile(Text3->text(), image, LoadError);
    if (!outcome.loaded()) {
        if (!outcome.reason.isEmpty())
            qWarning().noquote() << "image file" << Text3->text() << "not loaded:" << outcome.reason;
        const MessageIcon icon = outcome.icon() == FileLoadOutcome::Icon::Error     ? MessageIcon::Error
                                 : outcome.icon() == FileLoadOutcome::Icon::Warning ? MessageIcon::Warning
                                                                                    : MessageIcon::None;
        showMessage(outcome.message(), outcome.title(), icon);
    }
    setHourglass(false);
}

} // namespace rqv5
