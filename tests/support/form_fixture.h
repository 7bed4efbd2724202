#pragma once
// A real main window for a test, created afresh for each test and destroyed after it.

#include <gtest/gtest.h>

#include <memory>

#include "app/main_form.h"
#include "runtime/application.h"
#include "tests/support/window_test_support.h"

namespace pelloran::testing {

class MainFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Application().Initialize();
    Application().SetTitle("Pelloran");
  }

  void SetUp() override {
    form = std::make_unique<TMainForm>();
    form->Create();
    form->Show();
    DrainMessages();
  }

  void TearDown() override {
    form.reset();
    DrainMessages();
    Application().SetMainFormHandle(nullptr);
  }

  std::unique_ptr<TMainForm> form;
};

}  // namespace pelloran::testing
