#pragma once

#include "cgi/exchangechannel.h"

namespace tarn {

// The CGI process's channel: the process environment, standard input and standard output.
// Tests may inject an environment and other descriptors.
class DescriptorChannel : public ExchangeChannel {
public:
    void setEnvironmentEntries(const QList<QByteArray>& entries);
    void setInputDescriptor(int fd) { m_inputFd = fd; }
    void setOutputDescriptor(int fd) { m_outputFd = fd; }

    QList<QByteArray> environmentEntries() const override;
    bool inputOpen() const override;
    bool waitReadable(int timeoutMs) override;
    qint64 readSome(char* buffer, int size) override;
    void closeInput() override;
    bool outputOpen() const override;
    bool writeAll(const QByteArray& bytes) override;

    // Ends the CGI process's standard output (the null device takes its place), so that the web
    // server has the whole answer while the process still tidies up.
    static void closeProcessOutput();

private:
    bool m_useInjectedEnvironment = false;
    QList<QByteArray> m_injectedEnvironment;
    int m_inputFd = 0;
    int m_outputFd = 1;
};

} // namespace tarn
