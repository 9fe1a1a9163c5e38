#pragma once

#include <QString>

// Whether the text holds half a surrogate pair: a character no file system
// name or encoder can carry whole.
inline bool HasHalfCharacter(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return true;
    }
    return false;
}
