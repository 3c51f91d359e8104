#include "rfc5424.h"

namespace syslogparse {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsPrintable(char c) { return c >= 33 && c <= 126; }

// A cursor over the text; every read is checked against the end, so no padding is relied on.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ == text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    std::string_view Rest() const { return text_.substr(pos_); }

    bool Take(char c) {
        if (AtEnd() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }

    // Exactly count digits whose value lies in [low, high].
    bool Number(std::size_t count, int low, int high) {
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!IsDigit(Peek())) return false;
            value = value * 10 + (text_[pos_++] - '0');
        }
        return value >= low && value <= high;
    }

    // "-" as an empty field, or 1 to max printable characters up to the next space or the end.
    bool Field(std::size_t max, std::string_view& out) {
        std::size_t start = pos_;
        while (!AtEnd() && IsPrintable(text_[pos_])) ++pos_;
        std::size_t length = pos_ - start;
        if (length == 0 || length > max) return false;
        std::string_view field = text_.substr(start, length);
        out = field == "-" ? std::string_view() : field;
        return true;
    }

    // SD-ID or PARAM-NAME: 1 to 32 printable characters other than '=', ']' and '"'.
    bool SdName() {
        std::size_t start = pos_;
        while (!AtEnd() && IsPrintable(text_[pos_]) && text_[pos_] != '=' && text_[pos_] != ']' &&
               text_[pos_] != '"')
            ++pos_;
        return pos_ > start && pos_ - start <= kMaxSdName;
    }

    // The quoted PARAM-VALUE: '"', '\' and ']' only escaped; a lone '\' stands for itself.
    // A NUL would end the text the parser keeps, so it ends the header's well-formedness too.
    bool ParamValue() {
        if (!Take('"')) return false;
        while (!AtEnd()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (c == ']' || c == '\0') return false;
            if (c == '\\' && (Peek() == '"' || Peek() == '\\' || Peek() == ']')) ++pos_;
        }
        return false;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool Version(Reader& r) {
    if (r.Peek() < '1' || r.Peek() > '9') return false;
    r.Take(r.Peek());
    for (int extra = 0; extra < 2 && IsDigit(r.Peek()); ++extra) r.Take(r.Peek());
    return true;  // a fourth digit fails the space that must follow
}

bool Timestamp(Reader& r) {
    if (r.Take('-')) return true;
    bool date =
        r.Number(4, 0, 9999) && r.Take('-') && r.Number(2, 1, 12) && r.Take('-') && r.Number(2, 1, 31);
    bool time = date && r.Take('T') && r.Number(2, 0, 23) && r.Take(':') && r.Number(2, 0, 59) &&
                r.Take(':') && r.Number(2, 0, 59);
    if (!time) return false;
    if (r.Take('.')) {
        std::size_t digits = 0;
        while (IsDigit(r.Peek())) {
            r.Take(r.Peek());
            ++digits;
        }
        if (digits == 0 || digits > kMaxFractionDigits) return false;
    }
    if (r.Take('Z')) return true;
    return (r.Take('+') || r.Take('-')) && r.Number(2, 0, 23) && r.Take(':') && r.Number(2, 0, 59);
}

bool StructuredData(Reader& r) {
    if (r.Take('-')) return true;
    if (r.Peek() != '[') return false;
    while (r.Take('[')) {
        if (!r.SdName()) return false;
        while (r.Take(' ')) {
            if (!r.SdName() || !r.Take('=') || !r.ParamValue()) return false;
        }
        if (!r.Take(']')) return false;
    }
    return true;
}

}  // namespace

bool ReadRfc5424(std::string_view text, Rfc5424Fields& fields) {
    Reader r(text);
    Rfc5424Fields read;
    std::string_view msgId;
    bool header = Version(r) && r.Take(' ') && Timestamp(r) && r.Take(' ') &&
                  r.Field(kMaxHostName, read.hostName) && r.Take(' ') && r.Field(kMaxAppName, read.appName) &&
                  r.Take(' ') && r.Field(kMaxProcId, read.procId) && r.Take(' ') &&
                  r.Field(kMaxMsgId, msgId) && r.Take(' ') && StructuredData(r);
    if (!header) return false;
    if (!r.AtEnd() && !r.Take(' ')) return false;
    read.msg = r.Rest();
    fields = read;
    return true;
}

}  // namespace syslogparse
