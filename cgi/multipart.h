#pragma once

#include "cgi/pairparser.h"

#include <QByteArray>
#include <QJsonValue>
#include <QMap>

namespace tarn {

using FileMap = QMap<QString, QByteArray>;
using JsonMap = QMap<QString, QJsonValue>;

// Where the parts of a multipart body go: text fields, files (and binary parts), JSON parts.
struct MultipartTargets {
    TextMap* fields;
    FileMap* files;
    JsonMap* json;
};

// The boundary named in a Content-Type header, without surrounding double quotes;
// empty when the header names none.
QByteArray multipartBoundary(const QString& contentType);

// Parses a multipart/form-data body into the targets. Returns false with the reason in
// *error when the boundary is missing or a JSON part is not an object; parts stored before
// such a failure stay where they are.
bool parseMultipart(QByteArray body, const QString& contentType, const MultipartTargets& targets,
                    QString* error);

} // namespace tarn
