#pragma once

#include "app/resulttype.h"

#include <QHash>
#include <QJsonArray>
#include <QMap>
#include <QObject>
#include <QSet>

#include <functional>

class QSqlQuery;

namespace orvela {
class Database;
class LockedWrite;
enum class LockSubject : int;
class HttpOrvelaServer;
class JsonRow;
struct CurrentUser;
}

namespace client {

// Runs one request: the pipeline from reading the request to the answer, the command
// table and the command handlers. Handlers are members so that the command table can name
// them; their definitions are split into one source file per domain.
class Api : public QObject {
    Q_OBJECT
public:
    explicit Api(QObject* parent = nullptr);
    ~Api() override;

    using Handler = bool (Api::*)();
    struct Command {
        const char* name;
        const char* logText;
        orvela::ResultType resultType;
        Handler handler; // null while the command is not built
    };
    static const QVector<Command>& commandTable();

signals:
    void done();

public slots:
    void startProcess();

private:
    void processRequest();
    bool answerTestCommand();
    bool checkCommand(const QString& name);
    void dispatchCommand(const QString& name);

    orvela::HttpOrvelaServer& req() const { return *m_server; }

    // Handler toolkit (toolkit.cpp). Handlers read parameters as text (absent and empty
    // alike), numbers by the program-wide integer rule, and fail by setting a result code.
    QString text(const char* name) const;
    bool given(const char* name) const { return !text(name).isEmpty(); }
    qint64 int32Param(const char* name, qint64 failure = -1) const;
    qint64 int64Param(const char* name, qint64 failure = -1) const;
    // A required integer parameter: absentCode when missing, badCode when negative or no number.
    bool requiredId(const char* name, quint16 absentCode, quint16 badCode, qint64* value, bool wide = true);
    // An optional integer filter: adds " AND (<column>=<n>)" when the parameter is given.
    bool numberFilter(const char* name, const QString& column, quint16 badCode, QString* conditions,
                      bool wide = true);
    // " AND (<column>='<text>')" for the exact parameter, else " AND (<column> LIKE '%<text>%')"
    // for the part, else nothing.
    QString textFilter(const QString& column, const char* exactName, const char* partName) const;
    bool fail(quint16 code);
    bool succeed();
    // Commits a batch written under one lock; a batch of one answers the new record's id.
    bool commitBatch(orvela::LockedWrite& write, int count, qint64 lastId);
    // Ends a command with the code of its last step.
    bool finish(quint16 code) { return code == 0 ? succeed() : fail(code); }
    // Refuses with code 143 unless the caller's type lies in the range.
    bool allowTypes(int lowest, int highest);
    // The company a command acts for (0 for none); false with code 221.
    bool resolveCompanyId(qint64* companyId);
    orvela::Database& db() const;
    const orvela::CurrentUser& user() const;
    // Runs a read statement; a failure is logged and ends the command with failCode.
    bool select(const QString& sql, QSqlQuery* query, quint16 failCode);
    // Runs one changing statement in its own transaction; its code is the command's.
    bool execute(const QString& sql, qint64* outId = nullptr);
    // Runs a listing and appends one object per row; a row whose identifiers do not convert
    // ends the command with badRowCode and no data.
    using RowMaker = std::function<bool(const QSqlQuery&, QJsonObject*)>;
    bool appendRows(const QString& sql, quint16 failCode, const RowMaker& makeRow,
                    quint16 badRowCode = 177);
    // The company test of a statement: "=<id>", or " IS NULL" for no company.
    static QString companyMatch(qint64 companyId);
    // Whether an object lies at an address of the company (0: of no company); 190 or 132.
    bool checkObjectInCompany(qint64 objectId, qint64 companyId);
    // Of the given objects, those that lie at addresses of the company; false with 132.
    bool objectsInCompany(const QList<qint64>& objectIds, qint64 companyId, QSet<qint64>* found);
    // "DATA": false with 156 when it is empty.
    bool dataGiven();
    // "DATA" as an array of objects: 157 (not a JSON array), 161 (size: one or more, or
    // exactly one when single), 131 (an element that is not an object).
    bool readDataArray(QJsonArray* array, bool single);

    // Texts composed from several tables (texts.cpp).
    // Name, phone and mail of an abonent; *code is 144 (none) or 117 (query failed, logged).
    QString abonentSummary(qint64 abonentId, quint16* code = nullptr);
    // The devices currently installed in an object whose model serves the resource.
    QString deviceListText(qint64 objectId, qint64 resCode);

    // Users (users.cpp).
    bool getUserData();
    bool getUsersTable();
    bool addUser();
    bool updUser();
    bool delUser();
    bool failWithSourceLine(quint16 code, const char* file, int line);
    bool userFilters(QStringList* conditions);
    bool readTargetUser(qint64 userId, int* targetType);
    bool readUserRow(qint64 userId, QSqlQuery* query);
    bool userSetList(qint64 userId, QStringList* items);

    // Records with unique names: companies, manufacturers, models (named.cpp).
    bool insertNamed(orvela::LockSubject subject, const char* table, const std::function<bool(QString*)>& statement);
    bool beginNamedUpdate(orvela::LockedWrite& write, const char* table, qint64 id, bool renaming);
    bool deleteUnused(const char* table, qint64 id, const char* usedBy, const char* usedByColumn,
                      const QString& statement);

    // Companies (companies.cpp).
    bool getCompanyTable();
    bool getCompanyList();
    bool addCompany();
    bool updCompany();
    bool delCompany();

    // Manufacturers and models (models.cpp).
    bool getManufTable();
    bool addManuf();
    bool updManuf();
    bool delManuf();
    bool getModelTable();
    bool addModel();
    bool updModel();
    bool delModel();
    bool modelConditions(QString* where);
    bool modelNumbers(QString* list);
    bool loraDataFormat(QString* json);

    // Addresses (addresses.cpp).
    bool addAddress();
    bool updAddress();
    bool delAddress();
    bool getAddressTable();
    bool getCompanyAddresses();
    bool getAddressInfo();
    bool addressCompanyValue(QString* value);
    bool readTimeShift(qint64* minutes);
    bool checkAddressOfCompany(qint64 addressId);
    bool readReference(const char* table, const char* column, qint64 id, qint64* reference);
    bool addressInfoRow(const QSqlQuery& query, QJsonObject* row);

    // Objects (objects.cpp).
    bool getObjectTable();
    bool addObject();
    bool updObject();
    bool delObject();
    bool checkObjectOfCompany(qint64 objectId);
    bool objectSeries(qint64 addressId, qint64 objType, const QString& note);
    bool objectFilters(QString* conditions);

    // Abonents and personal accounts (abonents.cpp, licaccounts.cpp).
    bool getAbonentsTable();
    bool addAbonents();
    bool updAbonent();
    bool delAbonent();
    bool getLicAccountTable();
    bool addLicAccount();
    bool updLicAccount();
    bool delLicAccount();
    struct AbonentRecord;
    bool readAbonentRecord(const QJsonObject& element, AbonentRecord* record);
    bool abonentObjectAllowed(qint64 objectId);
    bool abonentFilters(QString* conditions);
    bool licAccountRow(const QSqlQuery& query, QJsonObject* row);

    // Metering devices (devices.cpp).
    bool addDevices();
    bool updDevice();
    bool delDevice();
    struct DeviceRecord;
    bool readDeviceRecord(const QJsonObject& element, bool identityOnly, DeviceRecord* record);
    bool findIdentities(const QList<DeviceRecord>& records, QHash<QString, qint64>* stored);
    bool checkDeviceOfCompany(qint64 deviceId);
    quint16 updateInstallation(qint64 deviceId, const DeviceRecord& record, orvela::LockedWrite& write);
    void deleteYearlyRows(qint64 deviceId);

    // Device tasks (tasks.cpp).
    bool addTask();
    bool getTaskTable();
    bool delTask();
    bool clearTask();
    bool taskStart(qint64* deviceId, qint64* company);
    bool readTaskQueue(qint64 deviceId, qint64 companyId, QSqlQuery* query);
    bool lockTaskQueue(orvela::LockedWrite& write, qint64 deviceId);

    // Texts already composed in this request, for listings that repeat them row after row.
    QHash<qint64, QString> m_abonentSummaries;
    QHash<QPair<qint64, qint64>, QString> m_deviceLists;

    orvela::HttpOrvelaServer* m_server = nullptr;
    QMap<QString, int> m_commands;
};

} // namespace client
