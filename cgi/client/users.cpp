// Account commands: the caller's profile, the account list and account changes.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"

#include <QJsonObject>

namespace client {

using namespace orvela;

bool Api::getUserData()
{
    const CurrentUser& user = req().user();
    QJsonObject row;
    row.insert(QStringLiteral("id"), user.id);
    row.insert(QStringLiteral("login"), user.login);
    row.insert(QStringLiteral("mail"), user.mail);
    row.insert(QStringLiteral("phone"), user.phone);
    row.insert(QStringLiteral("status"), user.status);
    row.insert(QStringLiteral("userType"), user.userType);
    row.insert(QStringLiteral("dateReg"), user.dateReg.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    row.insert(QStringLiteral("datePas"), QString());
    row.insert(QStringLiteral("dateActive"), QString());
    row.insert(QStringLiteral("avatarURL"), user.avatarUrl);
    row.insert(QStringLiteral("authToken"), user.authData);
    if (user.isCompanyBound()) {
        row.insert(QStringLiteral("companyId"), user.companyId);
        row.insert(QStringLiteral("companyName"), user.companyName);
        // Accounts carry no employee record or access type of their own yet.
        row.insert(QStringLiteral("sotrudnikId"), 0);
        row.insert(QStringLiteral("accessType"), 0);
    }
    req().appendResponseRow(row);
    req().setResultCode(0);
    return true;
}

} // namespace client
