// Public interface of the receiver library OVSyslog.dll.
#pragma once

#include <windows.h>

#ifdef OVSYSLOG_BUILD
#define OVSYSLOG_API __declspec(dllexport)
#else
#define OVSYSLOG_API __declspec(dllimport)
#endif

// Result codes: 0xF0MMCCCC, MM the layer (08 socket, 0C datagram thread, 03 message object).
// SYSLOG_E_WAIT, SYSLOG_E_NODATA and SYSLOG_E_STATE never reach a caller of this interface; they
// stay because programs built against this header may name them.
constexpr int SYSLOG_OK = 0;
constexpr int SYSLOG_E_STARTUP = static_cast<int>(0xF0080001u);  // socket library start-up failed
constexpr int SYSLOG_E_SOCKET = static_cast<int>(0xF0080002u);   // UDP socket could not be created
constexpr int SYSLOG_E_WAIT = static_cast<int>(0xF0080003u);     // nothing read in this wait
constexpr int SYSLOG_E_BIND = static_cast<int>(0xF0080004u);     // port could not be bound
constexpr int SYSLOG_E_TCPBIND = static_cast<int>(0xF0080005u);  // TCP port could not be bound
constexpr int SYSLOG_E_NODATA = static_cast<int>(0xF00C0001u);   // datagram thread got no bytes
constexpr int SYSLOG_E_STATE = static_cast<int>(0xF0030007u);    // state other than 1 refused

// The library's names for the registry layout (root HKEY_LOCAL_MACHINE), kept for its callers.
// Spelled out here so that the header stands alone; the library checks them against the names
// its own code uses.
constexpr const char* OVSYSLOG_REG_KEY = "Software\\Telmora\\Orvane\\OVSyslog";
constexpr const char* OVTRAP_REG_KEY = "Software\\Telmora\\Orvane\\OVTrap";
constexpr const char* OVSYSLOG_REG_PORT = "AuthPort";
constexpr const char* OVSYSLOG_REG_STATUS = "Status";
constexpr int OVSYSLOG_DEFAULT_PORT = 514;

class CSyslogImpl;
class CSyslogMinitor;

// Receiver callback: owns the message object and both of its text blocks from the call on.
typedef unsigned int (*SyslogCallback)(CSyslogMinitor* message);
typedef void (*SyslogTurnStep)(void* context);

// One received message: its source host and its text.
class OVSYSLOG_API CSyslog {
public:
    CSyslog(int a = 1, int b = 1);
    virtual ~CSyslog();
    // Both texts are malloc blocks that the caller frees; deleting the object leaves them alone.
    virtual char* getMessage() = 0;
    virtual char* getHost() = 0;
    virtual int reserved(unsigned long a, unsigned long b) = 0;
    // 0 when the datagram was accepted and both texts are stored, -1 when it was refused.
    virtual int parse(const char* data, int length, const char* source) = 0;

protected:
    int m_iArg;
    CSyslogImpl* m_pImpl;
};

class OVSYSLOG_API CSyslogMinitor : public CSyslog {
public:
    CSyslogMinitor(int a, int b);
    virtual ~CSyslogMinitor();

    // Binds the port and receives until stopTrap; 0 after a stop, else an open failure code.
    static int accept(SyslogCallback callback);
    static void stopTrap();
    static void setRadiusPort(int port);
    static int getRadiusPort();

    // For the program that supervises accept: whether its socket is bound now; how many
    // datagrams have been read and not yet been through the callback and the step it queued (a
    // stop waits for none); how many the full backlog has dropped since the library was loaded.
    static bool isListening();
    static long getPendingCount();
    static unsigned long getDroppedCount();

    // A pause taken by the loop itself: pauseTrap asks it to stop reading between two reads,
    // isPaused is true once it rests, continueTrap lets it read on from where it stood. Datagrams
    // read before the pause are still handed to the callback.
    static void pauseTrap();
    static void continueTrap();
    static bool isPaused();

    // Called by the receiver callback with the step of its message that must follow the same
    // sender's earlier messages (their delivery); the step owns the context and runs once, on
    // some datagram thread, after the callback has returned. Called anywhere but in the
    // callback, it runs the step at once.
    static void deliverInTurn(SyslogTurnStep step, void* context);

    // Writes the service status code; true even when the key is missing.
    static bool setServiceStatus(int status);
    // Loads AuthPort; false when it holds something that is not a UDP port.
    static bool setSyslogProperty();

    // The receive buffer that setSyslogProperty loaded from RecvBufferSize for the next accept's
    // socket (bytes; the default until then), and the stored text it refused for being no number
    // from the minimum to the maximum (null when it refused none): the caller reports it.
    static unsigned long getRecvBufferSize();
    static const char* getRefusedRecvBuffer();

private:
    static const char* GetRegInfo(HKEY root, const char* subKey, const char* valueName);
    static int SetValueName(HKEY root, const char* subKey, unsigned long type, const char* valueName,
                            const char* data);

    static int m_iSocketPort;
    // The stop flag as callers have always seen it (0 running, 1 a stop asked); the loop itself
    // stops on its own control. It stays because it is exported with the class.
    static int m_iTrapStatus;
};

// What the TCP input has done since the library was loaded (connections: open now).
struct SyslogTcpCounters {
    unsigned long long connections;
    unsigned long long accepted;
    unsigned long long refused;        // closed at once: the connection limit was reached
    unsigned long long framingErrors;  // frames beyond the longest, length fields that are no number
    unsigned long long bytes;
    unsigned long long heldPeak;  // most messages read from connections and not yet forwarded
};

// The TCP input beside the UDP socket: CSyslogMinitor::accept listens on it too when a port is
// set, with the same pause and stop.
class OVSYSLOG_API CSyslogTcp {
public:
    // Loads TcpPort, TcpMaxConnections and TcpIdleSeconds for the next accept. A value that is
    // no number in its range is reported through the log writer, and its default used (no TCP
    // for TcpPort).
    static void loadSettings();
    static void setPort(int port);  // 1 to 65535; 0 means no TCP
    static int getPort();
    static void setLimits(unsigned maxConnections, unsigned idleSeconds);
    // Where the service's error-log lines go; the library has no log of its own. Any thread.
    static void setLogWriter(void (*write)(const char* line));
    static void getCounters(SyslogTcpCounters* counters);
};
