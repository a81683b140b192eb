// The JSON a client sends, and "DATA" as the field limits read it. A text the bounds let
// through holds no more values and no deeper nesting than they allow, and reads back the
// same once written again; a "DATA" that keeps a number limit holds no whole number above it.
#include "cgi/client/datafields.h"
#include "cgi/client/fieldlimits.h"
#include "cgi/clientjson.h"
#include "fuzz/fuzzcheck.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

// Values and deepest nesting of a parsed value, counted the way the bounds mean them.
void measure(const QJsonValue& value, int depth, qint64* values, int* deepest)
{
    ++*values;
    if (value.isArray() || value.isObject()) {
        *deepest = qMax(*deepest, depth + 1);
    }
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray()) {
            measure(element, depth + 1, values, deepest);
        }
    } else if (value.isObject()) {
        for (const QJsonValue& member : value.toObject()) {
            measure(member, depth + 1, values, deepest);
        }
    }
}

void checkDataLimits(const QJsonArray& data)
{
    for (const client::FieldLimit& limit : client::fieldLimits()) {
        if (qstrncmp(limit.field, "DATA", 4) != 0) {
            continue;
        }
        const QString breach = client::dataLimitBreach(limit, data);
        if (limit.kind == client::FieldLimit::Elements) {
            FUZZ_CHECK(breach.isEmpty() == (data.size() <= limit.largest));
            continue;
        }
        if (!breach.isEmpty() || limit.kind != client::FieldLimit::Number) {
            continue;
        }
        const QString key = QString::fromLatin1(limit.field + 5);
        for (const QJsonValue& record : data) {
            qint64 number = 0;
            if (client::jsonToInt64(record.toObject().value(key), &number)) {
                FUZZ_CHECK(number <= limit.largest);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = fuzzBytes(data, size);
    QJsonDocument document;
    QString reason;
    if (!tarn::parseClientJson(text, &document, &reason)) {
        FUZZ_CHECK(!reason.isEmpty());
        return 0;
    }
    qint64 values = 0;
    int deepest = 0;
    const QJsonValue root = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    measure(root, 0, &values, &deepest);
    FUZZ_CHECK(values <= tarn::kMostClientJsonValues);
    FUZZ_CHECK(deepest <= tarn::kDeepestClientJson);
    if (text.contains('\0')) {
        // Qt takes a raw NUL inside a string but does not write it back the same; the commands
        // refuse a "DATA" that holds one.
        return 0;
    }
    // Written again, it reads back to what writes the same text. (Not to an equal document: Qt
    // keeps a whole number beyond 2^53 exact when it reads one, but writes it as a double.)
    const QByteArray written = document.toJson(QJsonDocument::Compact);
    QJsonDocument again;
    FUZZ_CHECK(tarn::parseClientJson(written, &again));
    FUZZ_CHECK(again.toJson(QJsonDocument::Compact) == written);
    if (document.isArray()) {
        checkDataLimits(document.array());
    }
    return 0;
}
