#include "link/reply_words.h"

namespace vantrel {
namespace {

bool printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 0x20 && u < 0x7F) || c == '\r' || c == '\n';
}

// Somewhere in the text stands the word with one character inside it: a
// run one longer than the word that is the word once that character is
// taken out (not the first or the last: then the word itself would stand).
bool wordWithOneCharacterInside(QByteArrayView text, QByteArrayView word) {
    const qsizetype n = word.size() + 1;
    for (qsizetype start = 0; start + n <= text.size(); ++start) {
        const QByteArrayView run = text.sliced(start, n);
        for (qsizetype skip = 1; skip < word.size(); ++skip) {
            if (run.first(skip) == word.first(skip) && run.sliced(skip + 1) == word.sliced(skip)) return true;
        }
    }
    return false;
}

}  // namespace

bool holdsReplyWord(QByteArrayView text) {
    for (const char* word : kReplyWords)
        if (text.contains(QByteArrayView(word))) return true;
    return false;
}

bool looksLikeDamagedReply(QByteArrayView text) {
    if (holdsReplyWord(text)) return false;
    for (char c : text)
        if (!printable(c)) return true;
    for (const char* word : kReplyWords)
        if (wordWithOneCharacterInside(text, QByteArrayView(word))) return true;
    return false;
}

}  // namespace vantrel
