#include "parser.h"

#include <cstring>
#include <string_view>

#include "rfc5424.h"

namespace syslogparse {
namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Copies the text at from, up to its first NUL or stop byte, cut to fit the block.
template <std::size_t N>
void CopyText(const char* from, char stop, char (&to)[N]) {
    std::size_t n = 0;
    while (n + 1 < N && from[n] != '\0' && from[n] != stop) {
        to[n] = from[n];
        ++n;
    }
    std::memset(to + n, 0, N - n);
}

// Fills a block piece by piece, cutting at its size and at the first NUL of a piece.
template <std::size_t N>
class BlockWriter {
public:
    explicit BlockWriter(char (&to)[N]) : to_(to) { std::memset(to_, 0, N); }

    void Add(std::string_view text) {
        for (char c : text) {
            if (c == '\0' || full_ || n_ + 1 == N) {
                full_ = true;
                return;
            }
            to_[n_++] = c;
        }
    }

private:
    char (&to_)[N];
    std::size_t n_ = 0;
    bool full_ = false;  // a NUL ends the text even when more pieces follow
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// RFC 5424: the sender's own host name, and "APP[PROCID]: MSG" as an RFC 3164 tag would read.
void StoreRfc5424(const Rfc5424Fields& f, const char* source, char (&host)[kHostBlockSize],
                  char (&message)[kMessageBlockSize]) {
    BlockWriter<kHostBlockSize> hostText(host);
    hostText.Add(f.hostName.empty() && source != nullptr ? std::string_view(source) : f.hostName);

    BlockWriter<kMessageBlockSize> text(message);
    if (!f.appName.empty()) {
        text.Add(f.appName);
        if (!f.procId.empty()) {
            text.Add("[");
            text.Add(f.procId);
            text.Add("]");
        }
        text.Add(": ");
    }
    std::string_view msg = f.msg;
    if (msg.substr(0, kByteOrderMark.size()) == kByteOrderMark) msg.remove_prefix(kByteOrderMark.size());
    text.Add(msg);
}

}  // namespace

bool IsTimestamp(const char* f) {
    bool month = false;
    for (const char* m : kMonths) month = month || std::strncmp(f, m, 3) == 0;
    if (!month || f[3] != ' ') return false;
    bool day = (IsDigit(f[4]) || f[4] == ' ') && IsDigit(f[5]);
    return day && f[6] == ' ' && IsDigit(f[7]) && IsDigit(f[8]) && f[9] == ':' && IsDigit(f[10]) &&
           IsDigit(f[11]) && f[12] == ':' && IsDigit(f[13]) && IsDigit(f[14]);
}

bool ParseDatagram(const char* data, std::size_t length, const char* source, char (&host)[kHostBlockSize],
                   char (&message)[kMessageBlockSize]) {
    // Zero padding past the data lets every position below be read without a length check: the
    // priority (7 bytes), the '>' and the timestamp field end well inside the copy.
    char copy[kWorkCopySize] = {};
    std::size_t n = length < kWorkCopySize - 1 ? length : kWorkCopySize - 1;
    if (n > 0) std::memcpy(copy, data, n);

    if (copy[0] != '<') return false;
    std::size_t k = 0;
    while (k < n && copy[k + 1] != '>') ++k;
    if (k > kMaxPriorityLength) return false;

    const char* field = copy + k + 2;
    std::string_view afterPriority(field, k + 2 <= n ? n - (k + 2) : 0);
    Rfc5424Fields fields;
    if (ReadRfc5424(afterPriority, fields)) {
        StoreRfc5424(fields, source, host, message);
    } else if (IsTimestamp(field)) {
        const char* hostText = field + kTimestampLength + 1;  // the separator is not looked at
        CopyText(hostText, ' ', host);
        const char* space = hostText;
        while (*space != '\0' && *space != ' ') ++space;
        CopyText(*space == ' ' ? space + 1 : space, '\0', message);
    } else {
        CopyText(source != nullptr ? source : "", '\0', host);
        CopyText(*field == ' ' ? field + 1 : field, '\0', message);
    }
    return true;
}

}  // namespace syslogparse
