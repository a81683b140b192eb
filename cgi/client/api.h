#pragma once

#include "app/resulttype.h"
#include "app/serverconfig.h"
#include "cgi/client/scope.h"

#include <QHash>
#include <QJsonArray>
#include <QMap>
#include <QObject>
#include <QSet>

#include <functional>

class QSqlQuery;

namespace tarn {
class ExchangeChannel;
}

namespace orvela {
class KeptConnection;
class Database;
class ReadingLookups;
class SlotBuilder;
struct ArchiveValue;
struct DeviceIdentity;
struct PeriodSlot;
class LockedWrite;
enum class LockSubject : int;
class HttpOrvelaServer;
class JsonRow;
struct CurrentUser;
}

namespace client {

struct Acknowledgement;
struct AddressReadings;
struct ChannelMeter;
struct ChannelRules;
struct GroupChannel;
struct GroupDevice;
struct ListedDevice;

// Runs one request: the pipeline from reading the request to the answer, the command
// table and the command handlers. Handlers are members so that the command table can name
// them; their definitions are split into one source file per domain.
class Api : public QObject {
    Q_OBJECT
public:
    explicit Api(QObject* parent = nullptr);
    ~Api() override;

    using Handler = bool (Api::*)();
    // Whether a command only reads (and may be served by a reading server) or may write.
    enum class Access { Reads, Writes };
    struct Command {
        const char* name;
        const char* logText;
        orvela::ResultType resultType;
        Access access;
        Handler handler;
    };
    static const QVector<Command>& commandTable();
    // The process's exit status once done() was emitted: 0, or 2 for an unknown option.
    int exitCode() const { return m_exitCode; }

    // One request of a persistent process, on its channel and with the kept connections;
    // returns the configuration the request was served with.
    orvela::ServerConfig serve(tarn::ExchangeChannel* channel, orvela::KeptConnection* connection,
                               orvela::KeptConnection* reading);

signals:
    void done();

public slots:
    void startProcess();

private:
    void processRequest();
    bool answerTestCommand();
    bool refuseNulCharacters();
    bool checkCommand(const QString& name);
    bool commandChangesNothing(const QString& name) const;
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
    // A refusal whose code's text names another parameter than the one at fault: the envelope's
    // text names the parameter.
    bool failNaming(quint16 code, const char* parameter);
    // Refuses a value the command would write past its column's size or range (fieldlimits).
    bool valuesWithinLimits(const char* command);
    bool readLimitedData(QJsonArray* data);
    bool succeed();
    // Whether the rows written so far fit the answer's limit; otherwise they are dropped and
    // the command ends with 330 and a text that tells how to narrow it.
    bool answerWithinLimit();
    // Commits a batch written under one lock; a batch of one answers the new record's id.
    bool commitBatch(orvela::LockedWrite& write, int count, qint64 lastId);
    // Ends a command with the code of its last step.
    bool finish(quint16 code) { return code == 0 ? succeed() : fail(code); }
    // Rights name the known types: a global type from 1 to highestGlobal, or a company-bound
    // type from 129 to highestCompanyBound (kNoCompanyBound: none). Any other caller gets 143.
    static constexpr int kNoCompanyBound = 0;
    bool typeAllowed(int highestGlobal, int highestCompanyBound) const;
    bool allowTypes(int highestGlobal, int highestCompanyBound);
    // The company a command acts for (0 for none); false with code 221.
    bool resolveCompanyId(qint64* companyId);
    orvela::Database& db() const;
    const orvela::CurrentUser& user() const;
    // Runs a read statement; a failure is logged and ends the command with failCode.
    bool select(const QString& sql, QSqlQuery* query, quint16 failCode);
    // Runs one changing statement in its own transaction; its code is the command's.
    bool execute(const QString& sql, qint64* outId = nullptr);
    // Opens the transaction of a change; false with 132 when it cannot begin.
    bool beginWrite(orvela::LockedWrite& write);
    // Runs a listing and appends one object per row; a row whose identifiers do not convert
    // ends the command with badRowCode and no data.
    using RowMaker = std::function<bool(const QSqlQuery&, QJsonObject*)>;
    bool appendRows(const QString& sql, quint16 failCode, const RowMaker& makeRow,
                    quint16 badRowCode = 177);
    // The company test of a statement: "=<id>", or " IS NULL" for no company.
    static QString companyMatch(qint64 companyId);

    // Scope (scope.cpp): the one answer to "may this caller touch this record", one rule per
    // kind of record. Each looks the record up inside the command's open transaction and
    // answers true, or false with the refusal's code. The hold locks the row until the write
    // commits, so that what was checked stays true: a linked record cannot be deleted
    // meanwhile, and a deletion waits for the links being made to it.
    // The account a change or deletion aims at: 275 when missing, 143 when it belongs to
    // another company than a company-bound caller's; its type for the type rules.
    bool mayTouchAccount(qint64 userId, Hold hold, int* type);
    // A company named by a parameter exists (235); a company-bound caller names only his own.
    bool mayTouchCompany(qint64 companyId, Hold hold);
    // Records without a company of their own (manufacturers, models): they only have to exist.
    bool recordExists(const char* table, qint64 id, Hold hold, quint16 missing, bool* found = nullptr);
    bool mayTouchAddress(qint64 addressId, Hold hold, const Refusals& refusals, bool* found = nullptr);
    bool mayTouchObject(qint64 objectId, Hold hold, const Refusals& refusals, bool* found = nullptr);
    // An abonent is his company's when he occupies at least one of its objects.
    bool mayTouchAbonent(qint64 abonentId, Hold hold, quint16 refusal, bool* found = nullptr);
    bool mayTouchLicAccount(qint64 accountId, Hold hold, quint16 refusal, bool* found = nullptr);
    // A company-bound caller reaches a device only through its current installation.
    bool mayTouchDevice(qint64 deviceId, Hold hold, const Refusals& refusals, bool* found = nullptr);
    // Whether an object lies at an address of the company a command acts for (0: of no
    // company); 190 or 132.
    bool checkObjectInCompany(qint64 objectId, qint64 companyId, Hold hold = Hold::Link);
    // Of the given objects, those that lie at addresses of the company; false with 132.
    bool objectsInCompany(const QList<qint64>& objectIds, qint64 companyId, QSet<qint64>* found);
    bool readOwner(const QString& sql, const Refusals& refusals, QVariant* owner, bool* found);
    bool mayTouchOwned(const QString& sql, const Refusals& refusals, bool* found);
    bool ownerAllowed(const QVariant& owner, const Refusals& refusals);

    // "DATA": false with 156 when it is empty.
    bool dataGiven();
    // "DATA" as an array of objects: 157 (not a JSON array), 161 (size: one or more, or
    // exactly one when single), 131 (an element that is not an object).
    bool readDataArray(QJsonArray* array, bool single);

    // Texts composed from several tables (texts.cpp).
    // Name, phone and mail of an abonent; *code is 144 (none) or 117 (query failed, logged).
    QString abonentSummary(qint64 abonentId, quint16* code = nullptr);
    // Reads the summaries of many abonents at once for the listings that show them.
    void readAbonentSummaries(const QList<qint64>& abonentIds);
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
    bool newTypeAllowed(qint64 type);
    bool userSetList(qint64 userId, QStringList* items);
    bool userCompanyItem(QStringList* items);

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
    bool addressCompany(qint64* company);
    bool readTimeShift(qint64* minutes);
    bool addressInfoRow(const QSqlQuery& query, QJsonObject* row);

    // Objects (objects.cpp).
    bool getObjectTable();
    bool addObject();
    bool updObject();
    bool delObject();
    bool objectSeries(orvela::LockedWrite& write, qint64 addressId, qint64 objType, const QString& note);
    bool readAbonentLink(QString* abonent);
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
    bool checkDeviceRecords(const QJsonArray& data, qint64 company, QList<DeviceRecord>* records);
    quint16 updateInstallation(qint64 deviceId, const DeviceRecord& record, orvela::LockedWrite& write);
    void deleteYearlyRows(qint64 deviceId);

    // Current values and error flags (currentvalues.cpp).
    bool getDevValuesFromAddress();
    bool getErrorFlags();
    bool clearErrorFlags();
    // The request's debug records, for the readings code that knows nothing of requests.
    std::function<void(const QString&)> debugSink() const;
    // A required date "yyyy-MM-dd": absentCode when missing, badCode when it is no valid date.
    bool requiredDate(const char* name, quint16 absentCode, quint16 badCode, QDate* date);
    bool personalAccounts(const QList<qint64>& objectIds, QHash<QPair<qint64, qint64>, QString>* accounts);
    bool readAddressReadings(QSqlQuery& devices, const QDate& date, int delta, bool scale, AddressReadings* readings);
    QString errorFlagsAddresses() const;
    bool errorFlagsDevice(const QSqlQuery& device, const QJsonArray& errors, const QString& addressName,
                          QJsonObject* object);
    bool acknowledgeErrors(orvela::ReadingLookups& lookups, const QList<Acknowledgement>& acknowledgements);

    // Device lists and descriptions (devicelists.cpp, deviceinfo.cpp, devicereadings.cpp,
    // devicetexts.cpp).
    bool getDevices();
    bool getDeviceTable();
    bool getTmpDevTable();
    bool getDeviceInfo();
    bool getDeviceData();
    bool getDeviceList();
    bool deviceConditions(QString* conditions);
    bool installedConditions(bool withObjectId, QString* conditions);
    bool devicesStatement(bool table, QString* sql);
    bool tmpDevConditions(QStringList* conditions);
    bool readDescribedDevice(qint64* deviceId, orvela::DeviceIdentity* identity, QSqlQuery* query);
    QJsonObject describedDevice(const orvela::DeviceIdentity& identity, const QSqlQuery& query) const;
    QString addressName(qint64 addressId);
    ListedDevice listedDevice(const QSqlQuery& query, int timeShiftMinutes);
    void addReadings(orvela::ReadingLookups& lookups, QVector<ListedDevice>* devices);
    bool objectDevices(const QList<qint64>& objectIds, const QHash<qint64, int>& timeShifts, const QString& resourceFilter,
                       QHash<qint64, QVector<ListedDevice>>* devices);
    bool deviceListObjects(orvela::ReadingLookups& lookups, qint64 company, const QString& resourceFilter);
    bool deviceListUninstalled(orvela::ReadingLookups& lookups, const QString& resourceFilter);
    // The verification text of one device.
    QString poverkaText(qint64 deviceId);

    // Period values and reports (periodvalues.cpp, reports.cpp, consumption.cpp).
    struct PeriodRequest;
    struct ReportRange;
    bool getDevValues();
    bool getPeriodValues();
    bool report();
    bool getReport();
    bool readPeriod(PeriodRequest* period);
    bool readCustomPeriod(PeriodRequest* period);
    void presentSlots(int devType, qint64 transKoef, QVector<orvela::PeriodSlot>* table);
    QString slotConsumption(int devType, const orvela::PeriodSlot* previous, const orvela::ArchiveValue& value);
    struct SlotTable;
    QByteArray slotEntry(int devType, const orvela::PeriodSlot* previous, const orvela::PeriodSlot& slot,
                         QByteArray* valTable);
    quint16 periodTable(orvela::SlotBuilder& builder, const PeriodRequest& period, qint64 deviceId,
                        const orvela::DeviceIdentity& identity, int timeShift, qint64 transKoef, SlotTable* entries);
    bool readReadingDevice(const char* parameter, quint16 badCode, qint64* deviceId, orvela::DeviceIdentity* identity,
                           int* timeShift, qint64* transKoef);
    bool periodDevice(orvela::SlotBuilder& builder, const PeriodRequest& period, const QSqlQuery& query, int timeShift,
                      QByteArray* device);
    bool periodObject(orvela::SlotBuilder& builder, const PeriodRequest& period, const QSqlQuery& object,
                      QSqlQuery& devices, const QList<int>& deviceRows);
    bool periodDevices(const QList<qint64>& objectIds, const QString& resourceFilter, QSqlQuery* devices,
                       QHash<qint64, QList<int>>* rows);
    bool readReportRange(ReportRange* range);
    bool reportParameters();
    QString reportAddresses();
    bool reportObjects(orvela::SlotBuilder& builder, const ReportRange& range, const QSqlQuery& address);
    bool reportDevices(const QList<qint64>& objectIds, QSqlQuery* devices, QHash<qint64, QList<int>>* rows);
    bool reportDevice(orvela::SlotBuilder& builder, const ReportRange& range, const QSqlQuery& query, int timeShift,
                      QByteArray* device);
    QJsonArray shownValues(int devType, const QVector<orvela::ArchiveValue>& values,
                           const QVector<orvela::ArchiveValue>* previous);
    QString usage(int devType, const orvela::ArchiveValue& earlier, const orvela::ArchiveValue& later);
    bool valuesAtDayEnd(orvela::SlotBuilder& builder, qint64 deviceId, const orvela::DeviceIdentity& identity,
                        const QDate& day, int timeShift, QVector<orvela::ArchiveValue>* values);
    bool consumptionDevice(orvela::SlotBuilder& builder, const QSqlQuery& query, const QDate& first, const QDate& last,
                           int timeShift, QJsonObject* device);
    bool consumptionObject(orvela::SlotBuilder& builder, const QSqlQuery& object, const QDate& first, const QDate& last,
                           const QString& resourceFilter, QJsonObject* entry);
    bool objectReport(qint64 company, const QDate& first, const QDate& last);
    bool hourReport(const QDate& first, const QDate& last);

    // Concentrators and LoRa devices (groups.cpp, concentrators.cpp, lora.cpp).
    bool getMirelTable();
    bool addMirel();
    bool updMirel();
    bool delMirel();
    bool getLoRaTable();
    bool getLoRaDevice();
    bool addLoRaDevice();
    bool updLoRaDevice();
    bool delLoRaDevice();
    bool groupContent(QJsonObject* content);
    bool readChannels(const QJsonValue& channels, const ChannelRules& rules, bool enabledOnly, QList<ChannelMeter>* meters);
    bool identitiesAreFree(const QList<const GroupDevice*>& devices, const QList<qint64>& ownIds);
    bool modelsExist(const QList<qint64>& modelIds);
    bool meterObjectAllowed(qint64 objectId, qint64 company, bool anyObjectForGlobal);
    quint16 insertGroupDevice(orvela::LockedWrite& write, const GroupDevice& device, const QString& columns,
                              const QString& values, qint64* id);
    quint16 installMeter(orvela::LockedWrite& write, qint64 deviceId, qint64 objectId, const QDate& date);
    quint16 moveInstallation(orvela::LockedWrite& write, qint64 deviceId, qint64 objectId, const QDate& date);
    bool groupInCompany(const QList<qint64>& meterIds);
    bool groupChannels(const QString& condition, QList<GroupChannel>* channels);
    static QList<qint64> meterIdsOf(const QList<GroupChannel>& channels);
    quint16 dropUnusedChannels(orvela::LockedWrite& write, const QList<GroupChannel>& current, const QSet<qint64>& kept);
    quint16 detachMeters(orvela::LockedWrite& write, const QList<qint64>& formerMeters);
    bool mirelChannel(const QSqlQuery& row, QJsonObject* channel);
    QJsonObject mirelMaster(const QSqlQuery& row);
    bool mirelConditions(QString* conditions);
    bool readMirel(qint64 company, qint64 ownId, const QList<GroupChannel>& current, GroupDevice* master,
                   QList<ChannelMeter>* meters);
    quint16 insertChannelMeter(orvela::LockedWrite& write, const ChannelMeter& meter, qint64* id);
    QString mirelProduced();
    quint16 applyMirelChannel(orvela::LockedWrite& write, qint64 masterId, const QList<GroupChannel>& current,
                              const ChannelMeter& meter);
    quint16 updateChannelMeter(orvela::LockedWrite& write, const ChannelMeter& meter);
    bool namedMetersAllowed(qint64 masterId, const QList<ChannelMeter>& meters);
    bool isMaster(qint64 deviceId);
    bool devEuiParameter(QString* eui);
    bool loraHub(qint64 masterId, bool withIds, QJsonObject* hub);
    QJsonObject loraTableChannel(const QSqlQuery& row) const;
    QJsonObject loraDeviceChannel(const QSqlQuery& row) const;
    bool appendLoraDevices(QSqlQuery& rows, bool editing);
    bool devEuiIsFree(const QString& eui);
    bool readNewLora(qint64 company, QString* eui, QJsonObject* content, GroupDevice* hub, QList<ChannelMeter>* meters);
    QString loraTuple(const QString& eui, qint64 meterId, const ChannelMeter& meter, qint64 masterId) const;
    bool readChangedLora(qint64 company, const QJsonObject& content, const QList<GroupChannel>& current,
                         QList<ChannelMeter>* meters);
    quint16 applyLoraChannel(orvela::LockedWrite& write, const QString& eui, qint64 masterId,
                             const QList<GroupChannel>& current, const ChannelMeter& meter);

    // Search and technical records (search.cpp).
    bool search();
    QStringList searchFields(int type);
    bool getTechnicalData();
    bool technicalOffset(qint64 deviceId, int* offset);
    bool technicalYear(int year, qint64 deviceId, const QDateTime& from, const QDateTime& to, int offset);

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
    int m_exitCode = 0;
};

} // namespace client
