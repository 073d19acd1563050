#pragma once

#include <map>
#include <set>

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace vantrel::testing {

// A program run to its end.
struct RunResult {
    bool started = false;
    bool normalExit = false;  // false: it crashed or was killed
    int code = -1;
    QString out;
    QString err;
};
RunResult run(const QString& program, const QStringList& arguments,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Whether `program` is on PATH.
bool onPath(const QString& program);

// Every file and folder under `root`, relative to it, folders ending in '/',
// sorted.
QStringList treeOf(const QString& root);

// A gzip file's content (man pages and the changelog are installed gzipped).
QString gunzip(const QString& path);

// The options a command documents, each long and short name mapped to
// whether it takes a value.
using OptionTable = std::map<QString, bool>;

// From the option lines of --help: "  -p, --port <port>  The port..." (Qt) or
// "  --com N               also make..." (two or more blanks before the text).
OptionTable optionsOfHelp(const QString& help);

// From the .TP entries of a manual page's OPTIONS section.
OptionTable optionsOfManPage(const QString& roff);

// The status numbers listed in a manual page's EXIT STATUS section.
std::set<int> exitStatusesOfManPage(const QString& roff);

}  // namespace vantrel::testing
