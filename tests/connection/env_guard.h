#pragma once

#include <QByteArray>

namespace vantrel::testing {

// Sets or unsets an environment variable for one test and puts the old value
// back afterwards, so tests that move the alias folder leave no trace.
class EnvGuard {
  public:
    explicit EnvGuard(const char* name) : name_(name), wasSet_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {}
    EnvGuard(const char* name, const QByteArray& value) : EnvGuard(name) { qputenv(name_, value); }
    ~EnvGuard() {
        if (wasSet_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    void unset() { qunsetenv(name_); }

  private:
    const char* name_;
    bool wasSet_;
    QByteArray old_;
};

}  // namespace vantrel::testing
