#include "grades/grade_data.h"

GradeData gradeData = {};
TextStream dataFile = {};
