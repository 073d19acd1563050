#pragma once

#include <QByteArrayView>

namespace vantrel {

// The words the bootloader answers with, in the order the reply interpreter
// looks for them.
inline constexpr const char* kReplyWords[] = {"VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK"};

// The text holds one of the reply words (exact, case-sensitive).
bool holdsReplyWord(QByteArrayView text);

// A plain reply that holds no reply word but looks like one the line
// damaged: a character no reply is made of (outside printable ASCII, line
// ends aside), or a reply word with one character pushed into it ("O#K").
// A clean text without a word ("ADR=05", a banner) is none.
bool looksLikeDamagedReply(QByteArrayView text);

}  // namespace vantrel
