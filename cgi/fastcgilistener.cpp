#include "cgi/fastcgilistener.h"

#include "cgi/httpserver.h"

#include <fcgiapp.h>

#include <cerrno>
#include <csignal>

namespace tarn {

namespace {

// As long as the body reader waits for data by default.
constexpr int kBodyWaitMs = ReadLimits().waitMs;

volatile sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int)
{
    stopRequested = 1;
}

// USR2 is what multiwatch passes on without stopping itself: the process ends after its
// request and multiwatch starts the program anew in its place (an upgrade's restart).
const int kStopSignals[] = {SIGTERM, SIGINT, SIGUSR1, SIGUSR2};

// The web server stops its FastCGI processes with a signal. It may arrive only while the
// process waits for a request, so that the request being served finishes undisturbed (its
// reads and writes are never interrupted); the wait then ends and the process stops.
void setStopSignals(int how)
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kStopSignals) {
        sigaddset(&set, signal);
    }
    sigprocmask(how, &set, nullptr);
}

void installStopHandler()
{
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: the waiting accept() must return
    for (int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
    }
    setStopSignals(SIG_BLOCK);
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
    if (FCGX_InitRequest(m_request.get(), socket, FCGI_FAIL_ACCEPT_ON_INTR) != 0) {
        *error = QStringLiteral("FastCGI request initialisation failed");
        return false;
    }
    installStopHandler();
    return true;
}

bool FastCgiListener::accept()
{
    for (;;) {
        setStopSignals(SIG_UNBLOCK); // a stop signal that came meanwhile is handled here
        const int rc = stopRequested ? -EINTR : FCGX_Accept_r(m_request.get());
        setStopSignals(SIG_BLOCK);
        if (stopRequested || (rc < 0 && rc != -EINTR)) {
            return false;
        }
        if (rc >= 0) {
            break;
        }
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
