#pragma once

#include <QByteArray>

namespace vantrel::bench {

// A well-formed Intel HEX file of exactly `lines` lines (the last one the
// end-of-file record), 16 data bytes per record, with extended linear
// address records wherever the data crosses 64 KiB. Lines end in CR LF.
QByteArray makeHexFile(int lines);

}  // namespace vantrel::bench
