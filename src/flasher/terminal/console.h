#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

namespace vantrel::flasher {

enum class Pass { Download, Verify };

QString passName(Pass pass);

// The bottom of a terminal while several boards are flashed: one line per
// board, redrawn in place, and messages printed above them.
class Lanes {
  public:
    using Sink = std::function<void(const QString&)>;
    explicit Lanes(Sink err) : err_(std::move(err)) {}
    // Each lane is cut to `columns` characters less one, so that it never
    // wraps and the redraw keeps its place (0: not cut).
    void setWidth(int columns) { width_ = columns; }

    // A new line at the bottom; its number for set().
    int add(const QString& text = QString());
    void set(int lane, const QString& text);
    // Whole lines above the lanes.
    void print(const QString& text);
    // One line under all the lanes, however many are added later (empty: none).
    void setFooter(const QString& text);
    // Leaves the lanes standing and the cursor below them.
    void finish();

  private:
    void erase();
    void draw();

    Sink err_;
    QStringList lanes_;
    QString footer_;
    int drawn_ = 0;  // lines on the screen now
    int width_ = 0;
};

// A line cut to a terminal of `columns` characters: at most columns - 1 of
// them, so that the cursor stays on the line (0: not cut).
QString fitToWidth(const QString& line, int columns);

// The terminal's width: the terminal's own word for `fd`, else COLUMNS
// (`columnsVariable`), else 0 (unknown: not cut).
int terminalColumns(int fd, const QByteArray& columnsVariable);

// Whether progress is drawn in place: on a terminal, unless TERM says it
// cannot move the cursor ("dumb").
bool drawsInPlace(bool isTerminal, const QByteArray& term);

// Everything the flasher tells a person or a script. Standard error carries
// the progress and the messages, standard output only results that a script
// may want to read (the board's version). On a terminal the progress is one
// bar redrawn in place; elsewhere (a log file, a pipe) it is a line at each
// pass change and at every tenth of a pass.
class Console {
  public:
    enum class Style { Terminal, Plain };
    using Sink = std::function<void(const QString&)>;
    using Clock = std::function<qint64()>;  // monotonic milliseconds

    Console(Style style, bool quiet, Sink err, Sink out, Clock clock = monotonicClock());
    // One of several boards: every line it prints starts with `label`; on a
    // terminal its progress is its own line of `lanes`.
    Console(Style style, bool quiet, QString label, Lanes* lanes, Sink err, Sink out, Clock clock = monotonicClock());

    // The terminal's width: the progress bar is cut to it (0: not cut).
    void setWidth(int columns) { width_ = columns; }

    // Progress and remarks; nothing with --quiet.
    void info(const QString& text);
    // Failures, and the loader's message boxes; always shown.
    void error(const QString& text);
    // A line for standard output.
    void result(const QString& text);
    // The board's last word, on a terminal with several boards: it stays in
    // the board's line. Elsewhere the lines already said it.
    void settle(const QString& text);
    // A line that is not ours (the frame trace, Qt's warnings): always shown,
    // without breaking the bar.
    void passthrough(const QString& text);

    // A transfer of `lines` lines in `passes` passes (2: download and verify).
    void beginTransfer(int lines, int passes);
    // Line `line` (1-based) of `total` has just been written.
    void lineSent(Pass pass, int line, int total);
    void endTransfer();

    static Clock monotonicClock();

    struct Figures {
        double rate = 0.0;        // lines per second; 0 while unknown
        qint64 secondsLeft = -1;  // -1 while unknown
    };
    // The transfer's figures now, for the time left of a whole run: nothing
    // before it began; once it ended, its last rate and nothing left.
    std::optional<Figures> transferFigures() const;

    // The whole run's time left in seconds (-1: unknown), said on every
    // progress line into a log or a pipe; not given: not said.
    void setRunTimeLeft(std::function<qint64()> secondsLeft) { runLeft_ = std::move(secondsLeft); }

  private:
    Figures figures(int line, int total) const;
    QString describe(int line, int total) const;
    void drawBar(int line, int total);
    void clearBar();
    void emitErr(const QString& text);
    QString labelled(const QString& text) const;

    Style style_;
    bool quiet_;
    QString label_;
    Lanes* lanes_ = nullptr;
    int lane_ = -1;
    Sink err_;
    Sink out_;
    Clock clock_;
    int width_ = 0;

    int passes_ = 0;
    int passIndex_ = -1;
    Pass pass_ = Pass::Download;
    int linesSent_ = 0;
    qint64 startedMs_ = 0;
    qint64 drawnMs_ = -1;
    int lastLine_ = 0;
    int lastTotal_ = 0;
    int lastTenth_ = 0;
    bool barShown_ = false;
    bool inTransfer_ = false;
    bool transferEnded_ = false;
    double endRate_ = 0.0;
    std::function<qint64()> runLeft_;
};

// "0:43", "1:02:07"; "--:--" for an unknown time.
QString formatDuration(qint64 seconds);

}  // namespace vantrel::flasher
