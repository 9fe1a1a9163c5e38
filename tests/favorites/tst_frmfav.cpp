#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "favorites/frmFav.h"
#include "favorites/frmFavAdd.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace kiro;

namespace {

struct Added {
    QString name;
    QString address;
};

} // namespace

Q_DECLARE_METATYPE(Added)

namespace {

QByteArray Cp932(const QString &s)
{
    QStringEncoder encoder("CP932");
    return encoder.encode(s);
}

QStringList Items(const frmFav &fav, const char *list)
{
    QStringList items;
    const auto *w = fav.findChild<QListWidget *>(QLatin1String(list));
    for (int i = 0; i < w->count(); ++i)
        items.append(w->item(i)->text());
    return items;
}

QPushButton *Button(const QWidget &w, const char *name)
{
    return w.findChild<QPushButton *>(QLatin1String(name));
}

// Highlights a name the way the user does, with a click on it.
void ClickName(frmFav &fav, int row)
{
    auto *list = fav.findChild<QListWidget *>(QStringLiteral("lstFav"));
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

} // namespace

class TestFrmFav : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void firstOpeningCreatesEmptyFile();
    void addedFavoriteIsStoredShownAndDisplayed();
    void endLeavesFavAdrsAndAddsNothing();
    void deletingTheOnlyFavoriteEmptiesTheFile();
    void namesKeepTheirAddresses_data();
    void namesKeepTheirAddresses();
    void refusedNames_data();
    void refusedNames();
    void addressStoredPercentEncoded();
    void closeRequestsRefused();
    void failedSaveIsReported();

private:
    // Runs "追加" of the favorites window; action is applied to the add
    // dialog once it is up. Returns whether the dialog was still open after
    // the action (it is then ended with "終了").
    bool RunAddDialog(frmFav &fav, const std::function<void(frmFavAdd *)> &action,
                      QString *textLeft = nullptr);
    void AddFavorite(frmFav &fav, const QString &name, const QString &address);
    QByteArray FileBytes() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_messages;
    QString m_address;
};

void TestFrmFav::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    OverrideProgramFolder(m_dir->path());
    SetAppDirFromProgram();
    QCOMPARE(QDir(AppDir).canonicalPath(), QDir(m_dir->path()).canonicalPath());
    m_messages.clear();
    SetMessageHandler([this](const QString &text, const QString &title) {
        m_messages.append(title + QLatin1Char('|') + text);
    });
    frmFavAdd::SetAddressProvider([this] { return m_address; });
    FavAdrs = QStringLiteral("http://127.0.0.1/current");
}

void TestFrmFav::cleanup()
{
    frmFavAdd::SetAddressProvider({});
    SetMessageHandler({});
    m_dir.reset();
}

bool TestFrmFav::RunAddDialog(frmFav &fav, const std::function<void(frmFavAdd *)> &action,
                              QString *textLeft)
{
    bool stayedOpen = false;
    bool acted = false;
    int tries = 0;
    std::function<void()> poll;
    poll = [&] {
        auto *dialog = qobject_cast<frmFavAdd *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (++tries < 500)
                QTimer::singleShot(10, &fav, poll);
            return;
        }
        acted = true;
        action(dialog);
        stayedOpen = dialog->isVisible();
        if (stayedOpen) {
            if (textLeft)
                *textLeft = dialog->findChild<QLineEdit *>(QStringLiteral("txtFav"))->text();
            dialog->cmdEnd_Click();
        }
    };
    QTimer::singleShot(0, &fav, poll);
    fav.cmdAdd_Click();
    [&] { QVERIFY2(acted, "the add dialog never came up"); }();
    return stayedOpen;
}

void TestFrmFav::AddFavorite(frmFav &fav, const QString &name, const QString &address)
{
    m_address = address;
    const bool stayedOpen = RunAddDialog(fav, [&](frmFavAdd *dialog) {
        auto *txtFav = dialog->findChild<QLineEdit *>(QStringLiteral("txtFav"));
        QVERIFY(txtFav->text().isEmpty());
        txtFav->setText(name);
        QTest::keyClick(txtFav, Qt::Key_Return);
    });
    QVERIFY(!stayedOpen);
}

QByteArray TestFrmFav::FileBytes() const
{
    QFile file(FavFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void TestFrmFav::firstOpeningCreatesEmptyFile()
{
    QVERIFY(!QFileInfo::exists(FavFilePath()));
    frmFav fav;
    QCOMPARE(fav.windowTitle(), QStringLiteral("お気に入り"));
    QVERIFY(fav.isModal());
    QVERIFY(QFileInfo::exists(FavFilePath()));
    QCOMPARE(QFileInfo(FavFilePath()).size(), 0);
    QVERIFY(Items(fav, "lstFav").isEmpty());
    QVERIFY(!Button(fav, "cmdDel")->isEnabled());
    QVERIFY(!Button(fav, "cmdDisp")->isEnabled());

    QCOMPARE(Button(fav, "cmdDisp")->text(), QStringLiteral("ＵＲＬ表示"));
    QCOMPARE(Button(fav, "cmdAdd")->text(), QStringLiteral("追加"));
    QCOMPARE(Button(fav, "cmdDel")->text(), QStringLiteral("削除"));
    QCOMPARE(Button(fav, "cmdDel")->toolTip(), QStringLiteral("削除する名称を選択して下さい"));
    QCOMPARE(Button(fav, "cmdEnd")->text(), QStringLiteral("終了"));
    fav.show();
    QVERIFY(!fav.findChild<QListWidget *>(QStringLiteral("lstAdrs"))->isVisible());

    frmFavAdd add(&fav);
    QCOMPARE(add.windowTitle(), QStringLiteral("お気に入りの追加"));
    QVERIFY(add.isModal());
    QCOMPARE(add.findChild<QLabel *>(QStringLiteral("Label1"))->text(),
             QStringLiteral("このページがお気に入りに追加されます"));
    QCOMPARE(add.findChild<QLabel *>(QStringLiteral("Label2"))->text(), QStringLiteral("名前"));
    QVERIFY(add.findChild<QLineEdit *>(QStringLiteral("txtFav"))->text().isEmpty());
    QCOMPARE(Button(add, "cmdAdd")->text(), QStringLiteral("追加"));
    QCOMPARE(Button(add, "cmdEnd")->text(), QStringLiteral("終了"));
    add.cmdEnd_Click();
    QVERIFY(m_messages.isEmpty());
}

void TestFrmFav::addedFavoriteIsStoredShownAndDisplayed()
{
    const QString address = QStringLiteral("http://127.0.0.1:8080/page.html");
    {
        frmFav fav;
        AddFavorite(fav, QStringLiteral("N"), address);
        QCOMPARE(FileBytes(), QByteArray("\"N\",\"N@@http://127.0.0.1:8080/page.html\"\r\n"));
        fav.cmdEnd_Click();
    }
    frmFav fav;
    fav.show();
    QCOMPARE(Items(fav, "lstFav"), QStringList{QStringLiteral("N")});

    // Without a highlighted name "ＵＲＬ表示" does nothing.
    fav.cmdDisp_Click();
    QVERIFY(fav.isVisible());
    QCOMPARE(FavAdrs, QStringLiteral("http://127.0.0.1/current"));

    ClickName(fav, 0);
    QVERIFY(Button(fav, "cmdDisp")->isEnabled());
    QVERIFY(Button(fav, "cmdDel")->isEnabled());
    QTest::mouseClick(Button(fav, "cmdDisp"), Qt::LeftButton);
    QCOMPARE(FavAdrs, address);
    QVERIFY(!fav.isVisible());
    QCOMPARE(fav.result(), int(QDialog::Accepted));
    QVERIFY(m_messages.isEmpty());
}

void TestFrmFav::endLeavesFavAdrsAndAddsNothing()
{
    frmFav fav;
    fav.show();
    AddFavorite(fav, QStringLiteral("kept"), QStringLiteral("http://127.0.0.1/kept"));
    const QByteArray before = FileBytes();

    const bool stayedOpen = RunAddDialog(fav, [](frmFavAdd *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("txtFav"))->setText(QStringLiteral("not added"));
        QTest::mouseClick(Button(*dialog, "cmdEnd"), Qt::LeftButton);
    });
    QVERIFY(!stayedOpen);
    QCOMPARE(Items(fav, "lstFav"), QStringList{QStringLiteral("kept")});
    QCOMPARE(FileBytes(), before);

    ClickName(fav, 0);
    QTest::mouseClick(Button(fav, "cmdEnd"), Qt::LeftButton);
    QVERIFY(!fav.isVisible());
    QCOMPARE(FavAdrs, QStringLiteral("http://127.0.0.1/current"));
    QCOMPARE(FileBytes(), before);
}

void TestFrmFav::deletingTheOnlyFavoriteEmptiesTheFile()
{
    frmFav fav;
    fav.show();
    AddFavorite(fav, QStringLiteral("only"), QStringLiteral("http://127.0.0.1/"));
    QVERIFY(QFileInfo(FavFilePath()).size() > 0);

    fav.cmdDel_Click();   // nothing highlighted: nothing happens
    QCOMPARE(Items(fav, "lstFav").size(), 1);

    ClickName(fav, 0);
    QTest::mouseClick(Button(fav, "cmdDel"), Qt::LeftButton);
    QVERIFY(Items(fav, "lstFav").isEmpty());
    QVERIFY(Items(fav, "lstAdrs").isEmpty());
    QCOMPARE(QFileInfo(FavFilePath()).size(), 0);
    QVERIFY(fav.findChild<QListWidget *>(QStringLiteral("lstFav"))->selectedItems().isEmpty());
    QVERIFY(Button(fav, "cmdDel")->isEnabled());
    QVERIFY(m_messages.isEmpty());
}

void TestFrmFav::namesKeepTheirAddresses_data()
{
    QTest::addColumn<QList<Added>>("added");
    QTest::addColumn<QList<int>>("order");   // positions in `added`, as listed

    QTest::newRow("kiwi apple melon")
            << QList<Added>{{"kiwi", "http://h/k"}, {"apple", "http://h/a"}, {"melon", "http://h/m"}}
            << QList<int>{1, 0, 2};
    QTest::newRow("one name begins another")
            << QList<Added>{{"abc def", "http://h/long"}, {"abc", "http://h/short"}, {"abc", "http://h/again"}}
            << QList<int>{1, 2, 0};
    QTest::newRow("letter case ignored")
            << QList<Added>{{"apple", "http://h/1"}, {"Banana", "http://h/2"}, {"APPLE", "http://h/3"}}
            << QList<int>{0, 2, 1};
    QTest::newRow("same name twice")
            << QList<Added>{{"dup", "http://h/first"}, {"dup", "http://h/second"}}
            << QList<int>{0, 1};
    QTest::newRow("comma, japanese, blanks")
            << QList<Added>{{"b, c", "http://h/comma"},
                            {QStringLiteral("日本語の名前"), "http://h/ja"},
                            {"  a  ", "http://h/blanks"}}
            << QList<int>{2, 0, 1};
}

void TestFrmFav::namesKeepTheirAddresses()
{
    QFETCH(QList<Added>, added);
    QFETCH(QList<int>, order);

    QStringList names, entries;
    QByteArray lines;
    for (int i : order) {
        names.append(added.at(i).name);
        entries.append(added.at(i).name + QStringLiteral("@@") + added.at(i).address);
        lines += Cp932(QLatin1Char('"') + names.last() + QStringLiteral("\",\"") + entries.last()
                       + QStringLiteral("\"\r\n"));
    }
    {
        frmFav fav;
        for (const Added &a : added)
            AddFavorite(fav, a.name, a.address);
        QCOMPARE(Items(fav, "lstFav"), names);
        QCOMPARE(Items(fav, "lstAdrs"), entries);
        QCOMPARE(FileBytes(), lines);
        fav.cmdEnd_Click();
    }
    frmFav reopened;
    reopened.show();
    QCOMPARE(Items(reopened, "lstFav"), names);
    QCOMPARE(Items(reopened, "lstAdrs"), entries);

    // Each name, clicked, hands back its own address.
    for (int row = 0; row < order.size(); ++row) {
        frmFav fav;
        fav.show();
        ClickName(fav, row);
        fav.cmdDisp_Click();
        QCOMPARE(FavAdrs, added.at(order.at(row)).address);
    }
    QCOMPARE(FileBytes(), lines);
}

void TestFrmFav::refusedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("double quote") << "a \"quoted\" page"
                                  << QStringLiteral("確認|名前に「\"」や「@@」は使用できません。");
    QTest::newRow("@@") << "mail@@home" << QStringLiteral("確認|名前に「\"」や「@@」は使用できません。");
    QTest::newRow("not in code page 932") << QStringLiteral("café 한국")
                                          << QStringLiteral("確認|保存できない文字が含まれています。（é）");
    QTest::newRow("line break") << "two\nlines"
                                << QStringLiteral("確認|保存できない文字が含まれています。（U+000A）");
    QTest::newRow("typed by a Linux input method: accepted") << QStringLiteral("東京\u301C大阪")
                                                             << QStringLiteral("added");
    QTest::newRow("one @ and a comma: accepted") << "a@b, c" << QStringLiteral("added");
    QTest::newRow("blanks only: silently ignored") << "   " << QString();
    QTest::newRow("empty: silently ignored") << "" << QString();
}

void TestFrmFav::refusedNames()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    m_address = QStringLiteral("http://127.0.0.1/");
    frmFav fav;
    QString textLeft;
    const bool stayedOpen = RunAddDialog(fav, [&](frmFavAdd *dialog) {
        auto *txtFav = dialog->findChild<QLineEdit *>(QStringLiteral("txtFav"));
        txtFav->setText(name);
        QTest::keyClick(txtFav, Qt::Key_Return);
        if (dialog->isVisible())
            QTest::mouseClick(Button(*dialog, "cmdAdd"), Qt::LeftButton);
    }, &textLeft);
    if (message == QLatin1String("added")) {
        QVERIFY(!stayedOpen);
        QCOMPARE(Items(fav, "lstFav"), QStringList{name});
        return;
    }
    QVERIFY(stayedOpen);
    QCOMPARE(textLeft, name);
    QCOMPARE(m_messages, (message.isEmpty() ? QStringList() : QStringList({message, message})));
    QVERIFY(Items(fav, "lstFav").isEmpty());
    QCOMPARE(QFileInfo(FavFilePath()).size(), 0);
}

void TestFrmFav::addressStoredPercentEncoded()
{
    const QString encoded = QStringLiteral("http://127.0.0.1:8080/%E6%97%A5%E6%9C%AC/a%22b.html?q=%E8%AA%9E");
    {
        frmFav fav;
        AddFavorite(fav, QStringLiteral("日本"),
                    QStringLiteral("http://127.0.0.1:8080/日本/a\"b.html?q=語"));
        fav.cmdEnd_Click();
    }
    QCOMPARE(FileBytes(), Cp932(QStringLiteral("\"日本\",\"日本@@") + encoded + QStringLiteral("\"\r\n")));
    frmFav fav;
    fav.show();
    ClickName(fav, 0);
    fav.cmdDisp_Click();
    QCOMPARE(FavAdrs, encoded);
}

void TestFrmFav::closeRequestsRefused()
{
    const QString refusal = QStringLiteral("確認|このボタンでは終了できません。");
    frmFav fav;
    fav.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fav));
    fav.close();
    QVERIFY(fav.isVisible());
    // Esc is no way out either, and says nothing.
    QTest::keyClick(&fav, Qt::Key_Escape);
    QVERIFY(fav.isVisible());
    QCOMPARE(m_messages, QStringList({refusal}));

    m_messages.clear();
    QString textLeft;
    const bool stayedOpen = RunAddDialog(fav, [&](frmFavAdd *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("txtFav"))->setText(QStringLiteral("typed"));
        dialog->close();
        QTest::keyClick(dialog, Qt::Key_Escape);
    }, &textLeft);
    QVERIFY(stayedOpen);
    QCOMPARE(textLeft, QStringLiteral("typed"));
    QCOMPARE(m_messages, QStringList({refusal}));
    QVERIFY(Items(fav, "lstFav").isEmpty());
}

void TestFrmFav::failedSaveIsReported()
{
    // Fav.fil that cannot be read is never overwritten with an empty list.
    QVERIFY(QDir(AppDir).mkdir(QStringLiteral("Fav.fil")));
    {
        frmFav fav;
        QCOMPARE(m_messages.size(), 1);
        AddFavorite(fav, QStringLiteral("x"), QStringLiteral("http://127.0.0.1/"));
        QCOMPARE(m_messages.size(), 2);
        QVERIFY(m_messages.last().contains(QStringLiteral("お気に入りを保存できませんでした。")));
        QVERIFY(QFileInfo(FavFilePath()).isDir());
    }
    QVERIFY(QDir(AppDir).rmdir(QStringLiteral("Fav.fil")));

    // A folder that has gone away cannot be written.
    m_messages.clear();
    frmFav fav;
    QVERIFY(m_messages.isEmpty());
    QVERIFY(QDir(AppDir).removeRecursively());
    AddFavorite(fav, QStringLiteral("y"), QStringLiteral("http://127.0.0.1/"));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().startsWith(QStringLiteral("確認|お気に入りを保存できませんでした。")));
    QCOMPARE(Items(fav, "lstFav"), QStringList{QStringLiteral("y")});
}

QTEST_MAIN(TestFrmFav)
#include "tst_frmfav.moc"
