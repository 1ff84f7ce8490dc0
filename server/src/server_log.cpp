// server_log.cpp: the bounded log file and the escaping of client text.
#include "server_log.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace tessera {

namespace {

bool needsEscape(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C || (c >= 0xD800 && c <= 0xDFFF);
}

void appendEscaped(QString& out, char32_t c, bool quoting = true) {
    if (!quoting && (c == u'\\' || c == u'"')) {
        out += QChar(static_cast<char16_t>(c));
        return;
    }
    switch (c) {
        case u'\\':
            out += QLatin1String("\\\\");
            return;
        case u'"':
            out += QLatin1String("\\\"");
            return;
        case u'\n':
            out += QLatin1String("\\n");
            return;
        case u'\r':
            out += QLatin1String("\\r");
            return;
        case u'\t':
            out += QLatin1String("\\t");
            return;
        default:
            break;
    }
    if (!needsEscape(c)) {
        out += QString::fromUcs4(&c, 1);
    } else if (c < 0x100) {
        out += QStringLiteral("\\x%1").arg(static_cast<uint>(c), 2, 16, QLatin1Char('0'));
    } else {
        out += QStringLiteral("\\u{%1}").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
    }
}

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes), 0 when it is not valid.
int utf8Length(const unsigned char* p, qsizetype left, char32_t& c) {
    const unsigned char b = p[0];
    int length = 0;
    char32_t min = 0;
    if (b < 0x80) {
        c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

namespace {

QString escape(QStringView text, qsizetype maxChars, bool quoting) {
    QString out;
    const qsizetype shown = std::min(text.size(), maxChars);
    out.reserve(shown);
    qsizetype i = 0;
    for (; i < shown; ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            ++i;
        }
        appendEscaped(out, c, quoting);
    }
    if (i < text.size()) out += QStringLiteral("...(%1 more)").arg(text.size() - i);
    return out;
}

}  // namespace

QString logSafe(QStringView text, qsizetype maxChars) {
    return escape(text, maxChars, true);
}

QString logLine(QStringView message) {
    return escape(message, message.size(), false);
}

QString logSafe(const QByteArray& bytes, qsizetype maxChars) {
    QString out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = std::min(bytes.size(), maxChars);
    qsizetype i = 0;
    while (i < n) {
        char32_t c = 0;
        const int length = utf8Length(p + i, n - i, c);
        if (length == 0) {
            out += QStringLiteral("\\x%1").arg(static_cast<uint>(p[i]), 2, 16, QLatin1Char('0'));
            ++i;
        } else {
            appendEscaped(out, c);
            i += length;
        }
    }
    if (i < bytes.size()) out += QStringLiteral("...(%1 more bytes)").arg(bytes.size() - i);
    return out;
}

LogFile::~LogFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool LogFile::open(const QByteArray& path, int64_t maxBytes) {
    path_ = path;
    maxBytes_ = maxBytes;
    file_ = std::fopen(path.constData(), "a");
    if (file_ == nullptr) return false;
    struct stat info {};
    size_ = fstat(fileno(file_), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
    return true;
}

void LogFile::rotate() {
    std::fclose(file_);
    const QByteArray old = path_ + ".1";
    std::rename(path_.constData(), old.constData());
    file_ = std::fopen(path_.constData(), "a");
    size_ = 0;
}

void LogFile::writeLine(const QByteArray& line) {
    if (file_ == nullptr) return;
    const int64_t bytes = line.size() + 1;
    if (size_ > 0 && size_ + bytes > maxBytes_) {
        rotate();
        if (file_ == nullptr) return;
    }
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
    size_ += bytes;
}

}  // namespace tessera
