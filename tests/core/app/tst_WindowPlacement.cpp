#include "core/app/WindowPlacement.h"

#include <QTest>

using dv::WindowPlacement;

// Where the main window's frame goes on the screens the session has.
class TstWindowPlacement : public QObject
{
    Q_OBJECT
private slots:
    void fit_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QRect>("expected");
        const QList<QRect> small{QRect(0, 0, 800, 600)};
        const QList<QRect> laptop{QRect(0, 0, 1366, 740)};
        const QList<QRect> wide{QRect(0, 0, 1920, 1050)};
        const QList<QRect> two{QRect(0, 0, 1366, 740), QRect(1366, 0, 1920, 1050)};
        // The designed 1371 x 663 client area with a 30 pixel title bar.
        QTest::newRow("designed size fits, kept")
            << QRect(274, 178, 1371, 693) << wide << QRect(274, 178, 1371, 693);
        QTest::newRow("centred on a small screen: fitted and on it")
            << QRect(-285, -46, 1371, 693) << small << QRect(0, 0, 800, 600);
        QTest::newRow("wider than a laptop screen")
            << QRect(0, 20, 1371, 693) << laptop << QRect(0, 20, 1366, 693);
        QTest::newRow("far off every screen: onto the nearest, whole")
            << QRect(3500, 2500, 1100, 700) << two << QRect(2186, 350, 1100, 700);
        QTest::newRow("on the second monitor, kept")
            << QRect(1500, 100, 1100, 700) << two << QRect(1500, 100, 1100, 700);
        QTest::newRow("partly off, title bar to grab: kept")
            << QRect(-450, 100, 600, 400) << small << QRect(-450, 100, 600, 400);
        QTest::newRow("partly off and larger than the screen: fitted and moved on")
            << QRect(-900, 300, 1100, 700) << small << QRect(0, 0, 800, 600);
        QTest::newRow("title bar above the screen: moved down")
            << QRect(100, -40, 600, 400) << small << QRect(100, 0, 600, 400);
        QTest::newRow("only a sliver left on the screen: moved on")
            << QRect(750, 100, 600, 400) << small << QRect(200, 100, 600, 400);
        QTest::newRow("saved on a larger monitor now gone: fitted into the one left")
            << QRect(1400, 50, 1800, 1000) << laptop << QRect(0, 0, 1366, 740);
        QTest::newRow("across two screens: onto the one it lies on most")
            << QRect(30, 20, 1371, 693)
            << QList<QRect>{QRect(-800, 0, 800, 600), QRect(0, 0, 800, 600)}
            << QRect(0, 0, 800, 600);
        QTest::newRow("no screens")
            << QRect(-5000, 0, 10, 10) << QList<QRect>{} << QRect(-5000, 0, 10, 10);
    }
    void fit()
    {
        QFETCH(QRect, frame);
        QFETCH(QList<QRect>, screens);
        QFETCH(QRect, expected);
        QCOMPARE(WindowPlacement::Fit(frame, screens, 30), expected);
    }
};

QTEST_APPLESS_MAIN(TstWindowPlacement)
#include "tst_WindowPlacement.moc"
