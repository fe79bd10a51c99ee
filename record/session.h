// --record and --trace for one run: their files, the adapters that write
// them around the backend, and the rewrite of the recording after each screen.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "adapter/smbus.h"
#include "record/pack_recorder.h"
#include "record/trace.h"

namespace kestran::record {

struct SessionOptions {
    std::string recordPath{};  // empty: no recording
    std::string tracePath{};   // empty: no trace; "-": standard error
    bool force = false;        // either file may replace one that exists
};

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Before anything is shown: makes sure the recording can be written where
    // asked (and does not replace a file unless forced), and opens the trace.
    // On failure returns false with a one-line reason.
    bool open(const SessionOptions& options, std::string& error);

    // The adapter the screens are to use: `backend`, traced and recorded as
    // asked. `backendName` says in both files what answered ("the simulator,
    // pack bq20z").
    Adapter& wrap(Adapter& backend, std::string_view backendName);

    // After each screen: the recording so far replaces the file.
    void screenEnded();

    // At the end of the run: the last rewrite, and the trace closed. Returns
    // exitStatus, or 1 when a file asked for could not be written.
    int finish(int exitStatus);

    // The recording as it would be written now, header included.
    std::string recordingText() const;

private:
    bool save();

    SessionOptions options_;
    std::string startedAt_;  // local time, as the files' headers give it
    std::string backendName_;
    std::FILE* traceFile_ = nullptr;
    std::unique_ptr<TraceAdapter> tracer_;
    std::unique_ptr<PackRecorder> recorder_;
    bool written_ = false;      // the recording file is ours to replace
    bool saveFailed_ = false;   // the last rewrite failed (said once until one succeeds)
};

}  // namespace kestran::record
