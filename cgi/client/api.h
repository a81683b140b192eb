#pragma once

#include "app/resulttype.h"

#include <QMap>
#include <QObject>

namespace orvela {
class HttpOrvelaServer;
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

    // Users.
    bool getUserData();

    orvela::HttpOrvelaServer* m_server = nullptr;
    QMap<QString, int> m_commands;
};

} // namespace client
