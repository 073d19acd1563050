#include "flasher/exit_codes.h"

#include <map>
#include <set>

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace vantrel::flasher {
namespace {

// Scripts are written against the documented table; the program and the
// table must not drift apart.
TEST(ExitCodes, TheDocumentedTableMatchesTheProgram) {
    QFile doc(QStringLiteral(VANTREL_DOCS_DIR "/flasher.md"));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(doc.readAll());

    static const QRegularExpression row(QStringLiteral("^\\|\\s*(\\d+)\\s*\\|\\s*`([a-z-]+)`\\s*\\|"),
                                        QRegularExpression::MultilineOption);
    std::map<int, QString> documented;
    for (auto it = row.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        EXPECT_TRUE(documented.emplace(m.captured(1).toInt(), m.captured(2)).second)
            << "code " << m.captured(1).toStdString() << " documented twice";
    }
    std::set<int> numbers;
    for (ExitCode code : kAllExitCodes) {
        EXPECT_TRUE(numbers.insert(toInt(code)).second) << "two meanings share " << toInt(code);
        const auto found = documented.find(toInt(code));
        ASSERT_NE(found, documented.end()) << "code " << toInt(code) << " is not in docs/flasher.md";
        EXPECT_EQ(found->second.toStdString(), exitCodeName(code));
    }
    EXPECT_EQ(documented.size(), numbers.size()) << "docs/flasher.md lists a code the program never returns";
}

}  // namespace
}  // namespace vantrel::flasher
