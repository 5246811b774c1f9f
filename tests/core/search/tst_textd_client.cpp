// The engine's extraction client against the real delvora-textd, over loopback HTTP.
#include "core/search/ExtractionClient.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TextdServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace dv;

namespace {

QByteArray fixture(const char *name)
{
    QFile f(QStringLiteral(DELVORA_SOURCE_DIR "/tests/textd/extract/fixtures/") +
            QString::fromLatin1(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return f.readAll();
}

} // namespace

class TestTextdClient : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    testsupport::TextdServer m_server;

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    }

    void extractsThroughTheServer_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("textPart");
        QTest::addColumn<QString>("error");

        QTest::newRow("docx") << "report.docx" << fixture("sample.docx") << true
                              << "Quarterly report of the lighthouse keepers" << QString();
        QTest::newRow("pdf") << "inspection.pdf" << fixture("sample.pdf") << true
                             << "Lighthouse inspection report" << QString();
        QTest::newRow("no extension") << "README" << QByteArray("Plain words, no extension\n")
                                      << true << "Plain words, no extension" << QString();
        // A document without text: the exchange succeeds, the answer is empty.
        QTest::newRow("image") << "photo.png"
                               << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1", 20) << false
                               << QString() << QString();
        QTest::newRow("corrupt docx") << "broken.docx" << fixture("corrupt.docx") << false
                                      << QString() << "HTTP error (422): Unprocessable";
        QTest::newRow("encrypted pdf") << "secret.pdf" << fixture("encrypted.pdf") << false
                                       << QString() << "HTTP error (422): Unprocessable";
        // Inflates to far more text than a document of its size can hold.
        QTest::newRow("zip bomb") << "bomb.docx" << fixture("bomb.docx") << false << QString()
                                  << "HTTP error (422): Unprocessable";
        QTest::newRow("empty file") << "empty.bin" << QByteArray() << false << QString()
                                    << "HTTP error (422): Unprocessable";
    }

    void extractsThroughTheServer()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(bool, result);
        QFETCH(QString, textPart);
        QFETCH(QString, error);

        const QString path = testsupport::writeFile(m_dir.path(), fileName, content);
        QString text, errorText;
        QCOMPARE(ExtractTextViaServer(path, text, errorText, m_server.baseUrl()), result);
        if (textPart.isEmpty())
            QVERIFY(text.isEmpty());
        else
            QVERIFY2(text.contains(textPart), qPrintable(text));
        if (error.isEmpty())
            QVERIFY2(errorText.isEmpty(), qPrintable(errorText));
        else
            QVERIFY2(errorText.startsWith(error), qPrintable(errorText));
    }
};

QTEST_GUILESS_MAIN(TestTextdClient)
#include "tst_textd_client.moc"
