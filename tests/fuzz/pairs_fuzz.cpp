// The URL-encoded reader of query strings, bodies and cookies: the pairs it reads, encoded
// again and read again, are the same pairs.
#include "cgi/pairparser.h"
#include "fuzz/fuzzcheck.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzBytes(data, size));
    tarn::TextMap pairs;
    if (!tarn::parsePairs(text, QLatin1Char('&'), pairs)) {
        FUZZ_CHECK(pairs.size() == tarn::kMostPairs + 1);
        return 0;
    }
    FUZZ_CHECK(pairs.size() <= tarn::kMostPairs);
    QString encoded;
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it) {
        encoded += QString::fromLatin1(QUrl::toPercentEncoding(it.key()) + '=' +
                                       QUrl::toPercentEncoding(it.value()) + '&');
    }
    tarn::TextMap again;
    FUZZ_CHECK(tarn::parsePairs(encoded, QLatin1Char('&'), again));
    FUZZ_CHECK(again == pairs);
    return 0;
}
