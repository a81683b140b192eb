#pragma once

#include <QList>
#include <QString>

namespace testing_support {

// The message a client must see for a result code ("Неизвестная ошибка." above 329, empty for
// a number that names no code).
QString expectedMessage(int code);
// Every assigned code, 0 included.
QList<int> assignedCodes();

} // namespace testing_support
