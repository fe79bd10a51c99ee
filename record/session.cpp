#include "record/session.h"

#include <cerrno>
#include <ctime>

#include "adapter/tool_version.h"
#include "record/files.h"

namespace kestran::record {

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
        const PathKind existing = pathKind(record);
        if (existing == PathKind::Directory) {
            error = record + " is a directory";
            return false;
        }
        if (existing == PathKind::Other && !options.force) {
            error = record + " exists; --force replaces it";
            return false;
        }
        // Written only after the first screen: find out now whether it can be.
        std::string why;
        if (!canWriteBeside(record, why)) {
            error = "cannot write the recording " + why;
            return false;
        }
    }
    const std::string& trace = options.tracePath;
    if (trace == "-") {
        traceFile_ = stderr;
    } else if (!trace.empty()) {
        traceFile_ = openTrace(trace, options.force);
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
