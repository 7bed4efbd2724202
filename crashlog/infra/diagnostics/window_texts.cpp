#include "crashlog/infra/diagnostics/window_texts.h"

#include <mutex>

namespace pelloran::crashlog {

namespace {

struct TWindowTextsState {
  std::mutex Lock;
  TWindowTexts Texts;
};

// Never destroyed: a failure while the program finalises may still ask.
TWindowTextsState& State() {
  static TWindowTextsState* const state = new TWindowTextsState;
  return *state;
}

}  // namespace

void SetWindowTexts(TWindowTexts texts) {
  TWindowTextsState& state = State();
  std::lock_guard guard(state.Lock);
  state.Texts = std::move(texts);
}

TWindowTexts WindowTexts() {
  TWindowTextsState& state = State();
  std::lock_guard guard(state.Lock);
  return state.Texts;
}

}  // namespace pelloran::crashlog
