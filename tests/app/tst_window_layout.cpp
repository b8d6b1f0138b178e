// The window as it opens: every control with its name, kind, caption, place and
// visibility, the COM menu, Timer1, and the start-up state.
#include "app/frm_main.h"
#include "app/widgets.h"

#include <QAction>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace rqv5;

namespace {

QRect twips(int l, int t, int w, int h) {
    return {l / 15, t / 15, w / 15, h / 15};
}

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void init() { window_ = std::make_unique<frmMain>(); }
    void cleanup() { window_.reset(); }

    void windowFrame() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("RQ-V5 ver 5.000"));
        const auto flags = window_->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(window_->client->size(), QSize(160, 111));
        // Fixed border: the window cannot be resized.
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        QCOMPARE(window_->centralWidget(), window_->client);
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("parent");

        const auto row = [](const char* name, const char* kind, const QString& caption, QRect g, bool visible,
                            const char* parent = "client") {
            QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(kind) << caption << g
                                << visible << QString::fromUtf8(parent);
        };
        row("Label1", "QLabel", "Ver 5.000", twips(600, 240, 1455, 375), true);
        row("cmdStart", "QPushButton", "Start", twips(480, 720, 1455, 495), true);
        row("bar", "QProgressBar", "", twips(120, 1320, 2175, 255), false);
        row("Text1", "QLineEdit", "", twips(1560, 2640, 1095, 270), false);
        row("Command11", "QPushButton", "Connect", twips(240, 1440, 1095, 375), false);
        row("Command8", "QPushButton", "Erase", twips(240, 1800, 1095, 375), false);
        row("Command9", "QPushButton", "Write", twips(240, 2160, 1095, 375), false);
        row("Command10", "QPushButton", "Disconnect", twips(240, 2520, 1095, 375), false);
        row("cmdCheckSum", "QPushButton", "CS", twips(3600, 120, 495, 495), false);
        row("txtCsStt", "QLineEdit", "E0000", twips(4200, 120, 615, 495), false);
        row("txtCsStp", "QLineEdit", "FFFFF", twips(4920, 120, 615, 495), false);
        row("cmdMacro(2)", "QPushButton", "マ", twips(120, 3240, 615, 615), false);
        row("cmdMacro(1)", "QPushButton", "マ", twips(7800, 1680, 615, 1455), false);
        row("cmdMacro(0)", "QPushButton", "マ", twips(7800, 120, 615, 1455), false);
        row("Command1", "QPushButton", "接続", twips(6720, 120, 975, 375), false);
        row("cmbErase", "QPushButton", "消去", twips(6720, 480, 975, 375), false);
        row("cmbWrite", "QPushButton", "書き込み", twips(6720, 840, 975, 375), false);
        row("cmbEnd", "QPushButton", "切断", twips(6720, 1200, 975, 375), false);
        row("Command4", "QPushButton", "接続", twips(6720, 1680, 975, 375), false);
        row("Command7", "QPushButton", "消去", twips(6720, 2040, 975, 375), false);
        row("Command6", "QPushButton", "書き込み", twips(6720, 2400, 975, 375), false);
        row("Command5", "QPushButton", "切断", twips(6720, 2760, 975, 375), false);
        row("Frame2", "QGroupBox", "ポートの制御", twips(3600, 960, 2535, 1335), false);
        row("port(0)", "QRadioButton", "L出力", twips(240, 240, 855, 255), true, "Frame2");
        row("port(1)", "QRadioButton", "H出力", twips(240, 480, 855, 255), true, "Frame2");
        row("port(2)", "QRadioButton", "入力", twips(240, 720, 855, 255), true, "Frame2");
        row("port(3)", "QRadioButton", "読む", twips(240, 960, 855, 255), true, "Frame2");
        row("txtPinNumber", "QLineEdit", "", twips(1200, 240, 1095, 375), true, "Frame2");
        row("Command2", "QPushButton", "GO", twips(1200, 720, 1095, 495), true, "Frame2");
        row("Text2", "QLineEdit", "Text2", twips(2640, 2640, 2775, 270), false);
        row("Frame1", "QGroupBox", "baud rate", twips(1920, 1560, 1455, 1095), false);
        row("optBPS(0)", "QRadioButton", "9600", twips(360, 240, 855, 255), true, "Frame1");
        row("optBPS(1)", "QRadioButton", "38400", twips(360, 480, 855, 255), true, "Frame1");
        row("optBPS(2)", "QRadioButton", "57600", twips(360, 720, 855, 255), true, "Frame1");
        row("Text3", "QLineEdit", "", twips(840, 960, 6615, 375), false);
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QFETCH(bool, visible);
        QFETCH(QString, parent);

        auto* w = window_->findChild<QWidget*>(name);
        QVERIFY2(w != nullptr, qPrintable(name));
        QVERIFY2(w->inherits(kind.toLatin1()), w->metaObject()->className());
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->isVisibleTo(w->parentWidget()), visible);
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            QCOMPARE(b->text(), caption);
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            QCOMPARE(e->text(), caption);
        else if (auto* l = qobject_cast<QLabel*>(w))
            QCOMPARE(l->text(), caption);
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            QCOMPARE(g->title(), caption);
    }

    void visibleToTheUser() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QStringList shown;
        for (auto* w : window_->client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                shown << w->objectName();
        shown.sort();
        QCOMPARE(shown, (QStringList{"Label1", "Line1", "cmdStart"}));
        QCOMPARE(window_->Line1->geometry().top(), 0);
        QCOMPARE(window_->Line1->geometry().left(), 8);
    }

    void startUpState() {
        QVERIFY(window_->cmdStart->isEnabled());
        QCOMPARE(window_->bar->minimum(), 0xC000);
        QCOMPARE(window_->bar->maximum(), 0xFFFF);
        QVERIFY(window_->optBPS[2]->isChecked());
        QVERIFY(window_->port[3]->isChecked());
        QCOMPARE(window_->hiddenActivateCounter, std::int16_t{0});
        QCOMPARE(window_->Text1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        // The embedded firmware is in memory before the window shows.
        MemoryImage expected;
        ImageLineTable lines;
        std::int16_t loadError = -1;
        LoadEmbeddedImage(expected, lines, loadError);
        QVERIFY(window_->image == expected);
        QCOMPARE(window_->lines.ImageLineCount, lines.ImageLineCount);
        QCOMPARE(window_->LoadError, std::int16_t{0});

        QTimer* timer = window_->findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(timer != nullptr);
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(!timer->isActive());
        QVERIFY(!window_->timer1Running());
    }

    void fonts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qreal>("points");
        QTest::newRow("Label1") << "Label1" << 14.25;
        QTest::newRow("cmdStart") << "cmdStart" << 21.75;
    }

    void fonts() {
        QFETCH(QString, name);
        QFETCH(qreal, points);
        auto* w = window_->findChild<QWidget*>(name);
        QCOMPARE(w->font().pointSizeF(), points);
        QVERIFY(w->font().families().contains(QStringLiteral("IPAPGothic")));
        // On a machine without MS P Gothic the text is drawn in IPA P Gothic, whose
        // metrics match it.
        QCOMPARE(QFontInfo(w->font()).family(), QStringLiteral("IPAPGothic"));
    }

    void menu() {
        auto* setting = window_->findChild<QMenu*>(QStringLiteral("mnuSetting"));
        auto* portMenu = window_->findChild<QMenu*>(QStringLiteral("mnuPort"));
        QVERIFY(setting && portMenu);
        QCOMPARE(setting->title(), QStringLiteral("COM"));
        QCOMPARE(portMenu->title(), QStringLiteral("COM port"));
        QCOMPARE(window_->menuBar()->actions().size(), 1);
        QCOMPARE(setting->actions().size(), 1);
        QCOMPARE(setting->actions().first()->menu(), portMenu);
        QCOMPARE(portMenu->actions().size(), 16);
        for (int n = 1; n <= 16; ++n) {
            QAction* a = portMenu->actions().at(n - 1);
            QCOMPARE(a->objectName(), QStringLiteral("mnuCom(%1)").arg(n));
            QCOMPARE(a->text(), QStringLiteral("COM%1").arg(n));
            QVERIFY(a->isCheckable());
            // Only COM1 is marked after start-up, although the stored layout marks COM3 too.
            QCOMPARE(a->isChecked(), n == 1);
        }
        QCOMPARE(window_->GetCOM(), std::int16_t{1});
    }

    void portSelection() {
        window_->mnuCom[5]->trigger();
        QCOMPARE(window_->GetCOM(), std::int16_t{5});
        for (int n = 1; n <= 16; ++n)
            QCOMPARE(window_->mnuCom[n]->isChecked(), n == 5);

        // Clicking the marked item leaves it marked.
        window_->mnuCom[5]->trigger();
        QCOMPARE(window_->GetCOM(), std::int16_t{5});
        QVERIFY(window_->mnuCom[5]->isChecked());

        window_->mnuCom_Click(16);
        QCOMPARE(window_->GetCOM(), std::int16_t{16});

        for (int n = 1; n <= 16; ++n)
            window_->mnuCom[n]->setChecked(false);
        QCOMPARE(window_->GetCOM(), std::int16_t{17});
    }

    void everyStartShowsCom1() {
        window_->mnuCom_Click(7);
        window_ = std::make_unique<frmMain>();
        QCOMPARE(window_->GetCOM(), std::int16_t{1});
    }

    void timerExpiresAfterFiveSeconds() {
        // The real Timer1 on the program's own clock: armed once, it stops itself.
        QTimer* timer = window_->Timer1;
        timer->setInterval(50); // the behaviour, not the length, is under test here
        window_->armTimer1();
        QVERIFY(window_->timer1Running());
        QTRY_VERIFY_WITH_TIMEOUT(!window_->timer1Running(), 2000);
        window_->armTimer1();
        window_->disarmTimer1();
        QVERIFY(!window_->timer1Running());
    }

private:
    std::unique_ptr<frmMain> window_;
};

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
