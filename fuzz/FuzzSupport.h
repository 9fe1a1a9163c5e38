#pragma once

// What the fuzz targets share: a check that stops the run with the input's
// failing property, and ways to read text out of the fuzzer's bytes.

#include "tests/support/TextChecks.h"

#include <QByteArray>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                          \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            FuzzReport(__VA_ARGS__);                                                        \
            std::abort();                                                                   \
        }                                                                                   \
    } while (false)

inline void FuzzReport() {}

template <typename... Rest>
void FuzzReport(const QString &first, const Rest &...rest)
{
    std::fprintf(stderr, "  [%s]\n", first.toUtf8().constData());
    FuzzReport(rest...);
}

// Up to maxBytes of the input as UTF-8 (invalid sequences become U+FFFD).
inline QString ConsumeUtf8(FuzzedDataProvider &in, size_t maxBytes)
{
    return QString::fromStdString(in.ConsumeRandomLengthString(maxBytes));
}

// Up to maxUnits UTF-16 code units taken as they are: unpaired surrogates too.
inline QString ConsumeUtf16(FuzzedDataProvider &in, size_t maxUnits)
{
    const std::string bytes = in.ConsumeRandomLengthString(maxUnits * 2);
    QString text;
    text.reserve(qsizetype(bytes.size() / 2));
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(char16_t(uchar(bytes[i]) | uchar(bytes[i + 1]) << 8)));
    return text;
}

inline QByteArray ConsumeRemainingBytes(FuzzedDataProvider &in)
{
    const std::string rest = in.ConsumeRemainingBytesAsString();
    return QByteArray(rest.data(), qsizetype(rest.size()));
}
