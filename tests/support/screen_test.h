// Fixture for screen tests: a scripted gauge and a capturing terminal
// installed as the current ones, and the shared state of a fresh run.
#pragma once

#include <gtest/gtest.h>

#include "console/state.h"
#include "tests/support/capture_terminal.h"
#include "tests/support/recording_adapter.h"

namespace kestran::testing {

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetSharedState();
        gauge.timeline = &term;
        setCurrentAdapter(&gauge);
        setCurrentTerminal(&term);
    }
    void TearDown() override
    {
        setCurrentAdapter(nullptr);
        setCurrentTerminal(nullptr);
    }

    RecordingAdapter gauge;
    CaptureTerminal term;
};

}  // namespace kestran::testing
