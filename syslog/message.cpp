#include "message.h"

#include <cstdlib>

#include "com_count.h"
#include "parser.h"

CSyslog::CSyslog(int a, int b) : m_iArg(a), m_pImpl(nullptr) {
    if (b == 1) {
        m_pImpl = new CSyslogImpl;
        m_pImpl->setState(1);
    }
}

CSyslog::~CSyslog() { delete m_pImpl; }

CSyslogMinitor::CSyslogMinitor(int a, int b) : CSyslog(a, b) {}

CSyslogMinitor::~CSyslogMinitor() = default;

CSyslogImpl::~CSyslogImpl() = default;

int CSyslogImpl::getState() { return m_iState; }

int CSyslogImpl::setState(int state) {
    if (state != 1) return SYSLOG_E_STATE;
    m_iState = state;
    return 0;
}

char* CSyslogImpl::getMessage() { return m_pszMessage; }

char* CSyslogImpl::getHost() { return m_pszHost; }

int CSyslogImpl::reserved() { return 0; }

int CSyslogImpl::parse(const char* data, int length, const char* source) {
    CountedCoInitialize();
    if (data == nullptr || length < 1) return -1;

    // The blocks go to the receiver callback, which frees them with free().
    char* host = static_cast<char*>(std::calloc(1, syslogparse::kHostBlockSize));
    char* message = static_cast<char*>(std::calloc(1, syslogparse::kMessageBlockSize));
    if (host == nullptr || message == nullptr ||
        !syslogparse::ParseDatagram(data, static_cast<std::size_t>(length), source,
                                    *reinterpret_cast<char(*)[syslogparse::kHostBlockSize]>(host),
                                    *reinterpret_cast<char(*)[syslogparse::kMessageBlockSize]>(message))) {
        std::free(host);
        std::free(message);
        return -1;
    }
    m_pszHost = host;
    m_pszMessage = message;
    return 0;
}

CSyslogMessage::CSyslogMessage() : CSyslogMinitor(1, 1) {}

CSyslogMessage::~CSyslogMessage() = default;

char* CSyslogMessage::getMessage() { return m_pImpl->getMessage(); }

char* CSyslogMessage::getHost() { return m_pImpl->getHost(); }

int CSyslogMessage::reserved(unsigned long, unsigned long) { return 0; }

int CSyslogMessage::parse(const char* data, int length, const char* source) {
    return m_pImpl->parse(data, length, source);
}
