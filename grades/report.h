// The statistics report on the console.
#pragma once

#include "grades/grade_data.h"
#include "grades/grade_tally.h"
#include "runtime/run_error.h"
#include "runtime/std_streams.h"
#include "textio/write_real.h"
#include "textio/write_text.h"

namespace grades_detail {

GRADES_INLINE TextStream &out() { return stdOutput; }

GRADES_INLINE void Text(const char *text) { WriteString(0, out(), StringFrom(text)); }

// Rows 2 and 13: each number a statement of its own, a line end after every tenth.
GRADES_INLINE void NumberList(const int32_t *values, int32_t count) {
  GradeData &g = gradeData;
  for (g.loopIndex = 1; g.loopIndex <= count; ++g.loopIndex) {
    WriteInteger(6, out(), values[g.loopIndex]);
    EndWrite(out());
    CheckIo();
    if (g.loopIndex % 10 == 0) {
      WriteLineEnd(out());
      CheckIo();
    }
  }
}

GRADES_INLINE void BlankLine() {
  WriteLineEnd(out());
  CheckIo();
}

}  // namespace grades_detail

GRADES_INLINE void PrintReport() {
  using namespace grades_detail;
  GradeData &g = gradeData;
  Text("A fajlban ");
  WriteInteger(0, out(), g.nextIndex - 1);
  Text(" szam volt.");
  WriteLineEnd(out());
  CheckIo();

  NumberList(g.numbers, g.nextIndex - 1);
  BlankLine();
  BlankLine();

  Text("A fajlban levo osztalyzatok megoszlasa: ");
  WriteInteger(6, out(), g.nextIndex - g.nextBad);
  Text(" db");
  WriteLineEnd(out());
  CheckIo();
  BlankLine();

  for (g.loopIndex = 1; g.loopIndex <= 5; ++g.loopIndex) {
    WriteInteger(0, out(), g.loopIndex);
    Text(" -es osztalyzatok szama: ");
    WriteInteger(6, out(), g.gradeCounts[g.loopIndex]);
    Text(" darab");
    WriteLineEnd(out());
    CheckIo();
  }
  BlankLine();
  BlankLine();

  ComputeAverage();
  Text("A fajlban levo osztalyzatok atlaga: ");
  WriteReal(RealKind::kDouble, 4, 10, out(), Extended::FromDouble(g.average));
  WriteLineEnd(out());
  CheckIo();
  BlankLine();
  BlankLine();

  Text("A fajlban levo rossz szamok: ");
  WriteInteger(10, out(), g.nextBad - 1);
  Text(" db");
  WriteLineEnd(out());
  CheckIo();
  BlankLine();

  NumberList(g.badNumbers, g.nextBad - 1);
}
