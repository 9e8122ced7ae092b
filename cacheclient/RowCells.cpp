#include "RowCells.h"

#include <type_traits>

namespace cacheclient::protocol {

namespace {

constexpr uchar TextString = 3 << 5;

// Writes the head of a text of that length at `at`; returns its size. Without `at`, only the size.
int writeHead(char* at, quint64 length)
{
    if (length < 24) {
        if (at)
            at[0] = char(TextString | length);
        return 1;
    }
    const int bytes = length <= 0xff ? 1 : length <= 0xffff ? 2 : length <= 0xffffffffu ? 4 : 8;
    if (at) {
        at[0] = char(TextString | (bytes == 1 ? 24 : bytes == 2 ? 25 : bytes == 4 ? 26 : 27));
        for (int i = 0; i < bytes; ++i)
            at[1 + i] = char(length >> ((bytes - 1 - i) * 8) & 0xff);
    }
    return 1 + bytes;
}

// Length of the cell at `at`, moving past its head; -1 when the head is not that of a text of
// definite length within `end`.
qint64 readHead(const uchar*& at, const uchar* end)
{
    if (at == end)
        return -1;
    const uchar first = *at++;
    if ((first & 0xe0) != TextString)
        return -1;
    quint64 length = first & 0x1f;
    if (length >= 24) {
        if (length > 27)
            return -1;
        const qsizetype bytes = qsizetype(1) << (length - 24);
        if (end - at < bytes)
            return -1;
        length = 0;
        for (qsizetype b = 0; b < bytes; ++b)
            length = length << 8 | *at++;
    }
    if (length > quint64(end - at))
        return -1;
    return qint64(length);
}

// The length of a cell that passed checkCells, moving past its head.
qsizetype trustedHead(const char*& at)
{
    const uchar first = uchar(*at++) & 0x1f;
    if (first < 24)
        return first;
    quint64 length = 0;
    for (int b = 0, bytes = 1 << (first - 24); b < bytes; ++b)
        length = length << 8 | uchar(*at++);
    return qsizetype(length);
}

// Appends a cell of 7-bit characters, one byte each, in one pass that also notes whether any
// character is wider; false, with nothing appended, when one is.
template <typename Char> bool appendSevenBit(QByteArray& cells, const Char* chars, qsizetype size)
{
    const qsizetype at = cells.size();
    const int head = writeHead(nullptr, quint64(size));
    cells.resize(at + head + size);
    char* out = cells.data() + at;
    writeHead(out, quint64(size));
    out += head;
    std::make_unsigned_t<Char> wide = 0;
    for (qsizetype i = 0; i < size; ++i) {
        wide |= std::make_unsigned_t<Char>(chars[i]);
        out[i] = char(chars[i]);
    }
    if (wide < 0x80)
        return true;
    cells.truncate(at);
    return false;
}

} // namespace

void appendCell(QByteArray& cells, QStringView text)
{
    // The ERP's texts are 7-bit: the rest goes as UTF-8.
    if (appendSevenBit(cells, text.utf16(), text.size()))
        return;
    const qsizetype at = cells.size();
    const QByteArray utf8 = text.toUtf8();
    const int utf8Head = writeHead(nullptr, quint64(utf8.size()));
    cells.resize(at + utf8Head);
    writeHead(cells.data() + at, quint64(utf8.size()));
    cells.append(utf8);
}

bool appendAsciiCell(QByteArray& cells, const char* bytes, qsizetype size)
{
    return appendSevenBit(cells, bytes, size);
}

QString checkCells(const QByteArray& cells, qsizetype rows, qsizetype width)
{
    // Every cell takes a byte at least, so a count beyond the bytes is a lie.
    if (rows < 0 || width < 0 || (width > 0 && rows > cells.size() / width) ||
        (width == 0 && !cells.isEmpty()))
        return QStringLiteral("%1 Zeilen passen nicht zu %2 Bytes").arg(rows).arg(cells.size());
    const uchar* at = reinterpret_cast<const uchar*>(cells.constData());
    const uchar* const end = at + cells.size();
    const qsizetype total = rows * width;
    for (qsizetype n = 0; n < total; ++n) {
        const qint64 length = readHead(at, end);
        if (length < 0)
            return QStringLiteral("Zelle %1 von %2 ist kein vollständiger Text").arg(n + 1).arg(total);
        at += length;
    }
    if (at != end)
        return QStringLiteral("Nach %1 Zellen folgen weitere Bytes").arg(total);
    return QString();
}

QString takeCell(const char*& at)
{
    const qsizetype length = trustedHead(at);
    const char* text = at;
    at += length;
    return length == 0 ? QString() : QString::fromUtf8(text, length);
}

void skipCell(const char*& at)
{
    const qsizetype length = trustedHead(at);
    at += length;
}

} // namespace cacheclient::protocol
