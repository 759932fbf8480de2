// The real Qt window, driven offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QFileDialog>
#include <QSettings>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListWidget>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QSlider>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "hosts/qt/QtPlayerApp.h"
#include "cli/Cli.h"
#include "app/Boxes.h"
#include "app/PlayerDlg.h"
#include "cable/CableChoice.h"
#include "cable/VirtualBoard.h"
#include "link/ChainScan.h"
#include "hosts/qt/QtPlayerWindow.h"
#include "hosts/qt/QtTemplateDialog.h"
#include "hosts/qt/QtText.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// Closes every modal box that opens from now on (as a user pressing OK would), and
// notes what it was: its title, owner, place and whether it showed a picture.
class BoxDismisser {
public:
    struct Seen {
        QWidget* owner;
        QRect geometry;
        bool picture;
        bool fixedWidth;  // a text box in the system's fixed-width font, read-only
    };
    BoxDismisser() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                titles_.push_back(modal->windowTitle());
                bool picture = false;
                for (const QLabel* label : modal->findChildren<QLabel*>()) {
                    // A picture shown whole: the label holds all of it.
                    const QPixmap shown = label->pixmap();
                    picture |= !shown.isNull() && label->width() >= shown.width() && label->height() >= shown.height();
                }
                const auto* edit = modal->findChild<QPlainTextEdit*>();
                // What the user sees, not what the font claims: some monospace fonts
                // (Noto Sans Mono) are not marked fixed-pitch.
                const QFont fixedFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
                const QFontMetrics metrics(edit != nullptr ? edit->font() : QFont());
                const bool fixed = edit != nullptr && edit->isReadOnly() &&
                                   QFontInfo(edit->font()).family() == QFontInfo(fixedFont).family() &&
                                   metrics.horizontalAdvance(QLatin1Char('W')) == metrics.horizontalAdvance(QLatin1Char('i'));
                seen_.push_back({modal->parentWidget(), modal->frameGeometry(), picture, fixed});
                if (auto* box = qobject_cast<QMessageBox*>(modal)) texts_.push_back(box->text());
                if (edit != nullptr) texts_.push_back(edit->toPlainText());
                QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            }
        });
        timer_.start(10);
    }
    const QStringList& titles() const { return titles_; }
    const std::vector<Seen>& seen() const { return seen_; }
    const QStringList& texts() const { return texts_; }

private:
    QTimer timer_;
    QStringList titles_;
    std::vector<Seen> seen_;
    QStringList texts_;
};

// Within a pixel (the halves of odd sizes round).
void ExpectSameCentre(const QRect& a, const QRect& b) {
    EXPECT_LE(std::abs(a.center().x() - b.center().x()), 1) << a.center().x() << " " << b.center().x();
    EXPECT_LE(std::abs(a.center().y() - b.center().y()), 1) << a.center().y() << " " << b.center().y();
}

class QtWindowTest : public testing::Test {
protected:
    void SetUp() override {
        QSettings(QStringLiteral("Tunlet"), QStringLiteral("tunlet")).clear();  // no settings of an earlier test
        SetCableBackend(board);
        dlg.Attach(window);
        ASSERT_EQ(dlg.OnCreate(), 0);
        dlg.OnInitDialog();
        window.show();
    }
    void TearDown() override {
        dlg.OnDestroy();
        SetCableBackend(nullptr);
    }
    template <typename T>
    T* Get(int id) {
        return qobject_cast<T*>(window.Control(id));
    }
    void DropFile(const std::string& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &drop);
    }

    std::shared_ptr<VirtualBoard> board = VirtualBoard::Create();
    CPlayerDlg dlg;
    QtPlayerWindow window{dlg};
};

TEST_F(QtWindowTest, TemplateControlsAndStartUpState) {
    // The title names the cable the start-up probe opened.
    EXPECT_EQ(window.windowTitle(), QStringLiteral("NES NSF Player on FPGA \u2013 virtual board"));
    ASSERT_NE(Get<QPushButton>(kIdCancel), nullptr);
    EXPECT_EQ(Get<QPushButton>(kIdCancel)->text(), QStringLiteral("Close"));
    ASSERT_NE(Get<QPushButton>(kIdSend), nullptr);
    EXPECT_EQ(Get<QPushButton>(kIdSend)->text(), QStringLiteral("Play"));
    EXPECT_FALSE(Get<QPushButton>(kIdSend)->isEnabled());
    ASSERT_NE(Get<QPushButton>(kIdNext), nullptr);
    EXPECT_FALSE(Get<QPushButton>(kIdNext)->isEnabled());
    ASSERT_NE(Get<QSlider>(kIdSongSlider), nullptr);
    EXPECT_FALSE(Get<QSlider>(kIdSongSlider)->isEnabled());
    EXPECT_EQ(Get<QSlider>(kIdSongSlider)->tickPosition(), QSlider::TicksAbove);
    ASSERT_NE(Get<QPlainTextEdit>(kIdInfo), nullptr);
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->isReadOnly());
    EXPECT_EQ(Get<QPlainTextEdit>(kIdInfo)->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(Get<QPlainTextEdit>(kIdInfo)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->toPlainText().isEmpty());
    ASSERT_NE(Get<QLineEdit>(kIdPath), nullptr);
    EXPECT_TRUE(Get<QLineEdit>(kIdPath)->alignment() & Qt::AlignRight);
    EXPECT_TRUE(Get<QLineEdit>(kIdPath)->text().isEmpty());
    ASSERT_NE(Get<QProgressBar>(kIdProgress), nullptr);
    EXPECT_EQ(Get<QProgressBar>(kIdProgress)->maximum(), 100);
    EXPECT_TRUE(window.acceptDrops());
    ASSERT_EQ(window.MenuEntries().size(), 10u);
    EXPECT_EQ(window.MenuEntries()[1].second, QStringLiteral("Open...\tCtrl+O"));
    EXPECT_EQ(window.MenuEntries()[5].second, QStringLiteral("Choose the FPGA..."));
    EXPECT_EQ(window.MenuEntries()[6].second, QStringLiteral("USB-Blaster II firmware..."));
    EXPECT_EQ(window.MenuEntries()[9].first, 16);
    EXPECT_EQ(window.MenuEntries()[9].second, QString::fromUtf8("Tunlet のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    // Layout follows the template: summary above slider above the bottom row.
    EXPECT_LT(Get<QLineEdit>(kIdPath)->geometry().bottom(), Get<QPlainTextEdit>(kIdInfo)->geometry().top());
    EXPECT_LE(Get<QPlainTextEdit>(kIdInfo)->geometry().bottom(), Get<QSlider>(kIdSongSlider)->geometry().top());
    EXPECT_LT(Get<QPushButton>(kIdSend)->geometry().right(), Get<QPushButton>(kIdNext)->geometry().left());
    EXPECT_EQ(board->Snapshot().opens, 1);
    EXPECT_FALSE(board->IsOpen());
    // A minimize box, and the window opens in the middle of the screen.
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    ExpectSameCentre(window.frameGeometry(), window.screen()->availableGeometry());
}

TEST_F(QtWindowTest, MinimizedAndRestoredKeepsItsState) {
    DropFile(test::DataFile("db_apu.nsf"));
    window.showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(window.IsIconic());
    EXPECT_FALSE(window.windowIcon().isNull());  // what the taskbar shows meanwhile
    window.showNormal();
    QApplication::processEvents();
    EXPECT_FALSE(window.IsIconic());
    EXPECT_TRUE(Get<QPushButton>(kIdSend)->isEnabled());
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->toPlainText().startsWith(QStringLiteral("SongName : db_apu test")));
}

// Enter never closes the window: in the path box it loads the typed path, elsewhere
// (the Close button and Play included) it does nothing.
TEST_F(QtWindowTest, EnterLoadsTheTypedPathAndNeverCloses) {
    const auto pressEnter = [&](QWidget* target) {
        target->setFocus();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &press);
        QApplication::processEvents();
    };
    DropFile(test::DataFile("clip_5b.nes"));
    for (int id : {kIdCancel, kIdSend}) {
        pressEnter(window.Control(id));
        EXPECT_TRUE(window.isVisible()) << id;
        EXPECT_EQ(window.result(), 0);
        EXPECT_EQ(board->Snapshot().opens, 1) << id;  // Play was not pressed either
    }
    const std::string tune = test::DataFile("db_apu.nsf");
    Get<QLineEdit>(kIdPath)->setText(QString::fromStdString(tune));
    pressEnter(Get<QLineEdit>(kIdPath));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(dlg.pRom, nullptr);
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->toPlainText().startsWith(QStringLiteral("SongName : db_apu test\n")));
    EXPECT_TRUE(Get<QPushButton>(kIdSend)->isEnabled());
    // Escape still closes.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &escape);
    EXPECT_FALSE(window.isVisible());
}

// The ROM summary's tab-separated lines line up: every value starts at one x, right
// of the longest field name.
TEST_F(QtWindowTest, RomSummaryColumnsLineUp) {
    DropFile(test::DataFile("db_apu.nes"));
    auto* box = Get<QPlainTextEdit>(kIdInfo);
    const QFontMetrics metrics(box->font());
    std::set<int> valueX;
    int widestName = 0;
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
        const int tab = block.text().indexOf(QLatin1Char('\t'));
        if (tab < 0) continue;
        widestName = std::max(widestName, metrics.horizontalAdvance(block.text().left(tab)));
        QTextCursor cursor(block);
        cursor.setPosition(block.position() + tab + 1);
        valueX.insert(box->cursorRect(cursor).x());
    }
    ASSERT_EQ(valueX.size(), 1u);
    EXPECT_GT(*valueX.begin() - box->cursorRect(QTextCursor(box->document()->begin())).x(), widestName);
}

TEST_F(QtWindowTest, DropShowsPathAndSummaryThenPlayStreams) {
    const std::string tune = test::DataFile("db_apu.nsf");
    DropFile(tune);
    EXPECT_EQ(Get<QLineEdit>(kIdPath)->text().toStdString(), tune);
    EXPECT_EQ(dlg.strInfo.substr(0, 25), "SongName : db_apu test\r\nA");
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->toPlainText().startsWith(
        QStringLiteral("SongName : db_apu test\nArtist   : Brad Smith\n")));
    EXPECT_TRUE(Get<QPushButton>(kIdSend)->isEnabled());

    if (const char* shot = std::getenv("TUNLET_SCREENSHOT")) {
        QApplication::processEvents();
        window.grab().save(QString::fromUtf8(shot));
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            screen->grabWindow(0).save(QString::fromUtf8(shot) + QStringLiteral(".screen.png"));
        }
    }

    Get<QPushButton>(kIdSend)->click();
    EXPECT_EQ(Get<QPushButton>(kIdSend)->text(), QStringLiteral("Stop"));
    // The poll timer brings the dialog back to idle once the worker has returned.
    window.PumpUntil([&] { return dlg.IsIdle(); });
    EXPECT_EQ(Get<QPushButton>(kIdSend)->text(), QStringLiteral("Play"));
    QApplication::processEvents();
    EXPECT_EQ(Get<QProgressBar>(kIdProgress)->value(), 100);
    const auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 8 * 4096 + 4u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(board->IsOpen());
}

// The track list in play order: a double-click and Enter on a row play its song,
// Enter never closes the window from the list, the label follows the slider.
TEST_F(QtWindowTest, TrackListRowsPlayTheirSong) {
    test::TempDir dir;
    // TUNLET_SCREENSHOT_ALBUM may name a copy of this album.m3u, with its tune beside
    // it, in a tidy folder (for the README's picture).
    const char* shownAlbum = std::getenv("TUNLET_SCREENSHOT_ALBUM");
    const std::string album = test::WriteAlbumM3u(dir);
    DropFile(shownAlbum ? shownAlbum : album);
    auto* list = Get<QListWidget>(kIdTrackList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("   3  Overworld  1:30"));
    EXPECT_EQ(list->item(3)->text(), QStringLiteral("   5  Ending  2:30"));
    EXPECT_EQ(Get<QLabel>(kIdSongLabel)->text(), QStringLiteral("Song 1 of 5: Title Screen"));
    ASSERT_NE(Get<QCheckBox>(kIdAutoAdvance), nullptr);
    EXPECT_EQ(Get<QCheckBox>(kIdAutoAdvance)->text(), QStringLiteral("Auto-advance"));

    emit list->itemDoubleClicked(list->item(0));
    window.PumpUntil([&] { return dlg.IsIdle(); });
    ASSERT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
    EXPECT_EQ(board->Snapshot().user0[2 + 7], 3);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral(">  3  Overworld  1:30"));
    EXPECT_EQ(Get<QLabel>(kIdTimeLeft)->text(), QStringLiteral("1:30 left"));
    EXPECT_EQ(Get<QLabel>(kIdSongLabel)->text(), QStringLiteral("Song 3 of 5: Overworld"));

    if (const char* shot = std::getenv("TUNLET_TRACKLIST_SCREENSHOT")) {
        Get<QCheckBox>(kIdAutoAdvance)->setChecked(true);
        QApplication::processEvents();
        window.grab().save(QString::fromUtf8(shot));
    }

    board->Reset();
    list->setFocus();
    list->setCurrentRow(1);
    // The list passes Enter on to the window, which plays the row instead of closing.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    window.PumpUntil([&] { return dlg.IsIdle(); });
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(board->Snapshot().user0.size(), 2 + 128 + 3u);
    EXPECT_EQ(board->Snapshot().user0[2 + 7], 1);

    Get<QSlider>(kIdSongSlider)->setValue(1);
    EXPECT_EQ(Get<QLabel>(kIdSongLabel)->text(), QStringLiteral("Song 2 of 5"));
    // The new controls lie below the original layout, inside the window.
    EXPECT_GT(list->geometry().top(), Get<QPushButton>(kIdNext)->geometry().bottom());
    EXPECT_LE(Get<QCheckBox>(kIdAutoAdvance)->geometry().bottom(), window.height());
}

// Ctrl+O, and the Open... button, show the file dialog, titled "Open", in the folder
// of the last file; the file chosen loads as a drop.
TEST_F(QtWindowTest, OpenWithCtrlO) {
    DropFile(test::DataFile("clip_5b.nes"));
    QString title, folder;
    // Answers the dialog once it is up, however long it takes to come, and again while
    // it stays (an answer given while it still fills its list may be lost); after a
    // minute it is cancelled, so that the test fails instead of waiting for ever.
    QTimer answer;
    int ticks = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        if (++ticks > 6000) {
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        if (ticks % 50 != 1) return;
        if (title.isEmpty()) {
            title = dialog->windowTitle();
            folder = dialog->directory().absolutePath();
        }
        // Typed into the name box, as a user would: selectFile can be ignored by a dialog
        // whose folder's listing is still being read.
        const QString name = QString::fromStdString(test::DataFile("db_apu.nsf"));
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            edit->setText(name);
        } else {
            dialog->selectFile(name);
        }
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    answer.start(10);
    QApplication::setActiveWindow(&window);
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_LE(ticks, 6000);
    EXPECT_EQ(title, QStringLiteral("Open"));
    EXPECT_EQ(folder.toStdString() + "/", test::DataFile(""));
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->toPlainText().startsWith(QStringLiteral("SongName : db_apu test")));
    // The button, visible in the row below the original controls, does the same.
    DropFile(test::DataFile("clip_5b.nes"));
    title.clear();
    auto* open = Get<QPushButton>(kIdOpen);
    EXPECT_TRUE(open->isVisible());
    EXPECT_EQ(open->text(), QStringLiteral("Open..."));
    EXPECT_GT(open->geometry().top(), Get<QPushButton>(kIdNext)->geometry().bottom());
    open->click();
    EXPECT_EQ(title, QStringLiteral("Open"));
    EXPECT_TRUE(Get<QPlainTextEdit>(kIdInfo)->toPlainText().startsWith(QStringLiteral("SongName : db_apu test")));
}

// The window grows and shrinks back to the template's size, never below it: the
// summary and the list take the height, Close keeps to the right edge.
TEST_F(QtWindowTest, Resizing) {
    const QSize smallest = window.size();
    EXPECT_EQ(window.minimumSize(), smallest);
    const QRect summary = Get<QPlainTextEdit>(kIdInfo)->geometry(), close = Get<QPushButton>(kIdCancel)->geometry();
    const QRect tick = Get<QCheckBox>(kIdAutoAdvance)->geometry();
    window.resize(smallest + QSize(100, 200));
    QApplication::processEvents();
    EXPECT_EQ(Get<QPlainTextEdit>(kIdInfo)->geometry(), summary.adjusted(0, 0, 100, 100));
    EXPECT_EQ(Get<QPushButton>(kIdCancel)->geometry(), close.translated(100, 100));
    EXPECT_EQ(Get<QCheckBox>(kIdAutoAdvance)->geometry(), tick.translated(0, 200));
    window.resize(smallest - QSize(50, 50));
    QApplication::processEvents();
    EXPECT_EQ(window.size(), smallest);
    EXPECT_EQ(Get<QPlainTextEdit>(kIdInfo)->geometry(), summary);
}

// Shift+F10 and the Menu key open the window's menu; its Board details entry shows
// the scan in a fixed-width box the user can select and copy from.
TEST_F(QtWindowTest, MenuKeysAndBoardDetails) {
    BoxDismisser dismiss;
    for (const auto& [key, modifiers] : {std::pair{Qt::Key_F10, Qt::ShiftModifier}, {Qt::Key_Menu, Qt::NoModifier}}) {
        QApplication::setActiveWindow(&window);  // back from the menu before
        bool found = false;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || found) return;
            for (QAction* action : menu->actions()) {
                if (action->text() != QStringLiteral("Board details...")) continue;
                found = true;
                menu->setActiveAction(action);
                QTest::keyClick(menu, key == Qt::Key_Menu ? Qt::Key_Return : Qt::Key_Escape);
            }
        });
        look.start(10);
        QTest::keyClick(&window, key, modifiers);
        EXPECT_TRUE(found) << key;
    }
    ASSERT_EQ(dismiss.texts().size(), 1);
    EXPECT_EQ(dismiss.titles()[0], QStringLiteral("Board details"));
    EXPECT_TRUE(dismiss.texts()[0].startsWith(QStringLiteral("cable: virtual board\ndevice 1: 0x020F30DD, Altera, ")));
    EXPECT_TRUE(dismiss.seen()[0].fixedWidth);
}

TEST_F(QtWindowTest, WriteErrorBoxFromWorker) {
    DropFile(test::DataFile("clip_5b.nes"));
    board->FailWrite(kBoardCheckWrites + 12, 0);
    BoxDismisser dismiss;
    Get<QPushButton>(kIdSend)->click();
    window.PumpUntil([&] { return dlg.IsIdle(); });
    ASSERT_EQ(dismiss.titles().size(), 1);
    EXPECT_EQ(dismiss.titles()[0], QStringLiteral("Tunlet"));
    EXPECT_EQ(dismiss.seen()[0].owner, &window);  // owned by the window
    ExpectSameCentre(dismiss.seen()[0].geometry, window.frameGeometry());
    EXPECT_EQ(board->Snapshot().state, TapState::RunTestIdle);
}

// Play reads the chain first: a board that is off gets the not-connected box with
// its reason on a second line, a chain Tunlet does not drive a box of its own, and
// nothing of the upload is sent; without the check the upload goes.
TEST_F(QtWindowTest, BoardCheckBoxes) {
    DropFile(test::DataFile("db_apu.nsf"));
    struct Case {
        std::vector<ChainDevice> chain;
        TdoLine line;
        QString title, text;
    };
    const Case cases[] = {
        {DefaultBoardChain(), TdoLine::StuckHigh, QStringLiteral("Ready"),
         QString::fromUtf8("FPGA board is not connected.\n") + QString::fromStdString(Capitalised(kReasonNoDevice))},
        {{ChainDevice{0x020F30DD, 10, VirtualHub{}}, ChainDevice{0x02D020DD, 10, VirtualHub{}}}, TdoLine::Chain,
         QStringLiteral("Tunlet"),
         QStringLiteral("Tunlet cannot send to this board.\nSeveral FPGAs take uploads: device 1, 0x020F30DD (Cyclone IV "
                        "E EP4CE22 / Cyclone III EP3C25 / Cyclone 10 LP 10CL025); device 2, 0x02D020DD (Cyclone V "
                        "5CSEA6/5CSEBA6). Choose one: tunlet-cli --device N, or the window's menu entry \"Choose the "
                        "FPGA...\".")},
    };
    for (const Case& c : cases) {
        board->SetChain(c.chain, c.line);
        BoxDismisser dismiss;
        Get<QPushButton>(kIdSend)->click();
        window.PumpUntil([&] { return dismiss.titles().size() == 1; });
        EXPECT_EQ(dismiss.titles()[0], c.title);
        ASSERT_EQ(dismiss.texts().size(), 1);
        EXPECT_EQ(dismiss.texts()[0], c.text);
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_EQ(Get<QPushButton>(kIdSend)->text(), QStringLiteral("Play"));
        // At most the last nibble read of a hub's head: nothing of the upload.
        for (const DeviceRecord& device : board->Snapshot().devices) EXPECT_LT(device.user0Bits, 16u);
    }
    dlg.SetBoardCheck(false);
    Get<QPushButton>(kIdSend)->click();
    window.PumpUntil([&] { return dlg.IsIdle(); });
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
}

// The FPGA chosen from the menu's list box: its rows name every FPGA, the one picked
// is kept for the chain.
TEST_F(QtWindowTest, ChooseTheFpgaFromItsList) {
    board->SetChain({ChainDevice{0x020F30DD, 10, VirtualHub{}}, ChainDevice{0x02D020DD, 10, VirtualHub{}}});
    QStringList rows;
    QTimer pick;
    QObject::connect(&pick, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* list = modal != nullptr ? modal->findChild<QListWidget*>() : nullptr;
        if (list == nullptr) return;
        for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
        list->setCurrentRow(2);
        QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
        pick.stop();
    });
    pick.start(10);
    dlg.OnSysCommand(CPlayerDlg::kChooseFpgaCommand);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[2].startsWith(QStringLiteral("Device 2, 0x02D020DD (Cyclone V"))) << rows[2].toStdString();
    EXPECT_EQ(window.ReadSetting("Fpga-020F30DD-02D020DD"), "2");
}

TEST_F(QtWindowTest, AboutBoxFromCommand16) {
    BoxDismisser dismiss;
    EXPECT_TRUE(dlg.OnSysCommand(16));
    ASSERT_EQ(dismiss.titles().size(), 1);
    EXPECT_EQ(dismiss.titles()[0], QString::fromUtf8("Tunletのﾊﾞｰｼﾞｮﾝ情報"));
    // Owned by the window, in its middle, with icon 128 showing.
    EXPECT_EQ(dismiss.seen()[0].owner, &window);
    ExpectSameCentre(dismiss.seen()[0].geometry, window.frameGeometry());
    EXPECT_TRUE(dismiss.seen()[0].picture);
}

// The About box's second line fits its 119 dialog units with the dialog font at 96 and
// at 144 dots per inch (9 points: 12 and 18 pixels).
TEST(QtAbout, SecondLineFitsAt96And144Dpi) {
    const res::DialogTemplate& about = *res::FindDialogTemplate(res::kIddAboutBox);
    const res::ControlTemplate& line = about.controls[2];
    ASSERT_STREQ(line.text, res::kAboutSecondLine);
    for (const int pixels : {12, 18}) {
        QFont font = DialogFont(about.pointSize);
        font.setPixelSize(pixels);
        const int room = (line.cx * DialogBaseUnits(font).width() + 2) / 4;
        EXPECT_LE(QFontMetrics(font).horizontalAdvance(QString::fromUtf8(line.text)), room) << pixels << " px";
    }
}

TEST_F(QtWindowTest, DropOfNonLocalUrlsIsIgnored) {
    EXPECT_TRUE(QtPlayerWindow::LocalPaths({QUrl(QStringLiteral("https://example.org/a.nsf"))}).empty());
    const auto paths = QtPlayerWindow::LocalPaths(
        {QUrl::fromLocalFile(QStringLiteral("/tmp/a b.nsf")), QUrl::fromLocalFile(QStringLiteral("/tmp/c.nes"))});
    EXPECT_EQ(paths, (std::vector<std::string>{"/tmp/a b.nsf", "/tmp/c.nes"}));
}

// "Open with Tunlet" and --cable virtual: the file given at start is loaded as a drop
// would load it, Play sends it, and the summary box then also shows what the board got.
TEST(QtAppStart, FileArgumentLoadsAndPlaysIntoTheVirtualBoard) {
    // TUNLET_SCREENSHOT_VIRTUAL=PNG saves the window after the transfer (for the README,
    // with TUNLET_SCREENSHOT_TUNE naming a copy of db_apu.nsf in a tidy folder).
    const char* shownTune = std::getenv("TUNLET_SCREENSHOT_TUNE");
    const std::string tune = shownTune ? shownTune : test::DataFile("db_apu.nsf");
    const char* const argv[] = {"tunlet", "--cable", "virtual", tune.c_str()};
    std::string text;
    int code = -1;
    std::optional<AppOptions> options = ParseAppArgs(4, argv, text, code);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->file, tune);
    EXPECT_EQ(options->cable, "virtual");
    const CableChoice cable = ChooseCable(options->cable);
    ASSERT_TRUE(cable.board);
    options->board = cable.board;
    SetCableBackend(cable.backend);
    {
        CPlayerDlg dlg;
        QtPlayerWindow window(dlg);
        ASSERT_TRUE(StartQtPlayer(dlg, window, *options));
        EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("virtual board")));
        auto* path = qobject_cast<QLineEdit*>(window.Control(kIdPath));
        auto* info = qobject_cast<QPlainTextEdit*>(window.Control(kIdInfo));
        EXPECT_EQ(path->text().toStdString(), tune);
        EXPECT_TRUE(info->toPlainText().startsWith(QStringLiteral("SongName : db_apu test\n")));
        qobject_cast<QPushButton*>(window.Control(kIdSend))->click();
        window.PumpUntil([&] { return dlg.IsIdle(); });
        EXPECT_EQ(cable.board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
        EXPECT_TRUE(info->toPlainText().startsWith(QStringLiteral("SongName : db_apu test\n")));  // the summary stays
        // What the board received, in its own panel under the controls.
        QPlainTextEdit* panel = nullptr;
        for (auto* edit : window.findChildren<QPlainTextEdit*>()) {
            if (edit != info) panel = edit;
        }
        ASSERT_NE(panel, nullptr);
        EXPECT_GT(panel->geometry().top(), window.Control(kIdSend)->geometry().bottom());
        EXPECT_GT(panel->geometry().top(), window.Control(kIdAutoAdvance)->geometry().bottom());  // below the track list
        const QString report = panel->toPlainText();
        // What the last Play sent: its board check, then the upload.
        EXPECT_TRUE(report.startsWith(QStringLiteral("virtual board received %1 cable bytes")
                                          .arg(kBoardCheckCableBytes + 62 + 2 * (2 + 128 + 8 * 4096 + 4) + 6)))
            << report.toStdString();
        EXPECT_EQ(report.count(QStringLiteral("into IDCODE")), 1);
        EXPECT_TRUE(report.contains(QStringLiteral("USER0: 32902 bytes")));
        EXPECT_TRUE(report.contains(QStringLiteral("TAP: Run-Test/Idle, outputs released")));
        if (const char* shot = std::getenv("TUNLET_SCREENSHOT_VIRTUAL")) window.grab().save(QString::fromUtf8(shot));
        // The next Play sends only the header: the panel shows that transfer alone
        // (the board check, a 62-byte preamble, 133 shift words, a 6-byte closing walk).
        qobject_cast<QPushButton*>(window.Control(kIdSend))->click();
        window.PumpUntil([&] { return dlg.IsIdle(); });
        const QString second = panel->toPlainText();
        EXPECT_TRUE(second.startsWith(QStringLiteral("virtual board received %1 cable bytes in ").arg(kBoardCheckCableBytes + 334)))
            << second.toStdString();
        EXPECT_TRUE(second.contains(QStringLiteral("USER0: 133 bytes")));
        dlg.OnDestroy();
    }
    SetCableBackend(nullptr);
}

// A tune whose file has gone since it was loaded: Play shows which file and why,
// and the dump cable gets nothing at all.
TEST(QtAppStart, PlayOfATuneGoneLeavesTheCableAlone) {
    test::TempDir dir;
    AppOptions options;
    options.file = dir.Write("gone.nsf", test::ReadAll(test::DataFile("db_apu.nsf")));
    const std::string dump = dir.path() + "/d.bin";
    options.cable = "dump:" + dump;
    SetCableBackend(ChooseCable(options.cable).backend);
    {
        CPlayerDlg dlg;
        QtPlayerWindow window(dlg);
        ASSERT_TRUE(StartQtPlayer(dlg, window, options));
        std::remove(options.file.c_str());
        BoxDismisser dismiss;
        qobject_cast<QPushButton*>(window.Control(kIdSend))->click();
        window.PumpUntil([&] { return dlg.IsIdle() && !dismiss.texts().empty(); });
        EXPECT_TRUE(dismiss.texts()[0].startsWith(
            QString::fromStdString("file dont open\nTunlet cannot open " + options.file + ": ")));
        dlg.OnDestroy();
    }
    SetCableBackend(nullptr);
    EXPECT_FALSE(std::filesystem::exists(dump));
}

// SIGTERM or SIGHUP during a transfer (kill, a logout): the transfer stops as Stop
// stops it, the block under way and the closing walk go out, the window ends, and the
// program's code is 128 plus the signal.
TEST(QtAppStart, EndSignalStopsTheTransferThenEndsTheWindow) {
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const auto board = VirtualBoard::Create();
        SetCableBackend(board);
        AppOptions options;
        options.file = test::DataFile("db_apu.nsf");
        board->HoldWrite(kBoardCheckWrites + 13);  // the third block's
        CPlayerDlg dlg;
        QtPlayerWindow window(dlg);
        bool played = false, released = false;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (!played && window.isVisible()) {  // the window's run has begun
                played = true;
                qobject_cast<QPushButton*>(window.Control(kIdSend))->click();
                ASSERT_TRUE(board->WaitHeld());
                std::raise(sig);
            } else if (!released && dlg.fBusy.load() == 0) {
                released = true;  // the signal has been taken: the worker goes on
                board->ReleaseHeld();
            }
        });
        driver.start(1);
        EXPECT_EQ(RunQtPlayer(dlg, window, options), 128 + sig);
        EXPECT_TRUE(released);
        EXPECT_FALSE(window.isVisible());
        const auto r = board->Snapshot();
        EXPECT_EQ(r.user0.size(), 2 + 128 + 3 * 4096 + 4u);
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);
        EXPECT_FALSE(board->IsOpen());
        SetCableBackend(nullptr);
    }
}

// tunlet --cable dump:OUT FILE and Play write exactly what tunlet-cli writes.
TEST(QtAppStart, WindowDumpEqualsCommandLineDump) {
    test::TempDir dir;
    const std::string tune = test::DataFile("db_apu.nsf");
    const std::string windowDump = dir.path() + "/window.bin", cliDump = dir.path() + "/cli.bin";
    AppOptions options;
    options.file = tune;
    options.cable = "dump:" + windowDump;
    SetCableBackend(ChooseCable(options.cable).backend);
    {
        dir.Write("window.bin", {1, 2, 3});
        CPlayerDlg dlg;
        QtPlayerWindow window(dlg);
        ASSERT_TRUE(StartQtPlayer(dlg, window, options));
        // The start-up probe opened the cable; an earlier dump is still as it was.
        EXPECT_TRUE(test::ReadAll(windowDump) == (test::Bytes{1, 2, 3}));
        qobject_cast<QPushButton*>(window.Control(kIdSend))->click();
        window.PumpUntil([&] { return dlg.IsIdle(); });
        dlg.OnDestroy();
    }
    SetCableBackend(nullptr);
    std::ostringstream out, err;
    ASSERT_EQ(RunCli({"play", tune, "--cable", "dump:" + cliDump}, out, err), 0);
    EXPECT_EQ(test::ReadAll(windowDump).size(), 62 + 2 * (2 + 128 + 8 * 4096 + 4) + 6u);
    EXPECT_TRUE(test::ReadAll(windowDump) == test::ReadAll(cliDump));
}

// tunlet --packed: the window sends what tunlet-cli play --packed sends, whole blocks
// per write, and a song change in one write.
TEST(QtAppStart, PackedWindowDumpEqualsCommandLineDump) {
    test::TempDir dir;
    const std::string tune = test::DataFile("db_apu.nsf");
    const std::string windowDump = dir.path() + "/window.bin", cliDump = dir.path() + "/cli.bin";
    const char* const argv[] = {"tunlet", tune.c_str(), "--packed", "--cable", "virtual"};
    std::string text;
    int code = -1;
    std::optional<AppOptions> options = ParseAppArgs(5, argv, text, code);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->packed);
    const CableChoice cable = ChooseCable(options->cable);
    ASSERT_TRUE(cable.board);
    options->board = cable.board;
    SetCableBackend(cable.backend);
    {
        CPlayerDlg dlg;
        QtPlayerWindow window(dlg);
        ASSERT_TRUE(StartQtPlayer(dlg, window, *options));
        auto* play = qobject_cast<QPushButton*>(window.Control(kIdSend));
        play->click();
        window.PumpUntil([&] { return dlg.IsIdle(); });
        auto r = cable.board->Snapshot();
        // The board check first, then whole USB transfers of the 200 + 8 * 4162 bytes
        // before the trailer, and the rest.
        const std::vector<DWORD> writes = {kChainReadCableBytes, kHubHeadCableBytes, 16384, 16384,
                                           65 + 1 + 3 + 131 + 8 * 4162 - 2 * 16384 + 5 + 6};
        EXPECT_EQ(r.writes, writes);
        EXPECT_EQ(r.user0.size(), 2 + 128 + 8 * 4096 + 4u);
        const test::Bytes windowBytes(r.raw.begin() + kBoardCheckCableBytes, r.raw.end());
        cable.board->Reset();
        play->click();  // the tune is on the board: its header alone, in one write
        window.PumpUntil([&] { return dlg.IsIdle(); });
        r = cable.board->Snapshot();
        EXPECT_EQ(r.writes, (std::vector<DWORD>{kChainReadCableBytes, kHubHeadCableBytes, 65 + 1 + 3 + 131 + 4 + 6}));
        EXPECT_EQ(r.user0.size(), 2 + 128 + 3u);
        dlg.OnDestroy();
        SetCableBackend(nullptr);
        std::ostringstream out, err;
        ASSERT_EQ(RunCli({"play", tune, "--packed", "--cable", "dump:" + cliDump}, out, err), 0);
        EXPECT_TRUE(windowBytes == test::ReadAll(cliDump));
    }
    SetCableBackend(nullptr);
}

TEST(QtAppStart, CommandLine) {
    struct Case {
        std::vector<const char*> args;
        bool runs;
        int code;
        const char* textPart;
        const char* file;
        const char* cable;
        bool packed = false;
        unsigned tckKhz = 0;  // the menu's setting
    };
    const Case cases[] = {
        {{"tunlet"}, true, 0, "", "", "usb-blaster"},
        {{"tunlet", "--cable", "arrow-usb-blaster", "--tck", "12.5"}, true, 0, "", "", "arrow-usb-blaster", false, 12500},
        {{"tunlet", "--tck", "40"}, false, 2, "--tck needs a TCK in MHz, above 0 and at most 30", "", ""},
        {{"tunlet", "a.nsf", "--cable=dump:/tmp/x"}, true, 0, "", "a.nsf", "dump:/tmp/x"},
        {{"tunlet", "--packed", "a.nsf"}, true, 0, "", "a.nsf", "usb-blaster", true},
        {{"tunlet", "--help"}, false, 0, "--packed ", "", ""},
        {{"tunlet", "--version"}, false, 0, "tunlet 1.0.0.1", "", ""},
        {{"tunlet", "a.nsf", "--help"}, false, 0, "usage: tunlet [FILE]", "", ""},
        {{"tunlet", "a.nsf", "b.nsf"}, false, 2, "one FILE at a time", "", ""},
        {{"tunlet", "--cable"}, false, 2, "--cable needs a value", "", ""},
        {{"tunlet", "--loud"}, false, 2, "unknown option '--loud'", "", ""},
        {{"tunlet", "a.nsf", "--no-board-check"}, true, 0, "", "a.nsf", "usb-blaster"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::string text;
        int code = -1;
        const auto options = ParseAppArgs(static_cast<int>(c.args.size()), c.args.data(), text, code);
        EXPECT_EQ(options.has_value(), c.runs);
        if (options) {
            EXPECT_EQ(options->file, c.file);
            EXPECT_EQ(options->cable, c.cable);
            EXPECT_EQ(options->boardCheck, c.args.back() != std::string("--no-board-check"));
            EXPECT_EQ(options->packed, c.packed);
            EXPECT_EQ(options->tckKhz, c.tckKhz);
        } else {
            EXPECT_EQ(code, c.code);
            EXPECT_NE(text.find(c.textPart), std::string::npos) << text;
        }
    }
}

// Texts reach the window already decoded: UTF-8 is shown as it is, never guessed at again.
TEST(QtText, ShowsUtf8AsItIs) {
    struct Case {
        std::string bytes;
        QString shown;
    };
    const Case cases[] = {
        {"plain", QStringLiteral("plain")},
        {"\xE3\x81\x82", QString::fromUtf8("あ")},
        {"Pok\xC3\xA9mon \xFF", QString::fromUtf8("Pokémon \uFFFD")},  // a byte UTF-8 never has
        {"caf\xE9", QString::fromUtf8("caf\uFFFD")},  // a malformed byte, the rest kept
    };
    for (const auto& c : cases) EXPECT_EQ(DisplayText(c.bytes), c.shown);
    // Never empty, never a crash: every byte value shows as something.
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_FALSE(DisplayText(all).isEmpty());
}

}  // namespace
}  // namespace tunlet

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The settings the window keeps go to a folder of the run's own, never the user's,
    // removed when the run ends (declared before the application, so it outlives it).
    const QTemporaryDir config(QDir::tempPath() + "/tunlet-qt-config-XXXXXX");
    if (config.isValid()) setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
