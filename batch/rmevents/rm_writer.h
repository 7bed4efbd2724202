#pragma once
// Second pass: writes the cleaned file front to back from the input and the plan. Packets of the
// streams that stay are copied byte for byte, in their order, with their stream numbers.

#include "batch/rmevents/byte_stream.h"
#include "batch/rmevents/clean_plan.h"
#include "batch/rmevents/rm_scan.h"

namespace pelloran::rmevents {

// Raises ERealMediaError when the input no longer matches what the scan saw.
void WriteCleanFile(BufferedReader& in, const InputLayout& layout, const CleanPlan& plan,
                    BufferedWriter& out);

}  // namespace pelloran::rmevents
