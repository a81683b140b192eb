// The multipart body reader. The first line of the input is the boundary, the rest the body.
// What it reads, written again as a body of its own and read again, is the same.
#include "cgi/multipart.h"
#include "fuzz/fuzzcheck.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <tuple>

namespace {

struct Parts {
    tarn::TextMap fields;
    tarn::FileMap files;
    tarn::JsonMap json;
    tarn::MultipartTargets targets() { return {&fields, &files, &json}; }
};

// The parts again, each as its name, its headers and its content, under a boundary that occurs
// in none of them.
QByteArray bodyOf(const Parts& parts, QByteArray* boundary)
{
    QList<std::tuple<QString, QByteArray, QByteArray>> pieces;
    for (auto it = parts.fields.cbegin(); it != parts.fields.cend(); ++it) {
        pieces.append({it.key(), "", it.value().toUtf8()});
    }
    for (auto it = parts.files.cbegin(); it != parts.files.cend(); ++it) {
        pieces.append({it.key(), "Content-Type: application/octet-stream\r\n", it.value()});
    }
    for (auto it = parts.json.cbegin(); it != parts.json.cend(); ++it) {
        pieces.append({it.key(), "Content-Type: application/json\r\n",
                       QJsonDocument(it.value().toObject()).toJson(QJsonDocument::Compact)});
    }
    *boundary = "fuzzboundary";
    for (const auto& [name, headers, content] : pieces) {
        while (content.contains(*boundary) || name.toUtf8().contains(*boundary)) {
            *boundary += 'x';
        }
    }
    QByteArray body;
    for (const auto& [name, headers, content] : pieces) {
        body += "--" + *boundary + "\r\nContent-Disposition: form-data; name=\"" + name.toUtf8() +
                "\"\r\n" + headers + "\r\n" + content + "\r\n";
    }
    return body + "--" + *boundary + "--\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzBytes(data, size);
    const int lineEnd = input.indexOf('\n');
    if (lineEnd < 0) {
        return 0;
    }
    const QString contentType = QStringLiteral("multipart/form-data; boundary=") + QString::fromUtf8(input.left(lineEnd));
    Parts parts;
    QString error;
    if (!tarn::parseMultipart(input.mid(lineEnd + 1), contentType, parts.targets(), &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    QByteArray boundary;
    const QByteArray body = bodyOf(parts, &boundary);
    Parts again;
    FUZZ_CHECK(tarn::parseMultipart(body, QStringLiteral("multipart/form-data; boundary=") + QString::fromLatin1(boundary),
                                    again.targets(), &error));
    FUZZ_CHECK(again.fields == parts.fields);
    FUZZ_CHECK(again.files == parts.files);
    // JSON parts compare as text: Qt writes a whole number beyond 2^53 that it read exactly as a
    // double.
    FUZZ_CHECK(again.json.keys() == parts.json.keys());
    for (auto it = parts.json.cbegin(); it != parts.json.cend(); ++it) {
        FUZZ_CHECK(QJsonDocument(again.json.value(it.key()).toObject()).toJson() ==
                   QJsonDocument(it.value().toObject()).toJson());
    }
    return 0;
}
