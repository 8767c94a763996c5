#include <syslog.h>
#include <unistd.h>

#include <new>
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
    void writeLine(std::string_view line) noexcept override {
        try {
            const std::string text = terminalSafe(line);
            ::syslog(LOG_USER | LOG_WARNING, "%s", text.c_str());
            std::string withNewline = text + '\n';
            const char* p = withNewline.data();
            std::size_t left = withNewline.size();
            while (left > 0) {
                const ssize_t n = ::write(STDERR_FILENO, p, left);
                if (n <= 0) break;
                p += n;
                left -= static_cast<std::size_t>(n);
            }
        } catch (const std::bad_alloc&) {
            // Out of memory: the line is lost, the agent goes on.
        }
    }
};

}  // namespace

SystemLog& SystemLog::Default() {
    static LinuxSystemLog log;
    return log;
}

}  // namespace tessly
