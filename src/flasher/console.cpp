#include "flasher/console.h"

#include <chrono>
#include <cmath>

namespace vantrel::flasher {
namespace {

constexpr int kBarWidth = 24;
// A terminal is redrawn at most this often; a fast line outruns the eye and
// the redraws would cost more than the transfer.
constexpr qint64 kRedrawMs = 100;

}  // namespace

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

void Console::emitErr(const QString& text) {
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
    out_(text + u'\n');
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
    err_(QStringLiteral("\r%1 [%2] %3\x1b[K").arg(pass, bar, describe(line, total)));
    barShown_ = true;
    drawnMs_ = clock_();
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
    if (newPass) err_(QStringLiteral("%1: %2 lines\n").arg(passName(pass)).arg(total));
    const int tenth = total > 0 ? static_cast<int>(static_cast<qint64>(line) * 10 / total) : 0;
    if (tenth > lastTenth_) {
        lastTenth_ = tenth;
        err_(QStringLiteral("%1 %2%  %3\n").arg(passName(pass)).arg(tenth * 10, 3).arg(describe(line, total)));
    }
}

void Console::endTransfer() {
    if (!inTransfer_) return;
    inTransfer_ = false;
    if (barShown_) {
        drawBar(lastLine_, lastTotal_);
        err_(QStringLiteral("\n"));
        barShown_ = false;
    }
}

}  // namespace vantrel::flasher
