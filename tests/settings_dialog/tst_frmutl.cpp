#include "settings_dialog/DirListBox.h"
#include "settings_dialog/DriveListBox.h"
#include "settings_dialog/VolumeList.h"
#include "settings_dialog/frmUtl.h"

#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "core/Shared.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

struct Message {
    QString text;
    QString title;
};

const QString kUnencodable = QStringLiteral("保存できない文字が含まれています。");
const QString kQuote = QStringLiteral("拡張子に「\"」は使用できません。");

// A stored value: padded with blanks to 200 characters.
QString padded(const QString &value)
{
    return value.leftJustified(200, QLatin1Char(' '));
}

} // namespace

class TstFrmUtl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void openingWithoutExtensionFile();
    void listSortedWithItsChecks_data();
    void listSortedWithItsChecks();
    void addAndDeleteExtensions();
    void extensionRefused_data();
    void extensionRefused();

    void startPage_data();
    void startPage();
    void threshold_data();
    void threshold();
    void checkBoxes_data();
    void checkBoxes();
    void filesAtOnce();
    void pageViewAddedToOlderFile();
    void savedFileReadsBackAndKeepsOtherLines();
    void closeRequestsRefused();
    void fitsSmallScreen_data();
    void fitsSmallScreen();
    void saveFailure_data();
    void saveFailure();

    void folderPickers();
    void folderRefused_data();
    void folderRefused();
    void longFolderSavedWhole_data();
    void longFolderSavedWhole();

private:
    template <typename T>
    T *child(frmUtl &dlg, const char *name)
    {
        T *widget = dlg.findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    void writeFile(const QString &name, const QByteArray &bytes);
    QByteArray readFile(const QString &name) const;
    // The raw value after "key=" in KIRO.ini.
    QString iniValue(const QString &key) const;
    QStringList listTexts(frmUtl &dlg);
    QList<int> listChecks(frmUtl &dlg);
    void save(frmUtl &dlg);

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<Message> m_messages;
    kiro::MessageHandler m_previousHandler;
};

void TstFrmUtl::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    kiro::OverrideProgramFolder(m_dir->path());
    kiro::SetAppDirFromProgram();
    QCOMPARE(kiro::AppDir, m_dir->path() + QLatin1Char('/'));
    m_messages.clear();
    m_previousHandler = kiro::SetMessageHandler([this](const QString &text, const QString &title) {
        m_messages.append({text, title});
    });
}

void TstFrmUtl::cleanup()
{
    kiro::SetMessageHandler(m_previousHandler);
    m_dir.reset();
}

void TstFrmUtl::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(kiro::AppDir + name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray TstFrmUtl::readFile(const QString &name) const
{
    QFile file(kiro::AppDir + name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

QString TstFrmUtl::iniValue(const QString &key) const
{
    const QList<QByteArray> lines = readFile(QStringLiteral("KIRO.ini")).split('\n');
    const QByteArray prefix = key.toLatin1() + '=';
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(prefix))
            return QString::fromLatin1(line.mid(prefix.size()));
    }
    return QStringLiteral("<absent>");
}

QStringList TstFrmUtl::listTexts(frmUtl &dlg)
{
    auto *list = child<QListWidget>(dlg, "lstExtsn");
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QList<int> TstFrmUtl::listChecks(frmUtl &dlg)
{
    auto *list = child<QListWidget>(dlg, "lstExtsn");
    QList<int> checks;
    for (int i = 0; i < list->count(); ++i)
        checks.append(list->item(i)->checkState() == Qt::Checked ? 1 : 0);
    return checks;
}

void TstFrmUtl::save(frmUtl &dlg)
{
    child<QPushButton>(dlg, "cmdEnd")->click();
}

// Extension list --------------------------------------------------------------

void TstFrmUtl::openingWithoutExtensionFile()
{
    frmUtl dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("設定"));
    QVERIFY(dlg.isModal());
    QVERIFY(QFileInfo::exists(kiro::AppDir + QStringLiteral("Extsn.fil")));
    QCOMPARE(readFile(QStringLiteral("Extsn.fil")), QByteArray());
    QVERIFY(listTexts(dlg).isEmpty());
    QCOMPARE(kiro::ExtNames, QStringList{QString()});
    QCOMPARE(kiro::ExtChecks, QList<int>{0});

    dlg.show();
    save(dlg);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(readFile(QStringLiteral("Extsn.fil")), QByteArray());
    QVERIFY(m_messages.isEmpty());
}

void TstFrmUtl::listSortedWithItsChecks_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("checks");

    QTest::newRow("reverse order, mixed case")
            << QByteArray("\"zip\",1\r\n\"JPG\",0\r\n\"gif\",1\r\n\"Bmp\",0\r\n\"avi\",1\r\n")
            << QStringList{"avi", "Bmp", "gif", "JPG", "zip"} << QList<int>{1, 0, 1, 0, 1};
    QTest::newRow("only exactly 1 ticks")
            << QByteArray("\"rm\",2\r\n\"ra\",1\r\n\"RAM\",-1\r\n")
            << QStringList{"ra", "RAM", "rm"} << QList<int>{1, 0, 0};
    QTest::newRow("already sorted, no final line end")
            << QByteArray("\"a\",0\r\n\"B\",1\r\n\"c\",0")
            << QStringList{"a", "B", "c"} << QList<int>{0, 1, 0};
}

void TstFrmUtl::listSortedWithItsChecks()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, checks);

    writeFile(QStringLiteral("Extsn.fil"), file);
    frmUtl dlg;
    QCOMPARE(listTexts(dlg), texts);
    QCOMPARE(listChecks(dlg), checks);
    QCOMPARE(kiro::ExtNames, QStringList{QString()} + texts);
    QCOMPARE(kiro::ExtChecks, QList<int>{0} + checks);
    QVERIFY(child<QListWidget>(dlg, "lstExtsn")->selectedItems().isEmpty());

    save(dlg);
    QByteArray expected;
    for (int i = 0; i < texts.size(); ++i)
        expected += '"' + texts.at(i).toLatin1() + "\"," + QByteArray::number(checks.at(i)) + "\r\n";
    QCOMPARE(readFile(QStringLiteral("Extsn.fil")), expected);
}

void TstFrmUtl::addAndDeleteExtensions()
{
    writeFile(QStringLiteral("Extsn.fil"), "\"jpg\",1\r\n\"avi\",1\r\n");
    frmUtl dlg;
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    auto *list = child<QListWidget>(dlg, "lstExtsn");
    auto *text = child<QLineEdit>(dlg, "txtExtsn");
    auto *add = child<QPushButton>(dlg, "cmdAdd");
    auto *del = child<QPushButton>(dlg, "cmdDel");
    QCOMPARE(add->text(), QStringLiteral("<<<<追加"));
    QCOMPARE(del->text(), QStringLiteral("削除>>>>"));

    // Nothing typed, nothing highlighted: nothing happens.
    add->click();
    del->click();
    QCOMPARE(listTexts(dlg), (QStringList{"avi", "jpg"}));

    text->setText(QStringLiteral("GIF"));
    add->click();
    QCOMPARE(listTexts(dlg), (QStringList{"avi", "GIF", "jpg"}));
    QCOMPARE(listChecks(dlg), (QList<int>{1, 0, 1}));
    QVERIFY(text->text().isEmpty());
    QTRY_VERIFY(text->hasFocus());

    // The same text again, and a text kept exactly as typed.
    text->setText(QStringLiteral("GIF"));
    add->click();
    text->setText(QStringLiteral(".Zip "));
    add->click();
    QCOMPARE(listTexts(dlg), (QStringList{".Zip ", "avi", "GIF", "GIF", "jpg"}));

    list->setCurrentRow(4);   // jpg
    QVERIFY(list->item(4)->isSelected());
    del->click();
    QCOMPARE(listTexts(dlg), (QStringList{".Zip ", "avi", "GIF", "GIF"}));
    QTRY_VERIFY(list->hasFocus());
    QVERIFY(list->selectedItems().isEmpty());
    del->click();
    QCOMPARE(list->count(), 4);
    QVERIFY(m_messages.isEmpty());

    save(dlg);
    QCOMPARE(readFile(QStringLiteral("Extsn.fil")),
             QByteArray("\".Zip \",0\r\n\"avi\",1\r\n\"GIF\",0\r\n\"GIF\",0\r\n"));
    QCOMPARE(kiro::ExtNames, (QStringList{"", ".Zip ", "avi", "GIF", "GIF"}));
    QCOMPARE(kiro::ExtChecks, (QList<int>{0, 0, 1, 0, 0}));
}

void TstFrmUtl::extensionRefused_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("message");
    QTest::newRow("double quote") << QStringLiteral("jp\"g") << kQuote;
    QTest::newRow("hangul") << QStringLiteral("한") << kUnencodable + QStringLiteral("（한）");
    QTest::newRow("accented latin") << QStringLiteral("jpé") << kUnencodable + QStringLiteral("（é）");
    QTest::newRow("line break") << QStringLiteral("jp\ng") << kUnencodable + QStringLiteral("（U+000A）");
}

void TstFrmUtl::extensionRefused()
{
    QFETCH(QString, extension);
    QFETCH(QString, message);
    writeFile(QStringLiteral("Extsn.fil"), "\"jpg\",1\r\n");
    frmUtl dlg;
    dlg.show();
    child<QLineEdit>(dlg, "txtExtsn")->setText(extension);
    child<QPushButton>(dlg, "cmdAdd")->click();

    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().text, message);
    QCOMPARE(m_messages.first().title, QStringLiteral("確認"));
    QCOMPARE(listTexts(dlg), QStringList{"jpg"});
    QCOMPARE(child<QLineEdit>(dlg, "txtExtsn")->text(), extension);
    QVERIFY(dlg.isVisible());

    // Japanese text that code page 932 holds is taken.
    child<QLineEdit>(dlg, "txtExtsn")->setText(QStringLiteral("日本"));
    child<QPushButton>(dlg, "cmdAdd")->click();
    QCOMPARE(listTexts(dlg), (QStringList{"jpg", "日本"}));
    save(dlg);
    QCOMPARE(kiro::ReadExtensionFile(kiro::ExtsnFilePath()).last().name, QStringLiteral("日本"));
}

// Settings ---------------------------------------------------------------------

void TstFrmUtl::startPage_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("currentPage");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("readBack");
    QTest::addColumn<QString>("message");

    const QString std = QStringLiteral("http://127.0.0.1/std.html");
    const QString old = QStringLiteral("http://127.0.0.1/old.html");
    QTest::newRow("standard") << "cmdSet2" << QString() << std << std << std << QString();
    QTest::newRow("blank") << "cmdSet3" << QString() << QString() << QString()
                           << kiro::DefaultHomePage << QString();
    QTest::newRow("current page")
            << "cmdSet1" << QStringLiteral("http://127.0.0.1:8080/a.html?x=1")
            << QStringLiteral("http://127.0.0.1:8080/a.html?x=1")
            << QStringLiteral("http://127.0.0.1:8080/a.html?x=1")
            << QStringLiteral("http://127.0.0.1:8080/a.html?x=1") << QString();
    QTest::newRow("current page, percent-encoded")
            << "cmdSet1" << QStringLiteral("http://127.0.0.1/日本/a b.html?q=\"é\"")
            << QStringLiteral("http://127.0.0.1/日本/a b.html?q=\"é\"")
            << QStringLiteral("http://127.0.0.1/%E6%97%A5%E6%9C%AC/a%20b.html?q=%22%C3%A9%22")
            << QStringLiteral("http://127.0.0.1/%E6%97%A5%E6%9C%AC/a%20b.html?q=%22%C3%A9%22")
            << QString();
    // Exactly as long as the settings file gives back: taken whole.
    const QString longest = QStringLiteral("http://127.0.0.1/") + QString(182, QLatin1Char('a'));
    QTest::newRow("current page of 199 characters")
            << "cmdSet1" << longest << longest << longest << longest << QString();
    // One longer: the start page stays.
    QTest::newRow("current page of 200 characters")
            << "cmdSet1" << longest + QLatin1Char('a') << old << old << old
            << QStringLiteral("アドレスが長すぎるため、ホームページに設定できません。");
    QTest::newRow("current page of 200 characters once encoded")
            << "cmdSet1" << QStringLiteral("http://127.0.0.1/") + QString(180, QLatin1Char('a')) + "\""
            << old << old << old
            << QStringLiteral("アドレスが長すぎるため、ホームページに設定できません。");
}

void TstFrmUtl::startPage()
{
    QFETCH(QString, button);
    QFETCH(QString, currentPage);
    QFETCH(QString, shown);
    QFETCH(QString, stored);
    QFETCH(QString, readBack);
    QFETCH(QString, message);

    writeFile(QStringLiteral("KIRO.ini"),
              "[KIRO.set]\r\nStdHpAdrs=http://127.0.0.1/std.html\r\n"
              "FstHpAdrs=http://127.0.0.1/old.html\r\n");
    frmUtl dlg;
    dlg.setCurrentPageProvider([currentPage] { return currentPage; });
    auto *lblHP = child<QLabel>(dlg, "lblHP");
    QCOMPARE(lblHP->text(), QStringLiteral("http://127.0.0.1/old.html"));

    child<QPushButton>(dlg, button.toLatin1().constData())->click();
    QCOMPARE(lblHP->text(), shown);
    QCOMPARE(kiro::FstHpAdrs, shown);

    save(dlg);
    QCOMPARE(iniValue(QStringLiteral("FstHpAdrs")), padded(stored));
    QCOMPARE(kiro::FstHpAdrs, readBack);
    QCOMPARE(kiro::StdHpAdrs, QStringLiteral("http://127.0.0.1/std.html"));
    if (message.isEmpty()) {
        QVERIFY(m_messages.isEmpty());
    } else {
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, message);
    }
}

void TstFrmUtl::threshold_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("boxAfter");
    QTest::addColumn<qint64>("value");

    QTest::newRow("letters") << "abc" << "0000000000" << "0" << qint64(0);
    QTest::newRow("empty") << "" << "0000000000" << "0" << qint64(0);
    QTest::newRow("digits") << "12" << "0000000012" << "12" << qint64(12);
    QTest::newRow("half rounds to even, down") << "2.5" << "0000000002" << "2.5" << qint64(2);
    QTest::newRow("half rounds to even, up") << "3.5" << "0000000004" << "3.5" << qint64(4);
    QTest::newRow("blanks around") << " 7 " << "0000000007" << " 7 " << qint64(7);
    QTest::newRow("full-width digits") << "１２０" << "0000000120" << "１２０" << qint64(120);
    QTest::newRow("negative") << "-5" << "-0000000005" << "-5" << qint64(-5);
    QTest::newRow("beyond ten digits") << "123456789012" << "9999999999" << "123456789012"
                                       << qint64(9999999999LL);
    QTest::newRow("digits then letters") << "12kb" << "0000000000" << "0" << qint64(0);
}

void TstFrmUtl::threshold()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(QString, boxAfter);
    QFETCH(qint64, value);

    writeFile(QStringLiteral("KIRO.ini"), "[KIRO.set]\r\ngrhkb=0000000250\r\n");
    frmUtl dlg;
    auto *box = child<QLineEdit>(dlg, "txtgrhkb");
    QCOMPARE(box->text(), QStringLiteral("250"));
    box->setText(typed);
    save(dlg);
    QCOMPARE(iniValue(QStringLiteral("grhkb")), padded(stored));
    QCOMPARE(box->text(), boxAfter);
    if (value >= 0)
        QCOMPARE(kiro::grhkb, value);
}

void TstFrmUtl::checkBoxes_data()
{
    QTest::addColumn<bool>("subUrl");
    QTest::addColumn<bool>("fileName");
    QTest::addColumn<bool>("pageView");
    QTest::newRow("first ticked") << true << false << false;
    QTest::newRow("second ticked") << false << true << false;
    QTest::newRow("third ticked") << false << false << true;
}

void TstFrmUtl::checkBoxes()
{
    QFETCH(bool, subUrl);
    QFETCH(bool, fileName);
    QFETCH(bool, pageView);

    writeFile(QStringLiteral("KIRO.ini"),
              QByteArray("[KIRO.set]\r\nchkSubURL=") + (subUrl ? "0" : "1")
                      + "\r\nchkFileName=" + (fileName ? "0" : "1")
                      + "\r\nchkPageView=" + (pageView ? "0" : "1") + "\r\n");
    frmUtl dlg;
    auto *sub = child<QCheckBox>(dlg, "ChkSubURL");
    auto *name = child<QCheckBox>(dlg, "ChkFileName");
    auto *view = child<QCheckBox>(dlg, "chkPageView");
    QCOMPARE(view->text(), QStringLiteral("表示中のページからも収集する"));
    QCOMPARE(sub->isChecked(), !subUrl);
    QCOMPARE(name->isChecked(), !fileName);
    QCOMPARE(view->isChecked(), !pageView);
    sub->setChecked(subUrl);
    name->setChecked(fileName);
    view->setChecked(pageView);
    save(dlg);
    QCOMPARE(iniValue(QStringLiteral("chkSubURL")), padded(subUrl ? "1" : "0"));
    QCOMPARE(iniValue(QStringLiteral("chkFileName")), padded(fileName ? "1" : "0"));
    QCOMPARE(iniValue(QStringLiteral("chkPageView")), padded(pageView ? "1" : "0"));
    QCOMPARE(kiro::chkSubURL, subUrl ? 1 : 0);
    QCOMPARE(kiro::chkFileName, fileName ? 1 : 0);
    QCOMPARE(kiro::chkPageView, pageView ? 1 : 0);

    frmUtl again;
    QCOMPARE(child<QCheckBox>(again, "chkPageView")->isChecked(), pageView);
}

// The files fetched at once: shown from KIRO.ini (4 without the key), kept
// within 1 to 8, saved under their own key.
void TstFrmUtl::filesAtOnce()
{
    writeFile(QStringLiteral("KIRO.ini"), QByteArray("[KIRO.set]\r\nchkSubURL=1\r\n"));
    frmUtl dlg;
    auto *box = child<QSpinBox>(dlg, "spnFilesAtOnce");
    QCOMPARE(child<QLabel>(dlg, "lblFilesAtOnce")->text(), QStringLiteral("同時に取得するファイル数"));
    QCOMPARE(box->value(), 4);
    box->setValue(12);
    QCOMPARE(box->value(), 8);
    box->setValue(0);
    QCOMPARE(box->value(), 1);
    box->setValue(6);
    save(dlg);
    QCOMPARE(iniValue(QStringLiteral("FilesAtOnce")), padded("6"));
    QCOMPARE(iniValue(QStringLiteral("chkSubURL")), padded("1"));
    QCOMPARE(kiro::FilesAtOnce, 6);
    frmUtl again;
    QCOMPARE(child<QSpinBox>(again, "spnFilesAtOnce")->value(), 6);
}

// A file written before the page-view option existed reads it as off; the
// next save adds the key at the end of its section and leaves every other
// line as it was.
void TstFrmUtl::pageViewAddedToOlderFile()
{
    writeFile(QStringLiteral("KIRO.ini"), "[KIRO.set]\r\ngrhkb=0000000250\r\n[Tail]\r\ny=2\r\n");
    {
        frmUtl first;
        save(first);
    }
    // The same file as a program without the option wrote it.
    QByteArray older = readFile(QStringLiteral("KIRO.ini"));
    const qsizetype at = older.indexOf("chkPageView=");
    QVERIFY(at > 0);
    older.remove(at, older.indexOf("\r\n", at) + 2 - at);
    writeFile(QStringLiteral("KIRO.ini"), older);

    kiro::chkPageView = 1;
    frmUtl dlg;
    QCOMPARE(kiro::chkPageView, 0);
    auto *view = child<QCheckBox>(dlg, "chkPageView");
    QVERIFY(!view->isChecked());
    view->setChecked(true);
    save(dlg);
    QCOMPARE(kiro::chkPageView, 1);

    QByteArray expected = older;
    expected.insert(expected.indexOf("[Tail]"), "chkPageView=" + padded("1").toLatin1() + "\r\n");
    QCOMPARE(readFile(QStringLiteral("KIRO.ini")), expected);
    kiro::chkPageView = 0;
    kiro::LoadSettings();
    QCOMPARE(kiro::chkPageView, 1);
    QVERIFY(m_messages.isEmpty());
}

void TstFrmUtl::savedFileReadsBackAndKeepsOtherLines()
{
    QVERIFY(QDir().mkdir(kiro::AppDir + QStringLiteral("down")));
    const QByteArray before =
            "; written by hand\r\n"
            "[Other]\r\n"
            "x=1\r\n"
            "[KIRO.set]\r\n"
            "Unknown=keep me\r\n"
            "grhkb=0000000250\r\n"
            "chkSubURL=1\r\n"
            "[Tail]\r\n"
            "y=2\r\n";
    writeFile(QStringLiteral("KIRO.ini"), before);
    frmUtl dlg;
    QCOMPARE(child<QCheckBox>(dlg, "ChkSubURL")->isChecked(), true);

    const QString down = kiro::AppDir + QStringLiteral("down");
    QVERIFY(child<DirListBox>(dlg, "DirLB")->setPath(down));
    QCOMPARE(child<QLabel>(dlg, "lblFstDir")->text(), down);
    child<QLineEdit>(dlg, "txtgrhkb")->setText(QStringLiteral("30"));
    child<QCheckBox>(dlg, "ChkFileName")->setChecked(true);
    child<QPushButton>(dlg, "cmdSet2")->click();
    save(dlg);

    const QString stdHp = kiro::StdHpAdrs;
    const QString fstHp = kiro::FstHpAdrs;
    QCOMPARE(kiro::FstDir, down);
    QCOMPARE(kiro::grhkb, qint64(30));
    QCOMPARE(kiro::chkSubURL, 1);
    QCOMPARE(kiro::chkFileName, 1);

    // Every line the dialog does not own is still there, in its place.
    const QByteArray after = readFile(QStringLiteral("KIRO.ini"));
    QVERIFY(after.startsWith("; written by hand\r\n[Other]\r\nx=1\r\n[KIRO.set]\r\nUnknown=keep me\r\n"));
    QVERIFY(after.endsWith("[Tail]\r\ny=2\r\n"));
    QCOMPARE(iniValue(QStringLiteral("FstDir")), padded(down));

    kiro::StdHpAdrs.clear();
    kiro::FstHpAdrs.clear();
    kiro::FstDir.clear();
    kiro::grhkb = -1;
    kiro::chkSubURL = kiro::chkFileName = -1;
    kiro::LoadSettings();
    QCOMPARE(kiro::StdHpAdrs, stdHp);
    QCOMPARE(kiro::FstHpAdrs, stdHp);
    QCOMPARE(kiro::FstHpAdrs, fstHp);
    QCOMPARE(kiro::FstDir, down);
    QCOMPARE(kiro::grhkb, qint64(30));
    QCOMPARE(kiro::chkSubURL, 1);
    QCOMPARE(kiro::chkFileName, 1);

    // Opening again shows what was saved.
    frmUtl again;
    QCOMPARE(child<QLabel>(again, "lblFstDir")->text(), down);
    QCOMPARE(child<DirListBox>(again, "DirLB")->path(), down);
    QCOMPARE(child<QLineEdit>(again, "txtgrhkb")->text(), QStringLiteral("30"));
    QVERIFY(child<QCheckBox>(again, "ChkFileName")->isChecked());
    QVERIFY(m_messages.isEmpty());
}

void TstFrmUtl::closeRequestsRefused()
{
    writeFile(QStringLiteral("Extsn.fil"), "\"jpg\",1\r\n");
    frmUtl dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    child<QLineEdit>(dlg, "txtExtsn")->setText(QStringLiteral("png"));
    child<QLineEdit>(dlg, "txtgrhkb")->setText(QStringLiteral("77"));
    child<QCheckBox>(dlg, "ChkSubURL")->setChecked(true);
    child<QListWidget>(dlg, "lstExtsn")->item(0)->setCheckState(Qt::Unchecked);

    QVERIFY(!dlg.close());
    QVERIFY(dlg.isVisible());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().text, QStringLiteral("このボタンでは終了できません。"));
    QCOMPARE(m_messages.first().title, QStringLiteral("確認"));

    // Esc is no way out either.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());

    QCOMPARE(child<QLineEdit>(dlg, "txtExtsn")->text(), QStringLiteral("png"));
    QCOMPARE(child<QLineEdit>(dlg, "txtgrhkb")->text(), QStringLiteral("77"));
    QVERIFY(child<QCheckBox>(dlg, "ChkSubURL")->isChecked());
    QCOMPARE(listChecks(dlg), QList<int>{0});
    QCOMPARE(readFile(QStringLiteral("Extsn.fil")), QByteArray("\"jpg\",1\r\n"));
    QVERIFY(!QFileInfo::exists(kiro::AppDir + QStringLiteral("KIRO.ini")));

    save(dlg);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(readFile(QStringLiteral("Extsn.fil")), QByteArray("\"jpg\",0\r\n"));
}

void TstFrmUtl::saveFailure_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<QList<int>>("answers");   // to each question in turn
    QTest::addColumn<bool>("wayCleared");      // before the first "再試行"
    QTest::newRow("settings file, left unsaved") << QStringLiteral("KIRO.ini") << QList<int>{1} << false;
    QTest::newRow("extension file, left unsaved") << QStringLiteral("Extsn.fil") << QList<int>{1} << false;
    QTest::newRow("extension file, tried again, then left") << QStringLiteral("Extsn.fil")
                                                             << QList<int>{0, 0, 1} << false;
    QTest::newRow("settings file, tried again once the way is clear")
            << QStringLiteral("KIRO.ini") << QList<int>{0} << true;
    QTest::newRow("extension file, tried again once the way is clear")
            << QStringLiteral("Extsn.fil") << QList<int>{0} << true;
    QTest::newRow("extension file, no answer") << QStringLiteral("Extsn.fil") << QList<int>{-1} << false;
}

// A save that cannot write its files never traps the user and never leaves
// one file new and the other old.
void TstFrmUtl::saveFailure()
{
    QFETCH(QString, blocked);
    QFETCH(QList<int>, answers);
    QFETCH(bool, wayCleared);
    const QByteArray iniBefore = "[Other]\r\nx=1\r\n[KIRO.set]\r\nUnknown=keep me\r\ngrhkb=0000000250\r\n";
    const QByteArray listBefore = "\"jpg\",1\r\n";
    writeFile(QStringLiteral("KIRO.ini"), iniBefore);
    writeFile(QStringLiteral("Extsn.fil"), listBefore);
    frmUtl dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // A folder where the file should be: it cannot be written, even by root.
    QVERIFY(QFile::remove(kiro::AppDir + blocked));
    QVERIFY(QDir().mkdir(kiro::AppDir + blocked));

    child<QLineEdit>(dlg, "txtExtsn")->setText(QStringLiteral("png"));
    child<QPushButton>(dlg, "cmdAdd")->click();
    child<QLineEdit>(dlg, "txtgrhkb")->setText(QStringLiteral("30"));
    child<QPushButton>(dlg, "cmdSet3")->click();
    QCOMPARE(kiro::FstHpAdrs, QString());

    QList<Message> questions;
    QStringList choices;
    const kiro::QuestionHandler previous = kiro::SetQuestionHandler(
            [&](const QString &text, const QString &title, const QStringList &offered) {
        questions.append({text, title});
        choices = offered;
        const int answer = answers.value(questions.size() - 1, -1);
        if (answer == 0 && wayCleared)
            QDir().rmdir(kiro::AppDir + blocked);
        return answer;
    });
    save(dlg);
    kiro::SetQuestionHandler(previous);

    QCOMPARE(questions.size(), answers.size());
    QCOMPARE(choices, (QStringList{QStringLiteral("再試行"), QStringLiteral("保存せずに終了")}));
    for (const Message &question : std::as_const(questions)) {
        QVERIFY2(question.text.startsWith(QStringLiteral("設定を保存できませんでした。")),
                 qPrintable(question.text));
        QVERIFY(question.text.contains(blocked));
        QCOMPARE(question.title, QStringLiteral("確認"));
    }
    QVERIFY(m_messages.isEmpty());

    if (wayCleared) {
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(readFile(QStringLiteral("Extsn.fil")), QByteArray("\"jpg\",1\r\n\"png\",0\r\n"));
        QCOMPARE(iniValue(QStringLiteral("grhkb")), padded(QStringLiteral("0000000030")));
        if (blocked == QLatin1String("Extsn.fil"))
            QVERIFY(readFile(QStringLiteral("KIRO.ini")).startsWith(
                    "[Other]\r\nx=1\r\n[KIRO.set]\r\nUnknown=keep me\r\n"));
        QCOMPARE(kiro::grhkb, qint64(30));
        return;
    }
    // Neither file changed; the one that was not in the way is as it was.
    QVERIFY(QFileInfo(kiro::AppDir + blocked).isDir());
    const QString other = blocked == QLatin1String("KIRO.ini") ? QStringLiteral("Extsn.fil")
                                                               : QStringLiteral("KIRO.ini");
    QCOMPARE(readFile(other), blocked == QLatin1String("KIRO.ini") ? listBefore : iniBefore);
    if (answers.last() == 1) {
        // Left without saving: the settings are what the files hold.
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(kiro::FstHpAdrs, kiro::DefaultHomePage);
        QCOMPARE(kiro::grhkb, blocked == QLatin1String("KIRO.ini") ? qint64(1) : qint64(250));
    } else {
        // No answer: back in the dialog with every edit in place.
        QVERIFY(dlg.isVisible());
        QCOMPARE(listTexts(dlg), (QStringList{"jpg", "png"}));
        QCOMPARE(child<QLineEdit>(dlg, "txtgrhkb")->text(), QStringLiteral("30"));
        QCOMPARE(kiro::FstHpAdrs, QString());
    }
}

void TstFrmUtl::fitsSmallScreen_data()
{
    QTest::addColumn<QSize>("size");
    // 1024 × 600 less a 40-pixel panel, a title bar and window borders; the
    // smallest the dialog allows; the size it opens with.
    QTest::newRow("1024 x 600 with a panel") << QSize(1000, 520);
    QTest::newRow("its minimum") << QSize(0, 0);
    QTest::newRow("as it opens") << QSize();
}

// On a small screen every control, "終了" first of all, is on screen and
// large enough to use.
void TstFrmUtl::fitsSmallScreen()
{
    QFETCH(QSize, size);
    writeFile(QStringLiteral("Extsn.fil"), "\"avi\",1\r\n\"bmp\",1\r\n\"gif\",1\r\n\"jpeg\",1\r\n");
    frmUtl dlg;
    const QSize minimum = dlg.minimumSizeHint().expandedTo(dlg.minimumSize());
    QVERIFY2(minimum.width() <= 1000 && minimum.height() <= 520,
             qPrintable(QStringLiteral("%1 x %2").arg(minimum.width()).arg(minimum.height())));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    if (size.isValid()) {
        const QSize wanted = size.isEmpty() ? minimum : size;
        dlg.resize(wanted);
        QTRY_COMPARE(dlg.size(), wanted);
    } else {
        // A window opens at most two thirds of the screen, never below its
        // minimum.
        QVERIFY(dlg.screen()->availableGeometry().contains(dlg.geometry()));
    }

    const QRect visible = dlg.rect();
    for (const char *name : {"Frame1", "Label1", "lblHP", "cmdSet1", "cmdSet2", "cmdSet3", "Frame2",
                             "Label2", "lblFstDir", "Drive", "DirLB", "Label4", "Label6", "lstExtsn",
                             "Label5", "txtExtsn", "cmdAdd", "cmdDel", "txtgrhkb", "Label3",
                             "ChkSubURL", "ChkFileName", "Label7", "chkPageView", "Line1",
                             "Line2", "cmdEnd"}) {
        auto *control = child<QWidget>(dlg, name);
        QVERIFY2(control->isVisible(), name);
        const QRect area(control->mapTo(&dlg, QPoint(0, 0)), control->size());
        QVERIFY2(visible.contains(area), qPrintable(QStringLiteral("%1 at %2,%3 %4 x %5").arg(name)
                 .arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height())));
        const QSize needed = control->minimumSizeHint();
        QVERIFY2(qobject_cast<QFrame *>(control) && !qobject_cast<QLabel *>(control)
                         ? area.height() > 0 : (area.width() >= qMin(needed.width(), 40)
                                                && area.height() >= needed.height()),
                 name);
    }
}

// Drive and folder ---------------------------------------------------------------

void TstFrmUtl::folderPickers()
{
    const QString base = QDir::toNativeSeparators(m_dir->path());
    const QString sub = base + QStringLiteral("/Sub");
    QVERIFY(QDir().mkpath(sub + QStringLiteral("/deeper")));
    QVERIFY(QDir().mkdir(base + QStringLiteral("/another")));

    frmUtl dlg;
    dlg.resize(700, 800);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto *dirLB = child<DirListBox>(dlg, "DirLB");
    auto *drive = child<DriveListBox>(dlg, "Drive");
    auto *lblFstDir = child<QLabel>(dlg, "lblFstDir");

    // Opened on the loaded folder, which stays as it was loaded.
    QCOMPARE(dirLB->path(), base);
    QCOMPARE(kiro::FstDir, kiro::AppDir);
    QCOMPARE(lblFstDir->text(), kiro::AppDir);
    QCOMPARE(drive->drive(), kiro::VolumeRootOf(base));
    QVERIFY(drive->count() >= 1);

    // The sub-folders follow the open folder, without regard to case.
    QStringList shown;
    for (int i = 0; i < dirLB->count(); ++i)
        shown.append(dirLB->item(i)->text().trimmed());
    QVERIFY(shown.indexOf(QStringLiteral("another")) >= 0);
    QVERIFY(shown.indexOf(QStringLiteral("another")) < shown.indexOf(QStringLiteral("Sub")));

    // A click only highlights; a double click opens.
    QListWidgetItem *subItem = nullptr;
    for (int i = 0; i < dirLB->count(); ++i) {
        if (dirLB->item(i)->text().trimmed() == QStringLiteral("Sub"))
            subItem = dirLB->item(i);
    }
    QVERIFY(subItem);
    const QPoint at = dirLB->visualItemRect(subItem).center();
    QTest::mouseClick(dirLB->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(kiro::FstDir, kiro::AppDir);
    QTest::mouseDClick(dirLB->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(dirLB->path(), sub);
    QCOMPARE(kiro::FstDir, sub);
    QCOMPARE(lblFstDir->text(), sub);

    // A volume that cannot be opened: back to the folder, silently.
    drive->addItem(QStringLiteral("q: [no medium]"), QStringLiteral("/no-such-volume-kiro"));
    dlg.Drive_Change(drive->count() - 1);
    QCOMPARE(dirLB->path(), sub);
    QCOMPARE(kiro::FstDir, sub);
    QCOMPARE(lblFstDir->text(), sub);
    QCOMPARE(drive->drive(), kiro::VolumeRootOf(sub));

    // Picking the drive already shown stays in the open folder.
    const int current = drive->currentIndex();
    QCOMPARE(drive->driveAt(current), kiro::VolumeRootOf(sub));
    dlg.Drive_Change(current);
    QCOMPARE(dirLB->path(), sub);
    QCOMPARE(kiro::FstDir, sub);

    // Another volume (here a folder standing in for one) opens at its root.
    const QString other = base + QStringLiteral("/another");
    drive->addItem(QStringLiteral("v:"), other);
    dlg.Drive_Change(drive->count() - 1);
    QCOMPARE(dirLB->path(), other);
    QCOMPARE(kiro::FstDir, other);
    QCOMPARE(lblFstDir->text(), other);
    QVERIFY(m_messages.isEmpty());
}

void TstFrmUtl::folderRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("accented latin") << QStringLiteral("é") << kUnencodable + QStringLiteral("（é）");
    QTest::newRow("hangul") << QStringLiteral("한") << kUnencodable + QStringLiteral("（한）");
    // Stored as ～, the path would name another folder.
    QTest::newRow("wave dash") << QStringLiteral("東京\u301C大阪")
                               << kUnencodable + QStringLiteral("（\u301C）");
    // Longer than the settings file gives back.
    QTest::newRow("too long") << QString(200, QLatin1Char('L'))
                              << QStringLiteral("フォルダのパスが長すぎるため、設定できません。");
}

void TstFrmUtl::folderRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    const QString good = kiro::AppDir + QStringLiteral("日本");
    const QString bad = kiro::AppDir + name;
    QVERIFY(QDir().mkdir(good));
    QVERIFY(QDir().mkdir(bad));

    frmUtl dlg;
    auto *dirLB = child<DirListBox>(dlg, "DirLB");
    auto *lblFstDir = child<QLabel>(dlg, "lblFstDir");
    QVERIFY(dirLB->setPath(good));
    QCOMPARE(kiro::FstDir, good);

    dirLB->setPath(bad);
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().text, message);
    QCOMPARE(m_messages.first().title, QStringLiteral("確認"));
    QCOMPARE(kiro::FstDir, good);
    QCOMPARE(lblFstDir->text(), good);
    QCOMPARE(dirLB->path(), good);

    save(dlg);
    QCOMPARE(kiro::FstDir, good);
    QVERIFY(!dlg.isVisible());
}

void TstFrmUtl::longFolderSavedWhole_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("taken");
    QTest::newRow("150 characters") << 150 << true;
    QTest::newRow("199 characters: as long as the settings file gives back") << 199 << true;
    QTest::newRow("200 characters") << 200 << false;
}

void TstFrmUtl::longFolderSavedWhole()
{
    QFETCH(int, length);
    QFETCH(bool, taken);
    QString folder = QDir::toNativeSeparators(m_dir->path());
    while (folder.size() < length) {
        const int left = length - folder.size() - 1;
        const int length = left > 60 ? qMin(50, left - 10) : left;
        folder += QLatin1Char('/') + QString(length, QLatin1Char('d'));
    }
    QCOMPARE(folder.size(), length);
    QVERIFY(QDir().mkpath(folder));

    frmUtl dlg;
    const QString before = kiro::FstDir;
    child<DirListBox>(dlg, "DirLB")->setPath(folder);
    QCOMPARE(kiro::FstDir, taken ? folder : before);
    save(dlg);
    QCOMPARE(iniValue(QStringLiteral("FstDir")), padded(kiro::FstDir));

    kiro::FstDir.clear();
    kiro::LoadSettings();
    QCOMPARE(kiro::FstDir, taken ? folder : before);
    if (taken) {
        QVERIFY(m_messages.isEmpty());
    } else {
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, QStringLiteral("フォルダのパスが長すぎるため、設定できません。"));
    }
}

QTEST_MAIN(TstFrmUtl)
#include "tst_frmutl.moc"
