#pragma once

#include <QString>

namespace kiro {

// The target address that a jump or counter link carries in its query
// string ("…?url=http://target/…"), or url unchanged when it carries none.
// The last such address in the text wins.
QString ExtractEmbeddedURL(const QString &url);

} // namespace kiro
