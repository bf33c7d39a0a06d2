// The grade program's data model: everything it reads, counts and writes.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

constexpr int32_t kMaxValues = 1000;

struct GradeData {
  int32_t nextIndex;  // next free slot of numbers; values read = nextIndex - 1
  int32_t loopIndex;  // the one loop variable of every report and file loop
  int32_t nextBad;
  int32_t nextGood;
  int32_t gradeCounts[6];               // [1..5]
  int32_t numbers[kMaxValues + 1];      // [1..1000], in file order
  int32_t badNumbers[kMaxValues + 1];   // values outside 1..5
  int32_t goodNumbers[kMaxValues + 1];  // values 1..5
  double average;
};

extern GradeData gradeData;
// The program's only stream, bound in turn to its three files.
extern TextStream dataFile;

inline constexpr const char *kGradeFileName = "E:\\devpas\\jegyek\\egeszek.txt";
inline constexpr const char *kBadNumbersFileName = "E:\\devpas\\jegyek\\rosszjegyek.txt";
inline constexpr const char *kGoodNumbersFileName = "E:\\devpas\\jegyek\\jojegyek.txt";

// The program's steps are inlined into its main routine, so that every
// statement of the run lies in one frame: a run-time error's back-trace then
// ends right after the location, at the main routine's return point.
#define GRADES_INLINE [[gnu::always_inline]] inline

[[noreturn]] void RunGradeProgram();
