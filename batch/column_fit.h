#pragma once
// Widths of the job list's three columns (input, output, result) from the widths their texts
// need. The result column always gets all it needs: a job's outcome is never cut. The two path
// columns share the rest, the input column taking whatever the output column leaves.

namespace pelloran {

struct JobColumnWidths {
  int Input;
  int Output;
  int Result;
};

// Below this a path column shows nothing useful.
inline constexpr int kMinPathColumnWidth = 60;

// `available`: the list's client width less room for a vertical scroll bar. `need*`: the width of
// each column's widest text, title included, with the control's margins.
JobColumnWidths FitJobColumns(int available, int needInput, int needOutput, int needResult);

}  // namespace pelloran
