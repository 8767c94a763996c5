#include <syslog.h>
#include <unistd.h>

#include <string>

#include "agent/SystemLog.h"
#include "base/TerminalText.h"

namespace tessly {
namespace {

// The journal picks syslog up; standard error shows the line to whoever started the agent by hand.
// The line may carry text from outside (a path under HOME, a system's error text), so controls and
// invalid UTF-8 are escaped: it stays one line, and a terminal acts on none of its bytes.
class LinuxSystemLog final : public SystemLog {
  public:
    void writeLine(std::string_view line) override {
        std::string text = terminalSafe(line);
        ::syslog(LOG_USER | LOG_WARNING, "%s", text.c_str());
        text += '\n';
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(STDERR_FILENO, p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
};

}  // namespace

SystemLog& SystemLog::Default() {
    static LinuxSystemLog log;
    return log;
}

}  // namespace tessly
