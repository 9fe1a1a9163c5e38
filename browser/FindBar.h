#pragma once

#include <QToolBar>

class BrowserView;
class QLabel;
class QLineEdit;
class QToolButton;
class QWebEngineFindTextResult;

// The find bar under the page view: searches the shown page as the user
// types, steps to the next or previous match and shows how many there are.
// Enter finds the next match, Shift+Enter the previous one, Esc closes it.
class FindBar : public QToolBar
{
    Q_OBJECT

public:
    explicit FindBar(BrowserView *view, QWidget *parent = nullptr);

    // Shows the bar with its text selected and the cursor in it.
    void Open();
    // Hides the bar, clears the marks in the page and gives the page the focus.
    void Close();
    void FindNext();
    void FindPrevious();

    QLineEdit *textBox() const { return m_text; }
    QString countText() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Find(bool backward);
    void OnTextEdited(const QString &text);
    void OnFindFinished(const QWebEngineFindTextResult &result);

    BrowserView *m_view;
    QLineEdit *m_text = nullptr;
    QToolButton *m_previous = nullptr;
    QToolButton *m_next = nullptr;
    QLabel *m_count = nullptr;
    QToolButton *m_close = nullptr;
};
