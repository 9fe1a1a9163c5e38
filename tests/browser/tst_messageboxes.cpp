// The program's messages and questions as the user meets them: modal boxes
// with the given text, title and buttons.
#include "browser/MessageBoxHandler.h"
#include "core/MessageSeam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs act on the modal box once it is up.
void OnBox(const std::function<void(QMessageBox *)> &act)
{
    QTimer::singleShot(0, [act] {
        QMessageBox *box = nullptr;
        const bool up = QTest::qWaitFor([&] {
            box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            return box && box->isVisible();
        }, 5000);
        act(up ? box : nullptr);
    });
}

QStringList ButtonTexts(QMessageBox *box)
{
    QStringList texts;
    for (QAbstractButton *button : box->buttons())
        texts.append(button->text());
    return texts;
}

} // namespace

class TestMessageBoxes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { InstallMessageBoxHandler(); }
    void message();
    void question_data();
    void question();
};

void TestMessageBoxes::message()
{
    QStringList buttons;
    QString title, text;
    OnBox([&](QMessageBox *box) {
        QVERIFY(box);
        buttons = ButtonTexts(box);
        title = box->windowTitle();
        text = box->text();
        box->buttons().first()->click();
    });
    kiro::ShowMessage(QStringLiteral("このボタンでは終了できません。"));
    QCOMPARE(title, QStringLiteral("確認"));
    QCOMPARE(text, QStringLiteral("このボタンでは終了できません。"));
    QCOMPARE(buttons.size(), 1);
}

void TestMessageBoxes::question_data()
{
    QTest::addColumn<int>("pressed");
    QTest::newRow("first") << 0;
    QTest::newRow("second") << 1;
}

// Only a choice closes the box: Esc and the close box do not.
void TestMessageBoxes::question()
{
    QFETCH(int, pressed);
    const QStringList choices{QStringLiteral("再試行"), QStringLiteral("保存せずに終了")};
    QStringList buttons;
    bool defaultIsFirst = false;
    bool stayedOpen = false;
    OnBox([&](QMessageBox *box) {
        QVERIFY(box);
        buttons = ButtonTexts(box);
        defaultIsFirst = box->defaultButton() && box->defaultButton()->text() == choices.first();
        QTest::keyClick(box, Qt::Key_Escape);
        box->close();
        QTest::qWait(50);
        stayedOpen = box->isVisible();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == choices.at(pressed))
                button->click();
        }
    });
    QCOMPARE(kiro::AskQuestion(QStringLiteral("設定を保存できませんでした。"), QStringLiteral("確認"), choices),
             pressed);
    QCOMPARE(buttons, choices);
    QVERIFY(defaultIsFirst);
    QVERIFY(stayedOpen);
}

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageboxes.moc"
