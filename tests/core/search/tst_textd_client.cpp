// The engine's extraction client against the real delvora-textd, over loopback HTTP.
#include "core/search/ContentMatcher.h"
#include "core/search/ExtractionClient.h"
#include "core/search/TextExtraction.h"
#include "tests/support/LoopbackHttpServer.h"
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

enum Decision
{
    ReadHere,
    NoText,
    ToServer
};

} // namespace

Q_DECLARE_METATYPE(Decision)

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

    // A file without a plain-text extension whose first bytes tell the server's answer is
    // decided here: read as the server would read it, or found to hold no text, and never
    // sent. The texts are compared with the real server's; a server that answers something
    // else shows which files went to it.
    void localDecisionGivesTheServersText_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Decision>("decision");
        const QByteArray elf = QByteArray("\x7F"
                                          "ELF\x02\x01\x01") +
                               QByteArray(57, '\0') + "symbols";
        const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1\0\0\0\1", 24);
        QByteArray tarOfPdf(512, '\0');
        tarOfPdf.replace(0, 8, "doc.pdf\0");
        tarOfPdf.replace(257, 6, QByteArray("ustar\0", 6));
        tarOfPdf += fixture("sample.pdf");

        QTest::newRow("text without extension")
            << QByteArray("obj-y += main.o\n\nall:\n\t$(CC) -o tool main.c\n") << ReadHere;
        QTest::newRow("utf-8 text") << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                  "e, 5 \xE2\x82\xAC, "
                                                  "\xF0\x9F\x98\x80 \xE2\x84\xAA\n")
                                    << ReadHere;
        QTest::newRow("nul bytes past the first look")
            << QByteArray(9000, 'x') + QByteArray("\0tail\0", 6) << ReadHere;
        QTest::newRow("text past 2 MiB") << QByteArray(3 << 20, 'y') + " needle" << ReadHere;
        QTest::newRow("white space only") << QByteArray(" \n\t\n") << ReadHere;
        QTest::newRow("empty file") << QByteArray() << NoText;
        QTest::newRow("elf") << elf << NoText;
        QTest::newRow("png") << png << NoText;
        // The server guesses the charset of text that is not UTF-8.
        QTest::newRow("ansi text") << QByteArray("M\xFCller und Gr\xFC\xDF"
                                                 "e\n")
                                   << ToServer;
        QTest::newRow("utf-8 broken past the first read")
            << QByteArray(40000, 'a') + "\xFC" << ToServer;
        QTest::newRow("utf-8 byte-order mark") << QByteArray("\xEF\xBB\xBFtext\n") << ToServer;
        QTest::newRow("pdf") << fixture("sample.pdf") << ToServer;
        QTest::newRow("docx") << fixture("sample.docx") << ToServer;
        QTest::newRow("rtf") << QByteArray("{\\rtf1\\ansi Hello}") << ToServer;
        QTest::newRow("html") << QByteArray(" \n<!DOCTYPE html><html><body><p>Hi</p></body></html>")
                              << ToServer;
        QTest::newRow("xml") << QByteArray("<?xml version=\"1.0\"?><a>b</a>") << ToServer;
        QTest::newRow("mail") << QByteArray("From: a@example.org\nTo: b@example.org\n"
                                            "Subject: Hi\n\nBody\n")
                              << ToServer;
        // Headers, but only one that a mail has: the server reads plain text.
        QTest::newRow("header lines of no mail")
            << QByteArray("What:\t\t/sys/kernel/x\nDate:\t\tMay 2020\nContact:\tme\n"
                          "Description:\tsome\n\t\tthing\n\nneedle\n")
            << ReadHere;
        QTest::newRow("pdf in a tar") << tarOfPdf << ToServer;
        QTest::newRow("zero bytes, no signature") << QByteArray("abc\0def", 7) << ToServer;
        QTest::newRow("control bytes") << QByteArray(20, '\x01') + "text" << ToServer;
        // A signature alone decides nothing: without a zero byte the server reads text.
        QTest::newRow("png signature, then text")
            << QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(5000, 'a') << ToServer;
    }

    void localDecisionGivesTheServersText()
    {
        QFETCH(QByteArray, content);
        QFETCH(Decision, decision);
        const QString path = testsupport::writeFile(m_dir.path(), "LOCAL", content);
        QString serverText, errorText;
        ExtractTextViaServer(path, serverText, errorText, m_server.baseUrl());

        testsupport::LoopbackHttpServer other;
        other.setAnswer("/tika", testsupport::HttpAnswer::text("another text"));
        SetExtractionServerEndpoint(other.baseUrl());
        const auto restore = qScopeGuard([] { SetExtractionServerEndpoint(QString()); });
        QString text;
        const bool hasText = ExtractText(path, 0, text);
        const ContentTestResult result = TestFileContent(path, QStringLiteral("needle"));
        switch (decision) {
        case ReadHere:
            QVERIFY(hasText);
            QCOMPARE(text, serverText);
            QCOMPARE(result.Found, serverText.contains(u"needle"));
            QCOMPARE(other.requestCount(), 0);
            break;
        case NoText:
            QVERIFY(serverText.isEmpty());
            QVERIFY(!hasText && text.isEmpty());
            QVERIFY(!result.Found);
            QVERIFY(!result.Error.IsSet());
            QCOMPARE(other.requestCount(), 0);
            break;
        case ToServer:
            QCOMPARE(text, QStringLiteral("another text"));
            QCOMPARE(other.requestCount(), 2);
            break;
        }
    }
};

QTEST_GUILESS_MAIN(TestTextdClient)
#include "tst_textd_client.moc"
