#include "support/LogCapture.h"

#include "logging/FormatterCustom.h"
#include "logging/Log.h"
#include "logging/String.h"
#include "logging/Target.h"

namespace {

// A target that keeps every line it receives, formatted as the log file is.
class CaptureTarget : public logging::Target {
public:
    CaptureTarget() { nullTerminates = false; }

    int WriteText(const logging::String& line) override
    {
        if (line.Length() > 0)
            raw.append(line.Data(), static_cast<size_t>(line.Length()));
        return 0;
    }

    std::wstring raw;  // guarded by deliveryLock
};

}  // namespace

struct LogCapture::Impl {
    FormatterCustom formatter;
    CaptureTarget target;

    Impl() { target.formatter = &formatter; }
    ~Impl() { target.formatter = nullptr; }
};

LogCapture::LogCapture()
{
    StartLogging();
    impl_ = new Impl;
}

LogCapture::~LogCapture()
{
    delete impl_;
    StopLogging();
}

std::vector<std::wstring> LogCapture::Lines() const
{
    const std::wstring raw = Raw();
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        const size_t at = raw.find(L"\r\n", start);
        if (at == std::wstring::npos)
            break;
        lines.push_back(raw.substr(start, at - start));
        start = at + 2;
    }
    // A line cut short has no CR LF of its own.
    if (start < raw.size())
        lines.push_back(raw.substr(start));
    return lines;
}

std::wstring LogCapture::Raw() const
{
    logging::ScopedLock lock(impl_->target.deliveryLock);
    return impl_->target.raw;
}

void LogCapture::Clear()
{
    logging::ScopedLock lock(impl_->target.deliveryLock);
    impl_->target.raw.clear();
}
