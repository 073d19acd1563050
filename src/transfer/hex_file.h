#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vantrel {

// Splits a HEX file's text into its fields: each field runs up to the next
// line end (CR LF, LF or CR) or comma. A line end after the last field adds
// no empty field; an empty text has no fields.
QList<QByteArray> splitHexFields(QByteArrayView data);

// Splits a HEX file's text into its lines at the same line ends as
// splitHexFields, leaving a comma inside its line: the lines as the file
// numbers them. For a text without a comma these are exactly its fields.
QList<QByteArray> splitHexLines(QByteArrayView data);

// Reads a HEX file whole. Fails with vantrel::Failure when the file cannot be
// opened or read, or when it is too large to be a HEX file.
QByteArray readHexFileBytes(const QString& path);

// The fields of a HEX file's bytes, at most maxLines of them; more fail with
// vantrel::Failure naming `path`.
QList<QByteArray> hexFieldsOf(QByteArrayView data, int maxLines, const QString& path);

// Reads the fields of a HEX file, at most maxLines of them. Fails with
// vantrel::Failure when the file cannot be opened or read, when it is too
// large to be a HEX file, or when it has more than maxLines lines.
QList<QByteArray> readHexFile(const QString& path, int maxLines);

// The record is an end-of-file record: after its ':' come the byte count (2
// digits) and the address (4), then the record type "01".
bool isEndOfFileRecord(QByteArrayView record);

}  // namespace vantrel
