// One small window with a GL 3.3 core context, shared by every GL test of a process.
#pragma once

#include <gtest/gtest.h>

namespace test {

// The drawable size of the shared window.
constexpr int gl_width = 320;
constexpr int gl_height = 240;

// Opens the media scope windowed at gl_width x gl_height the first time it is
// called and keeps it until the process ends; true while the GL context stands.
bool gl_window();

// Base fixture of GL tests: fails the test when no GL context can be had.
class Gl_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl_window()) << "no GL 3.3 core context (run under Xvfb)"; }
};

}  // namespace test
