#include "batch/column_fit.h"

#include <algorithm>

namespace pelloran {

JobColumnWidths FitJobColumns(int available, int needInput, int needOutput, int needResult) {
  needInput = std::max(needInput, kMinPathColumnWidth);
  needOutput = std::max(needOutput, kMinPathColumnWidth);
  JobColumnWidths w{};
  w.Result = needResult;
  const int rest = std::max(available - needResult, 2 * kMinPathColumnWidth);
  if (needInput + needOutput <= rest) {
    w.Output = needOutput;
    w.Input = rest - needOutput;  // the input column takes the space left over
  } else if (needOutput <= rest / 2) {
    w.Output = needOutput;
    w.Input = rest - needOutput;
  } else if (needInput <= rest / 2) {
    w.Input = needInput;
    w.Output = rest - needInput;
  } else {
    // Both too long: half each, the paths shown cut at their ends.
    w.Output = rest / 2;
    w.Input = rest - w.Output;
  }
  return w;
}

}  // namespace pelloran
