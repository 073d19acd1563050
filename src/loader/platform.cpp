#include "loader/platform.h"

#include <QThread>

#include "transfer/hex_file.h"

namespace vantrel {
namespace {

class ThreadSleeper final : public Sleeper {
  public:
    void sleep(int milliseconds) override {
        if (milliseconds > 0) QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
};

class DiskFileReader final : public FileReader {
  public:
    QList<QByteArray> readLines(const QString& path, int maxLines) override { return readHexFile(path, maxLines); }
};

}  // namespace

std::unique_ptr<Sleeper> makeThreadSleeper() {
    return std::make_unique<ThreadSleeper>();
}

std::unique_ptr<FileReader> makeHexFileReader() {
    return std::make_unique<DiskFileReader>();
}

}  // namespace vantrel
