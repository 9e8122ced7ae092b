#pragma once

#include <QByteArray>
#include <QString>

// Result rows packed into one byte string: each cell one CBOR text string of definite length,
// row after row. A batch of thousands of rows then travels as one value instead of a tree of
// arrays that both sides would build and take apart cell by cell, and the client turns into
// texts only the rows that are read.
namespace cacheclient::protocol {

namespace key {
// Request of execute or fetch: true asks for the rows packed.
inline const QString Packed = QStringLiteral("packed");
// Reply: the packed cells and the number of rows they make.
inline const QString Cells = QStringLiteral("cells");
inline const QString Count = QStringLiteral("count");
} // namespace key

void appendCell(QByteArray& cells, QStringView text);
// Appends a cell of UTF-8 bytes when they are 7-bit, as the ERP's texts are; false (nothing
// appended) when they are not.
bool appendAsciiCell(QByteArray& cells, const char* bytes, qsizetype size);

// An error text when the bytes are not exactly rows × width cells; empty when they are.
QString checkCells(const QByteArray& cells, qsizetype rows, qsizetype width);

// Reads one cell of bytes that passed checkCells and moves past it. An empty cell is a null
// text, as an empty text decoded from CBOR is.
QString takeCell(const char*& at);
void skipCell(const char*& at);

} // namespace cacheclient::protocol
