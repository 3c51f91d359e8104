// Library-internal message classes: the concrete message object and its implementation.
#pragma once

#include "OVSyslog.h"

class CSyslogImpl {
public:
    CSyslogImpl() = default;
    virtual ~CSyslogImpl();  // frees nothing: the text blocks belong to the consumer
    virtual int getState();
    virtual int setState(int state);
    virtual char* getMessage();
    virtual char* getHost();
    virtual int reserved();
    virtual int parse(const char* data, int length, const char* source);

private:
    char* m_pszMessage = nullptr;
    char* m_pszHost = nullptr;
    int m_iState = 0;
};

class CSyslogMessage : public CSyslogMinitor {
public:
    CSyslogMessage();
    ~CSyslogMessage() override;
    char* getMessage() override;
    char* getHost() override;
    int reserved(unsigned long a, unsigned long b) override;
    int parse(const char* data, int length, const char* source) override;
};
