// The Japanese texts for Qt's own parts: every one keeps what the program
// relies on in its source (placeholders, a mnemonic), and once installed the
// program's texts, Qt's catalogue and ours, read in Japanese.
#include "core/JapaneseTexts.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

class TestJapaneseTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entriesKeepTheirForm();
    void installed_data();
    void installed();
};

void TestJapaneseTexts::entriesKeepTheirForm()
{
    static const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30FF}\\x{4E00}-\\x{9FFF}]"));
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    static const QRegularExpression mnemonic(QStringLiteral("\\(&[A-Z]\\)$"));
    QSet<QByteArray> seen;
    for (const kiro::JapaneseTexts::Entry &entry : kiro::JapaneseTexts::Entries()) {
        const QString source = QString::fromUtf8(entry.source);
        const QString text = QString::fromUtf8(entry.japanese);
        const QByteArray key = QByteArray(entry.context) + '/' + entry.source;
        QVERIFY2(!seen.contains(key), key.constData());
        seen.insert(key);
        QVERIFY2(text.contains(japanese), key.constData());

        QStringList sourceMarks;
        QStringList textMarks;
        for (const auto &m : placeholder.globalMatch(source))
            sourceMarks << m.captured();
        for (const auto &m : placeholder.globalMatch(text))
            textMarks << m.captured();
        sourceMarks.sort();
        textMarks.sort();
        QCOMPARE(textMarks, sourceMarks);

        // A source with a mnemonic keeps one, in the Japanese form "(&X)".
        QCOMPARE(text.contains(mnemonic), source.contains(QLatin1Char('&')));
    }
}

void TestJapaneseTexts::installed_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    // Qt's own catalogue.
    QTest::newRow("line edit undo") << "QLineEdit" << "&Undo" << "元に戻す(&U)";
    QTest::newRow("line edit select all") << "QLineEdit" << "Select All" << "すべてを選択";
    QTest::newRow("dialog cancel") << "QPlatformTheme" << "Cancel" << "キャンセル";
    // Ours, where Qt has no Japanese catalogue.
    QTest::newRow("page menu back") << "RenderViewContextMenuQt" << "Back" << "戻る";
    QTest::newRow("page menu save page") << "RenderViewContextMenuQt" << "Save page" << "ページを保存";
    QTest::newRow("open link") << "QWebEnginePage" << "Open link in this window" << "リンクを開く";
    QTest::newRow("download reason")
            << "DownloadInterruptReason" << "General network failure" << "ネットワークエラーが発生しました";
    // Anything else is left as it is.
    QTest::newRow("unknown") << "RenderViewContextMenuQt" << "No such text" << "No such text";
}

void TestJapaneseTexts::installed()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);

    QVERIFY(kiro::InstallJapaneseTexts());
    QCOMPARE(QLocale().language(), QLocale::Japanese);
    QCOMPARE(QCoreApplication::translate(context.toLatin1().constData(), source.toUtf8().constData()),
             expected);
}

QTEST_GUILESS_MAIN(TestJapaneseTexts)
#include "tst_japanesetexts.moc"
