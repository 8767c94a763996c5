#pragma once
// Seam: the system log. One call writes one line, verbatim: the text is data, never a format. A
// line that cannot be written is lost; only an allocation failure throws (std::bad_alloc).

#include <string_view>

namespace tessly {

class SystemLog {
  public:
    virtual ~SystemLog() = default;
    virtual void writeLine(std::string_view line) = 0;

    // The platform's system log, kept for the process's life. Defined by each platform.
    static SystemLog& Default();
};

}  // namespace tessly
