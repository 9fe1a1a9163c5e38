#include "FindBar.h"

#include "BrowserView.h"
#include "PageViewText.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>

namespace {

QToolButton *TextButton(const QString &name, const QString &text, const QString &tooltip,
                        QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(tooltip);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    return button;
}

bool IsEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

FindBar::FindBar(BrowserView *view, QWidget *parent)
    : QToolBar(parent), m_view(view)
{
    setObjectName(QStringLiteral("FindBar"));
    setWindowTitle(QStringLiteral("ページ内検索"));
    setMovable(false);
    setFloatable(false);
    setContextMenuPolicy(Qt::PreventContextMenu);

    auto *label = new QLabel(QStringLiteral("ページ内検索："), this);
    label->setObjectName(QStringLiteral("lblFind"));
    addWidget(label);

    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("txtFind"));
    m_text->setClearButtonEnabled(true);
    m_text->setMaximumWidth(320);
    m_text->installEventFilter(this);
    label->setBuddy(m_text);
    addWidget(m_text);

    m_previous = TextButton(QStringLiteral("cmdFindPrevious"), QStringLiteral("前へ"),
                            QStringLiteral("前を検索 (Shift+Enter)"), this);
    m_next = TextButton(QStringLiteral("cmdFindNext"), QStringLiteral("次へ"),
                        QStringLiteral("次を検索 (Enter)"), this);
    addWidget(m_previous);
    addWidget(m_next);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("lblFindCount"));
    m_count->setContentsMargins(8, 0, 8, 0);
    addWidget(m_count);

    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(spacer);
    m_close = TextButton(QStringLiteral("cmdFindClose"), QStringLiteral("閉じる"),
                         QStringLiteral("検索を閉じる (Esc)"), this);
    addWidget(m_close);

    connect(m_text, &QLineEdit::textEdited, this, &FindBar::OnTextEdited);
    connect(m_previous, &QToolButton::clicked, this, &FindBar::FindPrevious);
    connect(m_next, &QToolButton::clicked, this, &FindBar::FindNext);
    connect(m_close, &QToolButton::clicked, this, &FindBar::Close);
    connect(m_view->page(), &QWebEnginePage::findTextFinished, this, &FindBar::OnFindFinished);
    // A new page holds none of the old matches.
    connect(m_view->page(), &QWebEnginePage::loadStarted, m_count, &QLabel::clear);
    hide();
}

void FindBar::Open()
{
    show();
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void FindBar::Close()
{
    hide();
    m_view->findText(QString());
    m_count->clear();
    m_view->setFocus(Qt::OtherFocusReason);
}

void FindBar::FindNext()
{
    Find(false);
}

void FindBar::FindPrevious()
{
    Find(true);
}

QString FindBar::countText() const
{
    return m_count->text();
}

void FindBar::Find(bool backward)
{
    const QString text = m_text->text();
    if (text.isEmpty()) {
        m_count->clear();
        return;
    }
    m_view->findText(text, backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

void FindBar::OnTextEdited(const QString &text)
{
    if (text.isEmpty()) {
        m_view->findText(QString());
        m_count->clear();
        return;
    }
    m_view->findText(text);
}

void FindBar::OnFindFinished(const QWebEngineFindTextResult &result)
{
    // An answer to a search that was cleared or closed meanwhile is stale.
    if (m_text->text().isEmpty() || isHidden())
        return;
    m_count->setText(kiro::FindCountText(true, result.activeMatch(), result.numberOfMatches()));
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_text)
        return QToolBar::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Esc belongs to the bar while its box has the focus, not to the
        // window's "stop".
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape || IsEnter(key->key())) {
            event->accept();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
        if (IsEnter(key->key())) {
            Find(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QToolBar::eventFilter(watched, event);
}
