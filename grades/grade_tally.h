// Reading and tallying the grade file.
#pragma once

#include "extended/extended.h"
#include "grades/grade_data.h"
#include "runtime/run_error.h"
#include "textio/read_integer.h"
#include "textio/streams.h"

GRADES_INLINE void ReadGradeFile() {
  GradeData &g = gradeData;
  g.nextIndex = 1;
  g.nextBad = 1;
  g.nextGood = 1;
  BindStream(dataFile, StringFrom(kGradeFileName));
  OpenForReading(dataFile);
  CheckIo();
  for (;;) {
    bool atEnd = IsEndOfFile(dataFile);
    CheckIo();
    if (atEnd) break;
    int32_t value = ReadInteger(dataFile);
    ReadLineEnd(dataFile);
    CheckIo();
    // The arrays hold 1000 values; one more would overrun them.
    if (g.nextIndex > kMaxValues) RaiseRunError(kRangeCheckError);
    g.numbers[g.nextIndex] = value;
    if (value >= 1 && value <= 5) {
      ++g.gradeCounts[value];
      g.goodNumbers[g.nextGood++] = value;
    } else {
      g.badNumbers[g.nextBad++] = value;
    }
    ++g.nextIndex;
  }
  CloseStream(dataFile);
  CheckIo();
}

GRADES_INLINE void ComputeAverage() {
  GradeData &g = gradeData;
  // Each sum is stored back as a double, as is the quotient; with no valid
  // grade the division is 0/0, an invalid operation that traps.
  for (int32_t k = 1; k <= 5; ++k)
    g.average = Extended::Add(Extended::FromDouble(g.average), Extended::FromInt32(g.gradeCounts[k] * k)).ToDouble();
  g.average = Extended::Div(Extended::FromDouble(g.average), Extended::FromInt32(g.nextIndex - g.nextBad)).ToDouble();
}
