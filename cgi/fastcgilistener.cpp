#include "cgi/fastcgilistener.h"

#include "cgi/httpserver.h"

#include <fcgiapp.h>

#include <csignal>

namespace tarn {

namespace {

// As long as the body reader waits for data by default.
constexpr int kBodyWaitMs = ReadLimits().waitMs;

// The web server stops its FastCGI processes with a signal. The request being served is
// finished first; the library then stops waiting for the next one.
extern "C" void requestShutdown(int)
{
    FCGX_ShutdownPending();
}

void stopOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = requestShutdown;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a waiting accept() must return
    for (int signal : {SIGTERM, SIGINT, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
}

} // namespace

FastCgiListener::FastCgiListener() : m_request(std::make_unique<FCGX_Request>()) {}

FastCgiListener::~FastCgiListener() = default;

bool FastCgiListener::startedWithListeningSocket()
{
    return FCGX_IsCGI() == 0;
}

bool FastCgiListener::listen(const QString& address, QString* error)
{
    if (FCGX_Init() != 0) {
        *error = QStringLiteral("FastCGI library initialisation failed");
        return false;
    }
    int socket = 0;
    if (!address.isEmpty()) {
        socket = FCGX_OpenSocket(address.toLocal8Bit().constData(), 128);
        if (socket < 0) {
            *error = QStringLiteral("cannot listen on ") + address;
            return false;
        }
    }
    if (FCGX_InitRequest(m_request.get(), socket, 0) != 0) {
        *error = QStringLiteral("FastCGI request initialisation failed");
        return false;
    }
    stopOnSignals();
    return true;
}

bool FastCgiListener::accept()
{
    if (FCGX_Accept_r(m_request.get()) < 0) {
        return false;
    }
    m_channel = std::make_unique<FastCgiChannel>(m_request.get(), kBodyWaitMs);
    return true;
}

void FastCgiListener::finish()
{
    m_channel.reset();
    FCGX_Finish_r(m_request.get());
}

} // namespace tarn
