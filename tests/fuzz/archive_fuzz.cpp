// The archive record parser, for the texts a row of the database holds. The input's lines are
// the stored time, "JsonVal" and "JsonErr". A time that reads is UTC and reads again from its
// own text; elements that read, written again, read the same.
#include "fuzz/fuzzcheck.h"
#include "readings/archiverecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString valuesText(const QVector<orvela::ArchiveValue>& values)
{
    QJsonArray array;
    for (const orvela::ArchiveValue& v : values) {
        array.append(QJsonObject{{"titleId", v.titleId}, {"edId", v.edId}, {"val", v.val},
                                 {"prefixNum", v.prefixNum}, {"postfixNum", v.postfixNum}});
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString errorsText(const QVector<orvela::ArchiveError>& errors)
{
    QJsonArray array;
    for (const orvela::ArchiveError& e : errors) {
        QJsonObject object{{"errorCode", static_cast<double>(e.errorCode)},
                           {"prefixNum", e.prefixNum}, {"postfixNum", e.postfixNum}};
        if (e.fixed) {
            object.insert(QStringLiteral("fixed"), true);
        }
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
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
        FUZZ_CHECK(valuesText(again) == valuesText(values));
    }
    QVector<orvela::ArchiveError> errors;
    if (orvela::parseArchiveErrors(QString::fromUtf8(lines.value(2)), &errors) == 0) {
        QVector<orvela::ArchiveError> again;
        FUZZ_CHECK(orvela::parseArchiveErrors(errorsText(errors), &again) == 0);
        FUZZ_CHECK(errorsText(again) == errorsText(errors));
        // Every device class names its flags without failing.
        for (int devType = 0; devType < 256; devType += 17) {
            orvela::DeviceIdentity identity;
            identity.devType = static_cast<quint8>(devType);
            orvela::archiveErrorsText(identity, errors);
        }
    }
    return 0;
}
