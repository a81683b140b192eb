#include "db/sqltext.h"

namespace orvela {

namespace {
bool g_backslashEscapes = false;
} // namespace

void setSqlBackslashEscapes(bool on) { g_backslashEscapes = on; }

QString sqlText(const QString& text)
{
    QString body;
    body.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c.unicode() == 0) {
            continue;
        }
        if (c == QLatin1Char('\'')) {
            body += QLatin1Char('\'');
        } else if (g_backslashEscapes && c == QLatin1Char('\\')) {
            body += QLatin1Char('\\');
        }
        body += c;
    }
    return QLatin1Char('\'') + body + QLatin1Char('\'');
}

QString sqlIdOrNull(qint64 id)
{
    return id > 0 ? QString::number(id) : QStringLiteral("NULL");
}

QString sqlContains(const QString& text)
{
    QString pattern;
    pattern.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\')) {
            pattern += QLatin1Char('\\');
        }
        pattern += c;
    }
    return sqlText(QLatin1Char('%') + pattern + QLatin1Char('%')) + QStringLiteral(" ESCAPE ") +
           sqlText(QStringLiteral("\\"));
}

QString sqlTextOrNull(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("NULL") : sqlText(text);
}

QString sqlIdList(const QList<qint64>& ids)
{
    QString list;
    list.reserve(ids.size() * 8);
    for (int i = 0; i < ids.size(); ++i) {
        if (i > 0) {
            list += QLatin1Char(',');
        }
        list += QString::number(ids.at(i));
    }
    return list;
}

QString sqlIdArray(const QList<qint64>& ids)
{
    return QStringLiteral("'{") + sqlIdList(ids) + QStringLiteral("}'::bigint[]");
}

} // namespace orvela
