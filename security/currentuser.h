#pragma once

#include <QDateTime>
#include <QString>

namespace orvela {

// User types: 1 to 4 act system-wide, 129 to 131 inside their company. Smaller codes carry
// more rights, so access rules compare the numbers.
namespace UserType {
constexpr int Top = 1;
constexpr int Administrator = 2;
constexpr int Operator = 3;
constexpr int User = 4;
constexpr int CompanyAdministrator = 129;
constexpr int CompanyOperator = 130;
constexpr int CompanyUser = 131;
} // namespace UserType

// The account a request acts for, filled by the authentication.
struct CurrentUser {
    QString authData;     // the token as received, or made from login and password
    QString login;
    QString passwordHash; // MD5 of the password, 32 lower-case hexadecimal digits
    qint64 id = 0;
    QString mail;
    QString phone;
    int status = 0;
    int userType = 0;
    QDateTime dateReg;
    QString avatarUrl;
    qint64 companyId = 0; // 0 for none
    QString companyName;

    bool isCompanyBound() const { return userType > 128; }
};

} // namespace orvela
