#include "record/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "adapter/tool_version.h"

namespace kestran::record {
namespace {

std::string localTime(std::time_t when)
{
    std::tm parts{};
    localtime_r(&when, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &parts);
    return text;
}

// Beside the file, so the rename stays on one file system; the process id
// keeps two runs recording to one name apart.
std::string temporaryFor(const std::string& path) { return path + "." + std::to_string(getpid()) + ".tmp"; }

std::string reason(const std::string& path, int error) { return path + ": " + std::strerror(error); }

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view text, bool mayReplace, std::string& error)
{
    const std::string temporary = temporaryFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = reason(temporary, errno);
        return false;
    }
    const bool whole = writeAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !whole) {
        error = reason(temporary, whole ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    if (mayReplace) {
        if (::rename(temporary.c_str(), path.c_str()) == 0)
            return true;
    } else if (::link(temporary.c_str(), path.c_str()) == 0) {
        // A new name only: a file that appeared meanwhile is not replaced.
        ::unlink(temporary.c_str());
        return true;
    } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK) {
        // A file system without hard links (a FAT stick): look, then rename.
        struct stat existing{};
        if (::lstat(path.c_str(), &existing) != 0 && errno == ENOENT && ::rename(temporary.c_str(), path.c_str()) == 0)
            return true;
        errno = EEXIST;
    }
    error = reason(path, errno);
    ::unlink(temporary.c_str());
    return false;
}

Session::~Session()
{
    if (traceFile_ && traceFile_ != stderr)
        std::fclose(traceFile_);
}

bool Session::open(const SessionOptions& options, std::string& error)
{
    options_ = options;
    // Only the files' headers give the time: a run that keeps no file reads no time zone.
    if (!options.recordPath.empty() || !options.tracePath.empty())
        startedAt_ = localTime(std::time(nullptr));
    const std::string& record = options.recordPath;
    if (!record.empty()) {
        if (record == "-") {
            error = "--record needs a file: standard output carries the screens";
            return false;
        }
        if (record == options.tracePath) {
            error = "--record and --trace name the same file";
            return false;
        }
        struct stat existing{};
        if (::lstat(record.c_str(), &existing) == 0) {
            error = S_ISDIR(existing.st_mode) ? record + " is a directory"
                    : options.force           ? ""
                                              : record + " exists; --force replaces it";
            if (!error.empty())
                return false;
        }
        // Written only after the first screen: find out now whether it can be.
        const std::string temporary = temporaryFor(record);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = "cannot write the recording " + reason(record, errno);
            return false;
        }
        ::close(fd);
        ::unlink(temporary.c_str());
    }
    const std::string& trace = options.tracePath;
    if (trace == "-") {
        traceFile_ = stderr;
    } else if (!trace.empty()) {
        // "x": an existing trace is not replaced unless forced.
        traceFile_ = std::fopen(trace.c_str(), options.force ? "w" : "wx");
        if (!traceFile_) {
            error = errno == EEXIST ? trace + " exists; --force replaces it" : "cannot write the trace " + reason(trace, errno);
            return false;
        }
    }
    return true;
}

Adapter& Session::wrap(Adapter& backend, std::string_view backendName)
{
    backendName_ = backendName;
    Adapter* active = &backend;
    if (traceFile_) {
        std::string header = "# kestran ";
        header += toolVersionText();
        header += " bus trace from " + startedAt_ + ", " + backendName_ +
                  "\n# ms since start, transaction, operation, command, written -> result, read, call time\n";
        tracer_ = std::make_unique<TraceAdapter>(*active, traceFile_, header);
        active = tracer_.get();
    }
    if (!options_.recordPath.empty()) {
        recorder_ = std::make_unique<PackRecorder>(*active);
        active = recorder_.get();
    }
    return *active;
}

std::string Session::recordingText() const
{
    if (!recorder_)
        return {};
    const unsigned firmware = static_cast<unsigned>(recorder_->openResult());
    char version[32];
    std::snprintf(version, sizeof version, "%u.%u.%u", firmware & 0xFF, (firmware >> 8) & 0xFF, (firmware >> 16) & 0xFF);
    std::string text = "# Recorded with kestran ";
    text += toolVersionText();
    text += ", " + startedAt_ + " to " + localTime(std::time(nullptr)) + "\n";
    text += "# Backend: " + backendName_ + ", adapter firmware " + version + "\n";
    text += "# Bus transactions: " + std::to_string(recorder_->transactions()) +
            ". Replay: kestran --simulate " + options_.recordPath + "\n";
    text += "about recorded " + startedAt_.substr(0, 16) + " from " + backendName_ + "\n";
    return text + recorder_->packLines();
}

bool Session::save()
{
    std::string error;
    if (writeFileAtomically(options_.recordPath, recordingText(), written_ || options_.force, error)) {
        written_ = true;
        saveFailed_ = false;
        return true;
    }
    if (!saveFailed_)
        std::fprintf(stderr, "kestran: cannot write the recording %s\n", error.c_str());
    saveFailed_ = true;
    return false;
}

void Session::screenEnded()
{
    if (recorder_ && recorder_->opened())
        save();
}

int Session::finish(int exitStatus)
{
    int status = exitStatus;
    if (recorder_) {
        if (!recorder_->opened())
            std::fprintf(stderr, "kestran: the adapter did not open: nothing recorded, %s not written\n",
                         options_.recordPath.c_str());
        else if (!save() && status == 0)
            status = 1;
    }
    if (traceFile_) {
        bool failed = std::ferror(traceFile_) != 0;
        if (traceFile_ != stderr)
            failed = std::fclose(traceFile_) != 0 || failed;
        traceFile_ = nullptr;
        if (failed) {
            std::fprintf(stderr, "kestran: writing the trace %s failed\n", options_.tracePath.c_str());
            if (status == 0)
                status = 1;
        }
    }
    return status;
}

}  // namespace kestran::record
