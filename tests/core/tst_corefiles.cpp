// The INI profile store and the record files: what the settings and the lists
// rely on when they are read back.
#include "core/ProfileIni.h"
#include "core/RecordFile.h"
#include "core/SortedText.h"
#include "core/TextFile.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kiro;

namespace {

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Cp932(const QString &s)
{
    QByteArray out;
    EncodeCp932(s, &out);
    return out;
}

} // namespace

class TestCoreFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void profileRead_data();
    void profileRead();
    void profileMissingFileGivesDefault();
    void profileWriteKeepsOtherLines();
    void profileWriteCreatesFileAndSection();
    void profileManyKeysAtOnce_data();
    void profileManyKeysAtOnce();
    void filesWrittenTogetherOrNotAtAll();
    void profileJapaneseFolderRoundTrip();
    void profileRefusesUnencodable();
    void recordsRoundTripByteForByte();
    void recordsMalformedLinesDoNotStopOthers();
    void parseRecordLine_data();
    void parseRecordLine();
    void recordLineEnds_data();
    void recordLineEnds();
    void recordsRefuseUnencodable();
    void sortedInsertIndex_data();
    void sortedInsertIndex();
    void roundHalfEven();
    void trimmingRules_data();
    void trimmingRules();
    void foldedBeforeEncoding_data();
    void foldedBeforeEncoding();
    void unstorableCharacterNamed_data();
    void unstorableCharacterNamed();
};

void TestCoreFiles::profileRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("buffer");
    QTest::addColumn<QString>("expected");

    const QByteArray padded = "[KIRO.set]\r\nFstHpAdrs=http://a/" + QByteArray(190, ' ') + "\r\n";
    QTest::newRow("padded value") << padded << "FstHpAdrs" << 200 << "http://a/";
    QTest::newRow("case-insensitive names")
            << QByteArray("[kiro.SET]\r\nGRHKB=0000000250\r\n") << "grhkb" << 11 << "0000000250";
    QTest::newRow("cut to the buffer")
            << QByteArray("[KIRO.set]\r\ngrhkb=-0000000005\r\n") << "grhkb" << 11 << "-000000000";
    QTest::newRow("one character")
            << QByteArray("[KIRO.set]\r\nchkSubURL=10\r\n") << "chkSubURL" << 2 << "1";
    QTest::newRow("blanks around")
            << QByteArray("[KIRO.set]\r\n  chkFileName =  1  \r\n") << "chkFileName" << 2 << "1";
    QTest::newRow("empty value")
            << QByteArray("[KIRO.set]\r\nStdHpAdrs=\r\n") << "StdHpAdrs" << 200 << "";
    QTest::newRow("other section ignored")
            << QByteArray("[Other]\r\nFstDir=/x\r\n[KIRO.set]\r\nFstDir=/y\r\n") << "FstDir" << 200 << "/y";
    QTest::newRow("LF lines")
            << QByteArray("[KIRO.set]\nFstDir=/z\n") << "FstDir" << 200 << "/z";
    QTest::newRow("section header left open")
            << QByteArray("[KIRO.set\r\nFstDir=/u\r\n") << "FstDir" << 200 << "/u";
    QTest::newRow("a line without = is no key")
            << QByteArray("[KIRO.set]\r\nFstDir\r\nFstDir=/k\r\n") << "FstDir" << 200 << "/k";
    QTest::newRow("a buffer of one holds only the end")
            << QByteArray("[KIRO.set]\r\nchkSubURL=1\r\n") << "chkSubURL" << 1 << "";
    QTest::newRow("a buffer of nothing") << QByteArray("[KIRO.set]\r\nchkSubURL=1\r\n") << "chkSubURL" << 0 << "";
    QTest::newRow("a blank first line")
            << QByteArray("\n[KIRO.set]\nFstDir=/b\n") << "FstDir" << 200 << "/b";
    QTest::newRow("CR lines")
            << QByteArray("[Other]\rFstDir=/x\r[KIRO.set]\rgrhkb=1\rFstDir=/z\r") << "FstDir" << 200 << "/z";
    QTest::newRow("a CR alone among CR LF lines")
            << QByteArray("[KIRO.set]\r\nStdHpAdrs=http://a/\rFstDir=/z\r\n") << "StdHpAdrs" << 200 << "http://a/";
}

void TestCoreFiles::profileRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(int, buffer);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("KIRO.ini");
    WriteAll(path, file);
    QString value;
    const qint64 count = GetProfileString("KIRO.set", key, QString(), &value, buffer, path);
    QCOMPARE(value, expected);
    QCOMPARE(count, qint64(expected.size()));
}

void TestCoreFiles::profileMissingFileGivesDefault()
{
    QTemporaryDir dir;
    QString value;
    QCOMPARE(GetProfileString("KIRO.set", "grhkb", "dflt", &value, 11, dir.filePath("none.ini")), 4);
    QCOMPARE(value, QString("dflt"));
    QVERIFY(!QFile::exists(dir.filePath("none.ini")));
}

void TestCoreFiles::profileWriteKeepsOtherLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KIRO.ini");
    const QByteArray before = "; comment\r\n[KIRO.set]\r\nStdHpAdrs=http://std/\r\n"
                              "grhkb=0000000001\r\nunknown=keep me\r\n[Other]\r\nx=1\r\n";
    WriteAll(path, before);
    QCOMPARE(WriteProfileString("KIRO.set", "GRHKB", "0000000250", path), SaveResult::Ok);
    QCOMPARE(WriteProfileString("KIRO.set", "chkSubURL", "1", path), SaveResult::Ok);
    QCOMPARE(FileBytes(path),
             QByteArray("; comment\r\n[KIRO.set]\r\nStdHpAdrs=http://std/\r\n"
                        "GRHKB=0000000250\r\nunknown=keep me\r\nchkSubURL=1\r\n[Other]\r\nx=1\r\n"));
}

void TestCoreFiles::profileWriteCreatesFileAndSection()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KIRO.ini");
    QCOMPARE(WriteProfileString("KIRO.set", "chkFileName", "0", path), SaveResult::Ok);
    QCOMPARE(FileBytes(path), QByteArray("[KIRO.set]\r\nchkFileName=0\r\n"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KIRO.ini"});
}

void TestCoreFiles::profileManyKeysAtOnce_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("keys in place, new ones after the section's last key")
            << QByteArray("[KIRO.set]\r\ngrhkb=1\r\nx=keep\r\n\r\n[Other]\r\ngrhkb=9\r\n")
            << QByteArray("[KIRO.set]\r\ngrhkb=2\r\nx=keep\r\nchkSubURL=1\r\nFstDir=/d\r\n\r\n[Other]\r\ngrhkb=9\r\n");
    // The reader takes the first of two; so does the writer, and the second
    // stays as it was.
    QTest::newRow("duplicate key")
            << QByteArray("[KIRO.set]\r\nGRHKB=5\r\nchkSubURL=0\r\ngrhkb=7\r\nFstDir=/old\r\n")
            << QByteArray("[KIRO.set]\r\ngrhkb=2\r\nchkSubURL=1\r\ngrhkb=7\r\nFstDir=/d\r\n");
    QTest::newRow("no section") << QByteArray("; only a comment\n")
                                << QByteArray("; only a comment\r\n[KIRO.set]\r\ngrhkb=2\r\nchkSubURL=1\r\nFstDir=/d\r\n");
    QTest::newRow("no file") << QByteArray()
                             << QByteArray("[KIRO.set]\r\ngrhkb=2\r\nchkSubURL=1\r\nFstDir=/d\r\n");
    // A key line in another section, before this one, is not this section's.
    QTest::newRow("same key in an earlier section")
            << QByteArray("grhkb=8\r\n[Other]\r\nchkSubURL=5\r\n[KIRO.set]\r\ngrhkb=1\r\n")
            << QByteArray("grhkb=8\r\n[Other]\r\nchkSubURL=5\r\n[KIRO.set]\r\ngrhkb=2\r\nchkSubURL=1\r\nFstDir=/d\r\n");
    QTest::newRow("a section without keys")
            << QByteArray("[KIRO.set]\r\n[Other]\r\nx=1\r\n")
            << QByteArray("[KIRO.set]\r\ngrhkb=2\r\nchkSubURL=1\r\nFstDir=/d\r\n[Other]\r\nx=1\r\n");
    // The reader stops at the first; so does the writer, which adds there.
    QTest::newRow("the section twice")
            << QByteArray("[KIRO.set]\r\nx=1\r\n[kiro.set]\r\nFstDir=/old\r\n")
            << QByteArray("[KIRO.set]\r\nx=1\r\ngrhkb=2\r\nchkSubURL=1\r\nFstDir=/d\r\n[kiro.set]\r\nFstDir=/old\r\n");
    // Comments are no key lines: new keys go after the last key.
    QTest::newRow("comments after the keys")
            << QByteArray("[KIRO.set]\r\ngrhkb=1\r\n;chkSubURL=0\r\n=no name\r\n")
            << QByteArray("[KIRO.set]\r\ngrhkb=2\r\nchkSubURL=1\r\nFstDir=/d\r\n;chkSubURL=0\r\n=no name\r\n");
    QTest::newRow("CR lines: each key found, every line ended anew")
            << QByteArray("[KIRO.set]\rgrhkb=1\rFstDir=/old\r[Other]\rchkSubURL=0\r")
            << QByteArray("[KIRO.set]\r\ngrhkb=2\r\nFstDir=/d\r\nchkSubURL=1\r\n[Other]\r\nchkSubURL=0\r\n");
}

void TestCoreFiles::profileManyKeysAtOnce()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("KIRO.ini");
    if (!before.isEmpty())
        WriteAll(path, before);
    const QList<ProfileValue> values{{"grhkb", "2"}, {"chkSubURL", "1"}, {"FstDir", "/d"}};
    QCOMPARE(WriteProfileStrings("KIRO.set", values, path), SaveResult::Ok);
    QCOMPARE(FileBytes(path), after);
    QString value;
    GetProfileString("KIRO.set", "grhkb", QString(), &value, 11, path);
    QCOMPARE(value, QStringLiteral("2"));
}

void TestCoreFiles::filesWrittenTogetherOrNotAtAll()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("KIRO.ini");
    const QString list = dir.filePath("Extsn.fil");
    WriteAll(ini, "old ini");
    WriteAll(list, "old list");

    // The second cannot be written (a folder stands in its way): the first
    // keeps its old content too.
    const QString blocked = dir.filePath("blocked");
    QVERIFY(QDir().mkdir(blocked));
    QString failed;
    QCOMPARE(WriteFilesAtomically({{ini, "new ini"}, {blocked, "x"}}, &failed), SaveResult::IoError);
    QCOMPARE(failed, blocked);
    QCOMPARE(FileBytes(ini), QByteArray("old ini"));

    QCOMPARE(WriteFilesAtomically({{ini, "new ini"}, {list, "new list"}}, &failed), SaveResult::Ok);
    QCOMPARE(FileBytes(ini), QByteArray("new ini"));
    QCOMPARE(FileBytes(list), QByteArray("new list"));
    QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    QCOMPARE(left, (QStringList{"Extsn.fil", "KIRO.ini", "blocked"}));
}

void TestCoreFiles::profileJapaneseFolderRoundTrip()
{
    // The second bytes of 表 and ソ are 0x5C, the backslash.
    QTemporaryDir dir;
    const QString path = dir.filePath("KIRO.ini");
    const QString folder = QStringLiteral("/home/利用者/表示/ソフト");
    const QString value = folder + QString(200 - folder.size(), ' ');
    QCOMPARE(WriteProfileString("KIRO.set", "FstDir", value, path), SaveResult::Ok);
    QVERIFY(FileBytes(path).contains(Cp932(folder)));
    QString read;
    QCOMPARE(GetProfileString("KIRO.set", "FstDir", QString(), &read, 200, path), qint64(folder.size()));
    QCOMPARE(read, folder);
}

void TestCoreFiles::profileRefusesUnencodable()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KIRO.ini");
    WriteAll(path, "[KIRO.set]\r\nFstDir=/old\r\n");
    QCOMPARE(WriteProfileString("KIRO.set", "FstDir", QStringLiteral("/café"), path),
             SaveResult::Unencodable);
    QCOMPARE(FileBytes(path), QByteArray("[KIRO.set]\r\nFstDir=/old\r\n"));
}

void TestCoreFiles::recordsRoundTripByteForByte()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Fav.fil");
    const QList<Record> records = {
        {RecordField::Text(QStringLiteral("日本語の名前")), RecordField::Text(QStringLiteral("日本語の名前@@http://h/"))},
        {RecordField::Text(QStringLiteral("a, b")), RecordField::Number(1)},
    };
    QCOMPARE(WriteRecordFile(path, records), SaveResult::Ok);
    const QByteArray expected = Cp932(QStringLiteral("\"日本語の名前\",\"日本語の名前@@http://h/\"\r\n\"a, b\",1\r\n"));
    QCOMPARE(FileBytes(path), expected);

    const QList<QStringList> read = ReadRecordFile(path);
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0), (QStringList{QStringLiteral("日本語の名前"), QStringLiteral("日本語の名前@@http://h/")}));
    QCOMPARE(read.at(1), (QStringList{QStringLiteral("a, b"), QStringLiteral("1")}));

    // Written again from what was read, the file is the same byte for byte.
    QList<Record> again;
    for (const QStringList &f : read)
        again.append({RecordField::Text(f.at(0)), RecordField{f.at(1), f.at(1) != "1"}});
    QCOMPARE(WriteRecordFile(path, again), SaveResult::Ok);
    QCOMPARE(FileBytes(path), expected);
}

void TestCoreFiles::recordsMalformedLinesDoNotStopOthers()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Extsn.fil");
    WriteAll(path, "\"jpg\",1\r\n\"one field\"\r\n\"unclosed,0\r\n\r\n\"gif\",x\r\n  bare , 7 \r\n\"zip\",0");
    const QList<QStringList> r = ReadRecordFile(path);
    QCOMPARE(r.size(), 6);
    QCOMPARE(RecordText(r[0], 0), QString("jpg"));
    QCOMPARE(RecordNumber(r[0], 1), 1);
    QCOMPARE(RecordText(r[1], 0), QString("one field"));
    QCOMPARE(RecordNumber(r[1], 1), 0);
    QCOMPARE(RecordText(r[2], 0), QString("unclosed,0"));
    QCOMPARE(RecordText(r[3], 0), QString("gif"));
    QCOMPARE(RecordNumber(r[3], 1), 0);
    QCOMPARE(RecordText(r[4], 0), QString("bare"));
    QCOMPARE(RecordNumber(r[4], 1), 7);
    QCOMPARE(RecordText(r[5], 0), QString("zip"));
}

void TestCoreFiles::parseRecordLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("text and number") << "\"jpg\",1" << QStringList{"jpg", "1"};
    QTest::newRow("blanks around") << "  \" a \" ,\t 7 " << QStringList{" a ", "7"};
    QTest::newRow("comma inside quotes") << "\"a,b\",\"c\"" << QStringList{"a,b", "c"};
    QTest::newRow("text after the closing quote skipped") << "\"a\"xyz,2" << QStringList{"a", "2"};
    QTest::newRow("empty first field") << ",1" << QStringList{"", "1"};
    QTest::newRow("empty middle field") << "a,,b" << QStringList{"a", "", "b"};
    QTest::newRow("quote left open") << "\"a,1" << QStringList{"a,1"};
    QTest::newRow("a quote inside a bare field") << "a\"b,1" << QStringList{"a\"b", "1"};
    QTest::newRow("ends with a comma") << "\"a\"," << QStringList{"a", ""};
}

void TestCoreFiles::parseRecordLine()
{
    QFETCH(QString, line);
    QTEST(ParseRecordLine(line), "fields");
}

void TestCoreFiles::recordLineEnds_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("CR LF") << QByteArray("\"jpg\",1\r\n\"gif\",0\r\n");
    QTest::newRow("LF") << QByteArray("\"jpg\",1\n\"gif\",0\n");
    QTest::newRow("CR alone") << QByteArray("\"jpg\",1\r\"gif\",0\r");
    QTest::newRow("mixed, no end at the end") << QByteArray("\"jpg\",1\r\r\n\"gif\",0");
    QTest::newRow("blank lines first") << QByteArray("\r\n\n\r\"jpg\",1\r\n\"gif\",0\r\n");
}

// Every way of ending a line ends a record: a file saved by another editor
// loses none of them.
void TestCoreFiles::recordLineEnds()
{
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString path = dir.filePath("Extsn.fil");
    WriteAll(path, file);
    QCOMPARE(ReadRecordFile(path), (QList<QStringList>{{"jpg", "1"}, {"gif", "0"}}));
}

void TestCoreFiles::recordsRefuseUnencodable()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Extsn.fil");
    WriteAll(path, "\"jpg\",1\r\n");
    QCOMPARE(WriteRecordFile(path, {{RecordField::Text(QStringLiteral("한")), RecordField::Number(1)}}),
             SaveResult::Unencodable);
    QCOMPARE(FileBytes(path), QByteArray("\"jpg\",1\r\n"));
}

void TestCoreFiles::sortedInsertIndex_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    const QStringList list{"avi", "BMP", "gif", "Jpg"};
    QTest::newRow("first") << list << "AAC" << 0;
    QTest::newRow("last") << list << "zip" << 4;
    QTest::newRow("among capitals, case ignored") << list << "jpeg" << 3;
    QTest::newRow("same text in other letters: after it") << list << "bmp" << 2;
    QTest::newRow("same text: after it") << list << "gif" << 3;
    QTest::newRow("empty list") << QStringList() << "a" << 0;
    QTest::newRow("Japanese after Latin") << list << QStringLiteral("日本") << 4;
}

void TestCoreFiles::sortedInsertIndex()
{
    QFETCH(QStringList, items);
    QFETCH(QString, text);
    QTEST(SortedInsertIndex(items, text), "index");
}

void TestCoreFiles::roundHalfEven()
{
    QCOMPARE(RoundHalfEven(2.5), qint64(2));
    QCOMPARE(RoundHalfEven(3.5), qint64(4));
    QCOMPARE(RoundHalfEven(-0.5), qint64(0));
    QCOMPARE(RoundHalfEven(1.5001), qint64(2));
}

void TestCoreFiles::trimmingRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("spaces");   // TrimSpaces
    QTest::addColumn<QString>("blanks");   // TrimBlanks
    QTest::newRow("both ends") << "  a b  " << "a b" << "a b";
    QTest::newRow("tabs are blanks, not spaces") << "\t a\t" << "\t a\t" << "a";
    QTest::newRow("only spaces") << "    " << "" << "";
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("line ends stay") << " a\r\n" << "a\r\n" << "a\r\n";
    QTest::newRow("ideographic space stays") << QStringLiteral("\u3000a\u3000")
                                             << QStringLiteral("\u3000a\u3000") << QStringLiteral("\u3000a\u3000");
    QTest::newRow("no-break space stays") << QStringLiteral(" \u00A0a ") << QStringLiteral("\u00A0a")
                                          << QStringLiteral("\u00A0a");
}

void TestCoreFiles::trimmingRules()
{
    QFETCH(QString, text);
    QFETCH(QString, spaces);
    QFETCH(QString, blanks);
    QCOMPARE(TrimSpaces(text), spaces);
    QCOMPARE(TrimSpaces(QStringView(text)).toString(), spaces);
    QCOMPARE(TrimBlanks(text).toString(), blanks);
    if (spaces.isEmpty()) {
        QCOMPARE(LeadingSpaces(text), text.size());
    } else {
        QCOMPARE(text.mid(LeadingSpaces(text)).chopped(TrailingSpaces(text)), spaces);
    }
}

void TestCoreFiles::foldedBeforeEncoding_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("wave dash") << QStringLiteral("東京\u301C大阪") << QStringLiteral("東京\uFF5E大阪")
                               << QByteArray("\x93\x8c\x8b\x9e\x81\x60\x91\xe5\x8d\xe3");
    QTest::newRow("minus sign") << QStringLiteral("\u2212") << QStringLiteral("\uFF0D") << QByteArray("\x81\x7c");
    QTest::newRow("em dash") << QStringLiteral("\u2014") << QStringLiteral("\u2015") << QByteArray("\x81\x5c");
    QTest::newRow("double vertical line") << QStringLiteral("\u2016") << QStringLiteral("\u2225")
                                          << QByteArray("\x81\x61");
    QTest::newRow("cent") << QStringLiteral("\u00A2") << QStringLiteral("\uFFE0") << QByteArray("\x81\x91");
    QTest::newRow("pound") << QStringLiteral("\u00A3") << QStringLiteral("\uFFE1") << QByteArray("\x81\x92");
    QTest::newRow("not") << QStringLiteral("\u00AC") << QStringLiteral("\uFFE2") << QByteArray("\x81\xca");
    QTest::newRow("code page forms stay") << QStringLiteral("\uFF5E\u2015") << QStringLiteral("\uFF5E\u2015")
                                          << QByteArray("\x81\x60\x81\x5c");
}

// What a Linux input method types is stored as Japanese Windows would store
// it, in every file, and reads back in that form.
void TestCoreFiles::foldedBeforeEncoding()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(QByteArray, bytes);
    QCOMPARE(FoldForCp932(typed), stored);
    QVERIFY(IsCp932Encodable(typed));
    QCOMPARE(FirstUnstorableCharacter(typed), QString());
    QCOMPARE(Cp932(typed), bytes);

    QTemporaryDir dir;
    const QString records = dir.filePath("Fav.fil");
    QCOMPARE(WriteRecordFile(records, {{RecordField::Text(typed), RecordField::Text(typed + "@@http://h/")}}),
             SaveResult::Ok);
    QCOMPARE(ReadRecordFile(records), (QList<QStringList>{{stored, stored + "@@http://h/"}}));
    const QString ini = dir.filePath("KIRO.ini");
    QCOMPARE(WriteProfileString("KIRO.set", "StdHpAdrs", typed, ini), SaveResult::Ok);
    QString value;
    GetProfileString("KIRO.set", "StdHpAdrs", QString(), &value, 200, ini);
    QCOMPARE(value, stored);

    // A folder path must come back as the same path: folding it is refused.
    const QString changed = FirstUnstorableCharacter(typed, Folding::NotAllowed);
    QCOMPARE(changed.isEmpty(), typed == stored);
}

void TestCoreFiles::unstorableCharacterNamed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("character");
    QTest::addColumn<QString>("message");
    const QString refused = QStringLiteral("保存できない文字が含まれています。");
    QTest::newRow("hangul") << QStringLiteral("abc한국") << QStringLiteral("한") << refused + "（한）";
    QTest::newRow("accented latin") << QStringLiteral("caf\u00E9") << QStringLiteral("\u00E9")
                                    << refused + "（\u00E9）";
    QTest::newRow("pair") << QStringLiteral("a") + QString::fromUcs4(U"\U0001F600") + "b"
                          << QString::fromUcs4(U"\U0001F600") << refused + "（" + QString::fromUcs4(U"\U0001F600") + "）";
    QTest::newRow("line break") << QStringLiteral("two\nlines") << QStringLiteral("\n") << refused + "（U+000A）";
    QTest::newRow("delete") << QStringLiteral("a\x7F") << QStringLiteral("\x7F") << refused + "（U+007F）";
    QTest::newRow("tab") << QStringLiteral("a\tb") << QStringLiteral("\t") << refused + "（U+0009）";
    QTest::newRow("no-break space") << QStringLiteral("a\u00A0b") << QStringLiteral("\u00A0")
                                    << refused + "（U+00A0）";
    QTest::newRow("half a pair") << QStringLiteral("a") + QChar(0xD800) << QString(QChar(0xD800))
                                 << refused + "（U+D800）";
    QTest::newRow("the first of two") << QStringLiteral("日本é한") << QStringLiteral("é") << refused + "（é）";
    QTest::newRow("Japanese") << QStringLiteral("東京〜大阪①ｶﾅ") << QString() << QString();
    QTest::newRow("spaces and symbols are stored") << QStringLiteral("a b ~!") << QString() << QString();
    QTest::newRow("folded text before the one that is not")
            << QStringLiteral("東京〜é") << QStringLiteral("é") << refused + "（é）";
    QTest::newRow("half a pair after a letter")
            << QStringLiteral("a") + QChar(0xDC00) << QString(QChar(0xDC00)) << refused + "（U+DC00）";
}

void TestCoreFiles::unstorableCharacterNamed()
{
    QFETCH(QString, text);
    QFETCH(QString, character);
    QFETCH(QString, message);
    QCOMPARE(FirstUnstorableCharacter(text), character);
    QCOMPARE(FirstUnstorableCharacter(text, Folding::NotAllowed).isEmpty(),
             character.isEmpty() && !text.contains(QChar(0x301C)));
    if (!character.isEmpty())
        QCOMPARE(UnstorableCharacterMessage(character), message);
}

QTEST_APPLESS_MAIN(TestCoreFiles)
#include "tst_corefiles.moc"
