#include "flasher/terminal/console.h"

#include <chrono>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vantrel::flasher {
namespace {

constexpr int kBarWidth = 24;
// A terminal is redrawn at most this often; a fast line outruns the eye and
// the redraws would cost more than the transfer.
constexpr qint64 kRedrawMs = 100;

}  // namespace

QString fitToWidth(const QString& line, int columns) {
    if (columns <= 1 || line.size() < columns) return line;
    return line.left(columns - 1);
}

int terminalColumns(int fd, const QByteArray& columnsVariable) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    bool ok = false;
    const int columns = columnsVariable.trimmed().toInt(&ok);
    return ok && columns > 0 ? columns : 0;
}

bool drawsInPlace(bool isTerminal, const QByteArray& term) {
    return isTerminal && term != "dumb";
}

int Lanes::add(const QString& text) {
    erase();
    lanes_.append(text);
    draw();
    return static_cast<int>(lanes_.size()) - 1;
}

void Lanes::set(int lane, const QString& text) {
    if (lane < 0 || lane >= lanes_.size()) return;
    lanes_[lane] = text;
    erase();
    draw();
}

void Lanes::print(const QString& text) {
    erase();
    err_(text + u'\n');
    draw();
}

void Lanes::setFooter(const QString& text) {
    if (text == footer_) return;
    erase();
    footer_ = text;
    draw();
}

void Lanes::finish() {
    if (drawn_ > 0) err_(QStringLiteral("\n"));
    drawn_ = 0;
    lanes_.clear();
    footer_.clear();
}

void Lanes::erase() {
    if (drawn_ == 0) return;
    // Back to the first lane, then clear to the end of the screen.
    QString up = QStringLiteral("\r");
    if (drawn_ > 1) up += QStringLiteral("\x1b[%1A").arg(drawn_ - 1);
    err_(up + QStringLiteral("\x1b[J"));
    drawn_ = 0;
}

void Lanes::draw() {
    QStringList lines = lanes_;
    if (!footer_.isEmpty()) lines.append(footer_);
    QString block;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        block += fitToWidth(lines[i], width_) + QStringLiteral("\x1b[K");
        if (i + 1 < lines.size()) block += u'\n';
    }
    if (!block.isEmpty()) err_(block);
    drawn_ = static_cast<int>(lines.size());
}

QString passName(Pass pass) {
    return pass == Pass::Download ? QStringLiteral("download") : QStringLiteral("verify");
}

QString formatDuration(qint64 seconds) {
    if (seconds < 0) return QStringLiteral("--:--");
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds / 60) % 60;
    const qint64 s = seconds % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QChar(u'0')).arg(s, 2, 10, QChar(u'0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QChar(u'0'));
}

Console::Clock Console::monotonicClock() {
    return [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

Console::Console(Style style, bool quiet, Sink err, Sink out, Clock clock)
    : style_(style), quiet_(quiet), err_(std::move(err)), out_(std::move(out)), clock_(std::move(clock)) {}

Console::Console(Style style, bool quiet, QString label, Lanes* lanes, Sink err, Sink out, Clock clock)
    : style_(style),
      quiet_(quiet),
      label_(std::move(label)),
      lanes_(style == Style::Terminal ? lanes : nullptr),
      err_(std::move(err)),
      out_(std::move(out)),
      clock_(std::move(clock)) {
    if (lanes_ != nullptr) lane_ = lanes_->add(label_);
}

QString Console::labelled(const QString& text) const {
    return label_.isEmpty() ? text : label_ + QStringLiteral(": ") + text;
}

void Console::settle(const QString& text) {
    if (lanes_ != nullptr) lanes_->set(lane_, labelled(text));
}

void Console::emitErr(const QString& text) {
    if (lanes_ != nullptr) {
        lanes_->print(labelled(text));
        return;
    }
    if (!label_.isEmpty()) {
        err_(labelled(text) + u'\n');
        return;
    }
    if (!barShown_) {
        err_(text + u'\n');
        return;
    }
    // Out of the bar's line, the text, and the bar back underneath.
    clearBar();
    err_(text + u'\n');
    drawBar(lastLine_, lastTotal_);
}

void Console::info(const QString& text) {
    if (!quiet_) emitErr(text);
}

void Console::error(const QString& text) {
    emitErr(text);
}

void Console::passthrough(const QString& text) {
    emitErr(text);
}

void Console::result(const QString& text) {
    out_(label_.isEmpty() ? text + u'\n' : label_ + u' ' + text + u'\n');
}

void Console::beginTransfer(int lines, int passes) {
    passes_ = passes;
    passIndex_ = -1;
    linesSent_ = 0;
    lastTenth_ = 0;
    lastLine_ = 0;
    lastTotal_ = lines;
    startedMs_ = clock_();
    drawnMs_ = -1;
    inTransfer_ = true;
    transferEnded_ = false;
}

std::optional<Console::Figures> Console::transferFigures() const {
    if (transferEnded_) return Figures{endRate_, 0};
    if (!inTransfer_) return std::nullopt;
    return figures(lastLine_, lastTotal_);
}

Console::Figures Console::figures(int line, int total) const {
    Figures f;
    const qint64 elapsed = clock_() - startedMs_;
    // The first line is written at the start; the rate is known from the second.
    if (linesSent_ < 2 || elapsed <= 0) return f;
    f.rate = (linesSent_ - 1) * 1000.0 / static_cast<double>(elapsed);
    const int passesAfter = std::max(0, passes_ - passIndex_ - 1);
    const qint64 left = static_cast<qint64>(total - line) + static_cast<qint64>(passesAfter) * total;
    f.secondsLeft = f.rate > 0.0 ? static_cast<qint64>(std::ceil(left / f.rate)) : -1;
    return f;
}

QString Console::describe(int line, int total) const {
    const Figures f = figures(line, total);
    const QString rate = f.rate > 0.0 ? QString::number(f.rate, 'f', 1) : QStringLiteral("--");
    return QStringLiteral("%1/%2  %3 lines/s  %4 left").arg(line).arg(total).arg(rate, formatDuration(f.secondsLeft));
}

void Console::drawBar(int line, int total) {
    const int filled = total > 0 ? static_cast<int>(static_cast<qint64>(line) * kBarWidth / total) : 0;
    const QString bar = QString(filled, u'#') + QString(kBarWidth - filled, u'-');
    const QString pass = passes_ > 1 ? QStringLiteral("%1 %2/%3").arg(passName(pass_)).arg(passIndex_ + 1).arg(passes_)
                                     : passName(pass_);
    const QString progress = QStringLiteral("%1 [%2] %3").arg(pass, bar, describe(line, total));
    drawnMs_ = clock_();
    if (lanes_ != nullptr) {
        lanes_->set(lane_, labelled(progress));
        return;
    }
    err_(QStringLiteral("\r%1\x1b[K").arg(fitToWidth(progress, width_)));
    barShown_ = true;
}

void Console::clearBar() {
    err_(QStringLiteral("\r\x1b[K"));
    barShown_ = false;
}

void Console::lineSent(Pass pass, int line, int total) {
    if (!inTransfer_) beginTransfer(total, 1);
    const bool newPass = passIndex_ < 0 || pass != pass_;
    if (newPass) {
        pass_ = pass;
        ++passIndex_;
        lastTenth_ = 0;
    }
    ++linesSent_;
    lastLine_ = line;
    lastTotal_ = total;
    if (quiet_) return;

    if (style_ == Style::Terminal) {
        if (newPass || line == total || drawnMs_ < 0 || clock_() - drawnMs_ >= kRedrawMs) drawBar(line, total);
        return;
    }
    if (newPass) err_(labelled(QStringLiteral("%1: %2 lines\n").arg(passName(pass)).arg(total)));
    const int tenth = total > 0 ? static_cast<int>(static_cast<qint64>(line) * 10 / total) : 0;
    if (tenth > lastTenth_) {
        lastTenth_ = tenth;
        QString progress =
            QStringLiteral("%1 %2%  %3").arg(passName(pass)).arg(tenth * 10, 3).arg(describe(line, total));
        if (runLeft_) progress += QStringLiteral(", run %1 left").arg(formatDuration(runLeft_()));
        err_(labelled(progress + u'\n'));
    }
}

void Console::endTransfer() {
    if (!inTransfer_) return;
    endRate_ = figures(lastLine_, lastTotal_).rate;
    transferEnded_ = true;
    inTransfer_ = false;
    if (lanes_ != nullptr) {
        if (drawnMs_ >= 0) drawBar(lastLine_, lastTotal_);
        return;
    }
    if (barShown_) {
        drawBar(lastLine_, lastTotal_);
        err_(QStringLiteral("\n"));
        barShown_ = false;
    }
}

}  // namespace vantrel::flasher
