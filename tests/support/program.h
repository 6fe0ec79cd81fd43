// A test that starts the whole program on the headless toolkit, in a fresh
// folder, and acts on its windows as a user would.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "app/toolkit/headless/driver.h"
#include "tests/support/temp_folder.h"

namespace quillory::testing {

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { toolkit::headless::reset(); }
    void TearDown() override { toolkit::headless::reset(); }

    // Starts the program; the script acts on the main window, then ends the
    // program with "退出" if the script left the window open. The exit code.
    int start(std::function<void()> script);

    TempFolder folder;
};

}  // namespace quillory::testing
