#include "ContentDecoder.h"

#include <zlib.h>

#include <utility>

namespace {

constexpr qsizetype OutputBytes = 64 * 1024;

// A zlib wrapper opens with a compression method of 8 and a check sum of
// its two header bytes; raw deflate data does not.
bool IsZlibHeader(uchar cmf, uchar flg)
{
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

} // namespace

struct ContentDecoder::Layer {
    enum class Kind { Gzip, Deflate };

    explicit Layer(Kind k) : kind(k), output(OutputBytes, Qt::Uninitialized) {}
    ~Layer()
    {
        if (initialised)
            inflateEnd(&z);
    }
    Layer(const Layer &) = delete;
    Layer &operator=(const Layer &) = delete;

    Kind kind;
    z_stream z{};
    bool initialised = false;
    bool inStream = false;   // a stream (a gzip member) has begun and not ended
    bool ended = false;      // deflate: its one stream has ended
    QByteArray head;         // deflate: the first bytes, until the wrapper is known
    QByteArray output;
};

ContentDecoder::ContentDecoder() = default;
ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::Start(const QByteArray &contentEncoding, Sink sink)
{
    m_layers.clear();
    m_error.clear();
    m_sink = std::move(sink);
    // Listed in the order they were applied: the last one is undone first.
    const QList<QByteArray> codings = contentEncoding.split(',');
    for (auto it = codings.crbegin(); it != codings.crend(); ++it) {
        const QByteArray coding = it->trimmed().toLower();
        if (coding.isEmpty() || coding == "identity")
            continue;
        if (coding == "gzip" || coding == "x-gzip") {
            m_layers.append(std::make_shared<Layer>(Layer::Kind::Gzip));
        } else if (coding == "deflate") {
            m_layers.append(std::make_shared<Layer>(Layer::Kind::Deflate));
        } else {
            m_error = QStringLiteral("the content coding \"%1\" was not asked for")
                          .arg(QString::fromLatin1(coding));
            return false;
        }
    }
    return true;
}

bool ContentDecoder::Write(const char *data, qsizetype size)
{
    return size <= 0 || Feed(0, data, size);
}

bool ContentDecoder::Feed(int index, const char *data, qsizetype size)
{
    if (index == m_layers.size())
        return m_sink(data, size);
    Layer &layer = *m_layers.at(index);

    QByteArray held;
    if (!layer.initialised) {
        int windowBits = 15 + 16;   // gzip framing only
        if (layer.kind == Layer::Kind::Deflate) {
            layer.head.append(data, size);
            if (layer.head.size() < 2)
                return true;
            windowBits = IsZlibHeader(uchar(layer.head.at(0)), uchar(layer.head.at(1))) ? 15 : -15;
            held = std::exchange(layer.head, QByteArray());
            data = held.constData();
            size = held.size();
        }
        if (inflateInit2(&layer.z, windowBits) != Z_OK) {
            m_error = QStringLiteral("cannot start decompressing");
            return false;
        }
        layer.initialised = true;
    }
    if (layer.ended) {
        m_error = QStringLiteral("data after the end of the deflate stream");
        return false;
    }

    layer.z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    layer.z.avail_in = uInt(size);
    bool outputFull = false;
    while (layer.z.avail_in > 0 || outputFull) {
        layer.inStream = true;
        layer.z.next_out = reinterpret_cast<Bytef *>(layer.output.data());
        layer.z.avail_out = uInt(layer.output.size());
        const int result = inflate(&layer.z, Z_NO_FLUSH);
        const qsizetype produced = layer.output.size() - qsizetype(layer.z.avail_out);
        outputFull = layer.z.avail_out == 0;
        if (produced > 0 && !Feed(index + 1, layer.output.constData(), produced))
            return false;
        if (result == Z_STREAM_END) {
            layer.inStream = false;
            outputFull = false;
            if (layer.kind == Layer::Kind::Deflate) {
                layer.ended = true;
                if (layer.z.avail_in > 0) {
                    m_error = QStringLiteral("data after the end of the deflate stream");
                    return false;
                }
                break;
            }
            // The next gzip member, if any, starts here.
            inflateReset(&layer.z);
            continue;
        }
        if (result == Z_BUF_ERROR && layer.z.avail_in == 0)
            break;   // wants more input
        if (result != Z_OK) {
            m_error = layer.kind == Layer::Kind::Gzip ? QStringLiteral("corrupt gzip data")
                                                      : QStringLiteral("corrupt deflate data");
            return false;
        }
    }
    return true;
}

bool ContentDecoder::Finish()
{
    for (const auto &layer : std::as_const(m_layers)) {
        if (layer->inStream || (layer->kind == Layer::Kind::Deflate && !layer->head.isEmpty())
            || (layer->kind == Layer::Kind::Deflate && layer->initialised && !layer->ended)) {
            m_error = QStringLiteral("the compressed body ends early");
            return false;
        }
    }
    return true;
}
