// Exceptions escaping event handlers and timer ticks reach the application's handler; the timer
// runs only while it is enabled and has a handler.
#include "runtime/application.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "runtime/controls.h"
#include "base/exceptions.h"
#include "tests/support/window_test_support.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BoxWatcher;
using testing::PumpFor;
using testing::PumpUntil;

class TestForm : public TForm {
 public:
  TestForm() {
    CreateHandle("test form", WS_OVERLAPPEDWINDOW, 0, 200, 100);
    button = std::make_unique<TButton>(*this, Handle(), "go");
    button->SetBounds(10, 10, 80, 24);
    timer = std::make_unique<TTimer>(*this, 50);
    Show();
  }
  void Click() { ::SendMessageA(button->Handle(), BM_CLICK, 0, 0); }
  std::unique_ptr<TButton> button;
  std::unique_ptr<TTimer> timer;
};

class ApplicationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Application().Initialize();
    Application().SetTitle("Pelloran");
  }
  void TearDown() override {
    Application().OnException = nullptr;
    form.reset();
    testing::DrainMessages();
    Application().SetMainFormHandle(nullptr);
  }
  std::unique_ptr<TestForm> form = std::make_unique<TestForm>();
};

TEST_F(ApplicationTest, AnExceptionFromAClickIsShownWithTheApplicationTitle) {
  BoxWatcher boxes;
  form->button->OnClick = [] { throw EConvertError("'x' is not a valid integer value"); };
  form->Click();
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() == 1; }, 10s));
  EXPECT_EQ(boxes.Seen()[0].Caption, "Pelloran");
  EXPECT_EQ(boxes.Seen()[0].Text, "'x' is not a valid integer value.");
  EXPECT_EQ(boxes.Seen()[0].Icon, static_cast<UINT>(MB_ICONSTOP));

  form->button->OnClick = [] { throw std::runtime_error("standard failure."); };
  form->Click();
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() == 2; }, 10s));
  EXPECT_EQ(boxes.Seen()[1].Text, "standard failure.");
}

TEST_F(ApplicationTest, AbortIsSilentAndOnExceptionDecides) {
  BoxWatcher boxes;
  form->button->OnClick = [] { throw EAbort("quiet"); };
  form->Click();
  PumpFor(300ms);
  EXPECT_EQ(boxes.Count(), 0u);

  std::string handled;
  TObject* from = nullptr;
  Application().OnException = [&](TObject* sender, std::exception_ptr error) {
    from = sender;
    handled = ExceptionMessage(error);
  };
  form->button->OnClick = [] { throw EInOutError("I/O error 5", 5); };
  form->Click();
  PumpFor(100ms);
  EXPECT_EQ(handled, "I/O error 5");
  EXPECT_EQ(from, form->button.get());
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(ApplicationTest, AnExceptionFromATimerTickDoesNotStopTheTimer) {
  BoxWatcher boxes;
  int ticks = 0;
  form->timer->SetOnTimer([&] {
    if (++ticks == 1) throw Exception("first tick failed");
  });
  form->timer->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 10s));
  form->timer->SetEnabled(false);
  EXPECT_EQ(boxes.CountText("first tick failed."), 1u);
}

TEST_F(ApplicationTest, TheTimerRunsOnlyWhileEnabledWithAHandler) {
  TTimer& timer = *form->timer;
  EXPECT_FALSE(timer.Running());
  timer.SetEnabled(true);
  EXPECT_FALSE(timer.Running()) << "no handler yet";
  int ticks = 0;
  timer.SetOnTimer([&] { ++ticks; });
  EXPECT_TRUE(timer.Running());
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }, 10s));

  // Detaching the handler stops the system timer, also while the timer stays enabled.
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.Running());
  EXPECT_TRUE(timer.Enabled());
  const int seen = ticks;
  PumpFor(300ms);
  EXPECT_EQ(ticks, seen);
  timer.SetOnTimer([&] { ++ticks; });
  EXPECT_TRUE(timer.Running());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
}

}  // namespace
}  // namespace pelloran
