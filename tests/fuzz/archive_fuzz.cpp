// The archive record parser, for the texts a row of the database holds. The input's lines are
// the stored time, "JsonVal" and "JsonErr". A time that reads is UTC and reads again from its
// own text; elements that read, written again, read the same.
#include "fuzz/fuzzcheck.h"
#include "readings/archiverecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <tuple>

namespace {

QString valuesText(const QVector<orvela::ArchiveValue>& values)
{
    QJsonArray array;
    for (const orvela::ArchiveValue& value : values) {
        array.append(QJsonObject{{QStringLiteral("titleId"), value.titleId},
                                 {QStringLiteral("edId"), value.edId},
                                 {QStringLiteral("val"), value.val},
                                 {QStringLiteral("prefixNum"), value.prefixNum},
                                 {QStringLiteral("postfixNum"), value.postfixNum}});
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString errorsText(const QVector<orvela::ArchiveError>& errors)
{
    QJsonArray array;
    for (const orvela::ArchiveError& error : errors) {
        QJsonObject object{{QStringLiteral("errorCode"), static_cast<double>(error.errorCode)},
                           {QStringLiteral("prefixNum"), error.prefixNum},
                           {QStringLiteral("postfixNum"), error.postfixNum}};
        if (error.fixed) {
            object.insert(QStringLiteral("fixed"), true);
        }
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// Element by element, every field that key() names.
template <typename T, typename Key>
bool same(const QVector<T>& a, const QVector<T>& b, Key key)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](const T& x, const T& y) { return key(x) == key(y); });
}

auto valueFields(const orvela::ArchiveValue& v)
{
    return std::tie(v.titleId, v.edId, v.val, v.prefixNum, v.postfixNum);
}

auto errorFields(const orvela::ArchiveError& e)
{
    return std::tie(e.errorCode, e.prefixNum, e.postfixNum, e.fixed);
}

void checkTime(const QString& text)
{
    const QDateTime time = orvela::archiveUtcDateTime(text);
    if (!time.isValid()) {
        return;
    }
    FUZZ_CHECK(time.timeSpec() == Qt::UTC);
    FUZZ_CHECK(orvela::archiveUtcDateTime(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))) == time);
    FUZZ_CHECK(orvela::shiftedToLocal(time, 180).timeSpec() == Qt::UTC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> lines = fuzzBytes(data, size).split('\n');
    checkTime(QString::fromUtf8(lines.value(0)));

    QVector<orvela::ArchiveValue> values;
    if (orvela::parseArchiveValues(QString::fromUtf8(lines.value(1)), &values) == 0) {
        QVector<orvela::ArchiveValue> again;
        FUZZ_CHECK(orvela::parseArchiveValues(valuesText(values), &again) == 0);
        FUZZ_CHECK(same(again, values, valueFields));
    }
    QVector<orvela::ArchiveError> errors;
    if (orvela::parseArchiveErrors(QString::fromUtf8(lines.value(2)), &errors) == 0) {
        QVector<orvela::ArchiveError> again;
        FUZZ_CHECK(orvela::parseArchiveErrors(errorsText(errors), &again) == 0);
        FUZZ_CHECK(same(again, errors, errorFields));
        // Every device class names its flags without failing.
        for (int devType = 0; devType < 256; devType += 17) {
            orvela::DeviceIdentity identity;
            identity.devType = static_cast<quint8>(devType);
            orvela::archiveErrorsText(identity, errors);
        }
    }
    return 0;
}
