#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// Undoes the content codings of a page body as it arrives: gzip (every
// member of a body made of several, as RFC 9110 has it), deflate (with or
// without its zlib wrapper) and any stack of them ("deflate, gzip"). libcurl
// 7.88 stops at the end of a first gzip member and takes what follows as an
// error, so pages are decoded here.
//
// The output goes to a sink piece by piece (at most 64 KiB at a time), so a
// small body that inflates to gigabytes costs no more memory than the sink
// keeps; a sink that returns false ends the decoding.
class ContentDecoder
{
public:
    using Sink = std::function<bool(const char *data, qsizetype size)>;

    ContentDecoder();
    ~ContentDecoder();

    // Prepares for a body with this Content-Encoding value; false when a
    // coding is not one of the above.
    bool Start(const QByteArray &contentEncoding, Sink sink);

    // Decodes the next piece of the body; false on corrupt data or when the
    // sink refused.
    bool Write(const char *data, qsizetype size);

    // The body has ended: false when a compressed stream has not.
    bool Finish();

    QString errorString() const { return m_error; }

private:
    struct Layer;

    bool Feed(int layer, const char *data, qsizetype size);

    QList<std::shared_ptr<Layer>> m_layers;   // the coding applied last comes first
    Sink m_sink;
    QString m_error;
};
