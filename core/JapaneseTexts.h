#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QTranslator>

// The whole interface is Japanese, whatever the system's language: Qt's own
// texts (menus of line edits, dialog buttons) come from Qt's Japanese
// catalogues, and what those lack for the page view comes from here.
namespace kiro {

// The page view's own texts in Japanese (its context menu, download failure
// reasons, its few dialogs), which Qt ships no Japanese catalogue for.
class JapaneseTexts : public QTranslator
{
public:
    struct Entry
    {
        const char *context;
        const char *source;
        const char *japanese;
    };

    explicit JapaneseTexts(QObject *parent = nullptr);

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }

    static const QList<Entry> &Entries();

private:
    QHash<QByteArray, QString> m_texts;
};

// Makes the program Japanese: the default locale (which the page engine
// takes for its own pages and texts, so it must run before the first page
// view exists), Qt's Japanese catalogues and JapaneseTexts for what they
// lack. Needs the application object; installs once. Returns false when
// Qt's Japanese catalogue is missing (its texts then stay English).
bool InstallJapaneseTexts();

} // namespace kiro
