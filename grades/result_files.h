// The two result files.
#pragma once

#include "grades/grade_data.h"
#include "runtime/run_error.h"
#include "textio/streams.h"
#include "textio/write_text.h"

namespace grades_detail {

GRADES_INLINE void WriteValuesFile(const char *name, const int32_t *values, int32_t count) {
  GradeData &g = gradeData;
  BindStream(dataFile, StringFrom(name));
  OpenForWriting(dataFile);
  CheckIo();
  for (g.loopIndex = 1; g.loopIndex <= count; ++g.loopIndex) {
    WriteInteger(0, dataFile, values[g.loopIndex]);
    WriteLineEnd(dataFile);
    CheckIo();
  }
  CloseStream(dataFile);
  CheckIo();
}

}  // namespace grades_detail

GRADES_INLINE void WriteResultFiles() {
  using namespace grades_detail;
  const GradeData &g = gradeData;
  WriteValuesFile(kBadNumbersFileName, g.badNumbers, g.nextBad - 1);
  WriteValuesFile(kGoodNumbersFileName, g.goodNumbers, g.nextGood - 1);
}
