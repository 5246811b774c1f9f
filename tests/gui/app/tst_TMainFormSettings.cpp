#include "core/app/CheckedFolders.h"
#include "core/app/SettingsFile.h"
#include "gui/app/TMainForm.h"
#include "gui/app/UpDown.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using dv::SettingsFormState;
using dv::TMainForm;

class TstTMainFormSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString settingsPath() const { return QDir(m_dir.path()).filePath("Delvora/settings.dt"); }

    void writeSettings(const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(settingsPath()).path());
        QFile f(settingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // A folder of the fixture that the tree can select; its name holds what would read as
    // references, so it comes back only when taken as written.
    QString chosenFolder() const { return QDir(m_dir.path()).filePath("chosen $HOME %PATH% ~x"); }

    // A state unlike the built-in defaults in every field.
    SettingsFormState changedState() const
    {
        SettingsFormState s;
        s.fileNameFilter = QStringLiteral("*.txt;*.md");
        s.textToFind = QStringLiteral("  needle ");
        s.dateAllFiles = false;
        s.dateKind = 0;
        s.firstDate = 45352.0; // 2024-03-01 00:00
        s.lastDate = 45356.5;  // 2024-03-05 12:00
        s.sizeAllFiles = false;
        s.sizeComparison = 1;
        s.sizeValue = QStringLiteral("3000000");
        s.showHidden = true;
        s.searchInSubfolders = false;
        s.searchUnrecognizedFormats = true;
        s.windowLeft = 40;
        s.windowTop = 30;
        s.windowWidth = 1100;
        s.windowHeight = 700;
        s.leftColumnWidth = 360;
        s.folderListHeight = 120;
        s.previewHeight = 150;
        s.selectedFolder = chosenFolder();
        return s;
    }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        testsupport::useTemporaryConfigHome();
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(chosenFolder()));
        qputenv("APPDATA", m_dir.path().toLocal8Bit());
    }

    void init()
    {
        QFile::remove(settingsPath());
        QVERIFY(dv::SaveCheckedFolders({}));
    }

    void noFileCentresTheWindow()
    {
        TMainForm form;
        QCOMPARE(form.SettingsFilePath(), settingsPath());
        const QSize screen = QGuiApplication::primaryScreen()->size();
        // Halves round to even: 1371 / 2 gives 686, 663 / 2 gives 332.
        QCOMPARE(form.pos(), QPoint(int(std::lrint(screen.width() / 2.0)) - 686,
                                    int(std::lrint(screen.height() / 2.0)) - 332));
        QCOMPARE(form.SearchField->text(), QStringLiteral("*.*"));
        QCOMPARE(form.SearchOptionsCombo->currentIndex(), 2);
    }

    void closingStoresWhatTheNextStartShows()
    {
        {
            TMainForm form;
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.SearchField->setText(QStringLiteral("*.log"));
            form.edtTextToFind->setText(QStringLiteral(" two words "));
            form.SearchDateRB->setChecked(true);
            form.SearchOptionsCombo->setCurrentIndex(1);
            form.SearchMinDate->setDateTime(QDateTime(QDate(2024, 3, 1), QTime(8, 30)));
            form.SearchMaxDate->setDateTime(QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
            form.chSize2->setChecked(true);
            form.FileSizeCombo->setCurrentIndex(1);
            form.FileSize->setText(QStringLiteral("77"));
            form.chkShowHidden->setChecked(true);
            form.chSearchInSubfolders->setChecked(false);
            form.CheckBox1->setChecked(true);
            form.SetLeftColumnWidth(350);
            form.SetPreviewHeight(140);
            form.SetFolderListHeight(130);
            form.SetSelectedFolder(chosenFolder());
            QTRY_COMPARE(form.LeftColumnWidth(), 350);
            QVERIFY(form.close());
        }
        QVERIFY(QFile::exists(settingsPath()));
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.SearchField->text(), QStringLiteral("*.log"));
        QCOMPARE(form.edtTextToFind->text(), QStringLiteral(" two words "));
        QVERIFY(form.SearchDateRB->isChecked());
        QVERIFY(form.SearchMinDate->isEnabled());
        QCOMPARE(form.SearchOptionsCombo->currentIndex(), 1);
        QCOMPARE(form.SearchMinDate->dateTime(), QDateTime(QDate(2024, 3, 1), QTime(8, 30)));
        QCOMPARE(form.SearchMaxDate->dateTime(), QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
        QVERIFY(form.chSize2->isChecked());
        QVERIFY(form.FileSize->isEnabled());
        QCOMPARE(form.FileSizeCombo->currentIndex(), 1);
        QCOMPARE(form.FileSize->text(), QStringLiteral("77"));
        QCOMPARE(form.UpDown1->Position(), 77);
        QVERIFY(form.chkShowHidden->isChecked());
        QVERIFY(!form.chSearchInSubfolders->isChecked());
        QVERIFY(form.CheckBox1->isChecked());
        QCOMPARE(form.LeftColumnWidth(), 350);
        QCOMPARE(form.PreviewHeight(), 140);
        QCOMPARE(form.FolderListHeight(), 130);
        QCOMPARE(form.SelectedFolder(), chosenFolder());
        QCOMPARE(form.size(), QSize(1371, 663));
    }

    void everyFieldApplies()
    {
        SettingsFormState s = changedState();
        writeSettings(dv::EncodeSettings(s));
        s.sizePosition = 3000000; // the spin follows the size text
        TMainForm form;
        QCOMPARE(form.pos(), QPoint(40, 30));
        QCOMPARE(form.size(), QSize(1100, 700));
        QCOMPARE(form.SearchMaxDate->dateTime(), QDateTime(QDate(2024, 3, 5), QTime(12, 0)));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        SettingsFormState back = form.FormState();
        back.windowLeft = s.windowLeft; // the platform may place a shown window itself
        back.windowTop = s.windowTop;
        QCOMPARE(back, s);
    }

    void shortFileKeepsLaterDefaults()
    {
        // Cut after the size comparison (field 9): 4+(4+2*10)+(4+2*10)+1+4+8+8+1+4 bytes.
        const QByteArray full = dv::EncodeSettings(changedState());
        writeSettings(full.left(4 + 24 + 24 + 1 + 4 + 8 + 8 + 1 + 4));
        TMainForm form;
        QCOMPARE(form.SearchField->text(), QStringLiteral("*.txt;*.md"));
        QCOMPARE(form.SearchOptionsCombo->currentIndex(), 0);
        QVERIFY(form.chSize2->isChecked());
        QCOMPARE(form.FileSizeCombo->currentIndex(), 1);
        QCOMPARE(form.FileSize->text(), QStringLiteral("0"));
        QVERIFY(!form.chkShowHidden->isChecked());
        QVERIFY(form.chSearchInSubfolders->isChecked());
        QCOMPARE(form.size(), QSize(1371, 663));
        QCOMPARE(form.pos(), QPoint(358, 152)); // neither restored nor centred
        QVERIFY(form.SelectedFolder().isEmpty());
    }

    void sizeTextThatIsNoNumberStopsReading()
    {
        SettingsFormState s = changedState();
        s.sizeValue = QStringLiteral("1,000");
        writeSettings(dv::EncodeSettings(s));
        TMainForm form;
        QCOMPARE(form.FileSize->text(), QStringLiteral("1,000"));
        QCOMPARE(form.UpDown1->Position(), 0);
        QVERIFY(!form.chkShowHidden->isChecked());
        QVERIFY(form.chSearchInSubfolders->isChecked());
        QVERIFY(form.SelectedFolder().isEmpty());
    }

    void maximizedKeepsBoundsButAppliesPanels()
    {
        SettingsFormState s = changedState();
        s.maximized = true;
        writeSettings(dv::EncodeSettings(s));
        TMainForm form;
        QVERIFY(form.windowState().testFlag(Qt::WindowMaximized));
        QVERIFY(form.size() != QSize(1100, 700));
        QCOMPARE(form.SelectedFolder(), chosenFolder());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(form.LeftColumnWidth(), 360);
        QCOMPARE(form.PreviewHeight(), 150);
    }

    // A saved place from a larger or another monitor: the window comes onto a screen it can
    // be grabbed on, no larger than that screen.
    void savedPlaceFitsTheScreens_data()
    {
        QTest::addColumn<QPoint>("saved");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("kept");
        QTest::newRow("fits where it was")
            << QPoint(2800, 40) << QSize(1000, 600) << "laptop" << true;
        QTest::newRow("on the small screen, too large")
            << QPoint(1950, 20) << QSize(1371, 663) << "small" << false;
        QTest::newRow("off every screen")
            << QPoint(3500, 2500) << QSize(1100, 700) << "laptop" << false;
        QTest::newRow("above the screens")
            << QPoint(400, -500) << QSize(1100, 700) << "primary" << false;
    }
    void savedPlaceFitsTheScreens()
    {
        QFETCH(QPoint, saved);
        QFETCH(QSize, size);
        QFETCH(QString, screen);
        QFETCH(bool, kept);
        QCOMPARE(QGuiApplication::screens().size(), 3);
        SettingsFormState s = changedState();
        s.windowLeft = saved.x();
        s.windowTop = saved.y();
        s.windowWidth = size.width();
        s.windowHeight = size.height();
        writeSettings(dv::EncodeSettings(s));
        TMainForm form;
        const QRect placed(form.pos(), form.size());
        if (kept) {
            QCOMPARE(placed, QRect(saved, size));
            return;
        }
        const QScreen *target = nullptr;
        for (const QScreen *candidate : QGuiApplication::screens())
            if (candidate->name() == screen)
                target = candidate;
        QVERIFY(target);
        QVERIFY2(target->availableGeometry().contains(placed),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(placed.x())
                                .arg(placed.y())
                                .arg(placed.width())
                                .arg(placed.height())));
        QVERIFY(placed.width() >= std::min(size.width(), target->availableGeometry().width() - 2));
    }

    void unreadableFileKeepsDesignPosition()
    {
        QVERIFY(QDir().mkpath(settingsPath())); // a folder where the file belongs
        TMainForm form;
        QCOMPARE(form.pos(), QPoint(358, 152));
        QCOMPARE(form.SearchField->text(), QStringLiteral("*.*"));
        form.SaveSettings(); // quietly fails
        QVERIFY(QDir().rmdir(settingsPath()));
    }
};

// Three screens side by side, as a desk with a laptop and two monitors has them: a large
// primary one, a small one and a laptop-sized one.
int main(int argc, char **argv)
{
    testsupport::useOffscreenScreens(
        R"({"name": "primary", "x": 0, "y": 0, "width": 1920, "height": 1200, "logicalDpi": 96},
           {"name": "small", "x": 1920, "y": 0, "width": 800, "height": 600, "logicalDpi": 96},
           {"name": "laptop", "x": 2720, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96})");
    QApplication app(argc, argv);
    TstTMainFormSettings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_TMainFormSettings.moc"
