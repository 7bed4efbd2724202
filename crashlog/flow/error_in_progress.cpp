#include "crashlog/flow/error_in_progress.h"

namespace pelloran::crashlog {

namespace {

// Written only by the thread that holds the flow's busy claim.
TErrorInProgress* published = nullptr;

}  // namespace

TErrorInProgress::~TErrorInProgress() { WithdrawRecord(); }

void TErrorInProgress::PublishRecord() noexcept { published = this; }

void TErrorInProgress::WithdrawRecord() noexcept {
  if (published == this) published = nullptr;
}

TErrorInProgress* CurrentError() noexcept { return published; }

}  // namespace pelloran::crashlog
