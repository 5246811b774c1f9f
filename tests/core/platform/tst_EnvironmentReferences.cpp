#include "core/platform/EnvironmentReferences.h"

#include <QDir>
#include <QTest>

class tst_EnvironmentReferences : public QObject
{
    Q_OBJECT
private slots:
    void environmentReferences_data();
    void environmentReferences();
};

void tst_EnvironmentReferences::environmentReferences_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("expanded");
    const QString home = QDir::homePath();
    QTest::newRow("date and time") << "/x/%DATE%_%TIME%"
                                   << "/x/2024-03-07_09-05-01";
    QTest::newRow("lower case names") << "/x/%date%"
                                      << "/x/2024-03-07";
    QTest::newRow("unknown stays") << "/x/%DV_TREE_UNSET%/$DV_TREE_UNSET"
                                   << "/x/%DV_TREE_UNSET%/$DV_TREE_UNSET";
    QTest::newRow("home") << "~/x" << home + "/x";
    QTest::newRow("tilde inside stays") << "/x/~y"
                                        << "/x/~y";
    QTest::newRow("variable then text") << "$DV_TREE_VALUE.d/${DV_TREE_VALUE}x"
                                        << "/v.d//vx";
    QTest::newRow("lone signs") << "/a%b/c$"
                                << "/a%b/c$";
}

void tst_EnvironmentReferences::environmentReferences()
{
    QFETCH(QString, written);
    QFETCH(QString, expanded);
    qputenv("DV_TREE_VALUE", "/v");
    const QDateTime now(QDate(2024, 3, 7), QTime(9, 5, 1));
    QCOMPARE(dv::ExpandEnvironmentReferences(written, now), expanded);
}

QTEST_GUILESS_MAIN(tst_EnvironmentReferences)
#include "tst_EnvironmentReferences.moc"
