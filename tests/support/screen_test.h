// Fixture for screen tests: a scripted gauge and a capturing terminal
// installed as the current ones, and the shared state of a fresh run.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "tests/support/capture_terminal.h"
#include "tests/support/current_devices.h"
#include "tests/support/recording_adapter.h"

namespace kestran::testing {

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gauge.timeline = &term;
        current_.emplace(gauge, term);
    }
    void TearDown() override { current_.reset(); }

    RecordingAdapter gauge;
    CaptureTerminal term;

private:
    std::optional<CurrentDevices> current_;
};

}  // namespace kestran::testing
