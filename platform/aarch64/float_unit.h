// 64-bit ARM has no x87: the 80-bit format is computed in software there.
#pragma once

#define GRADES_HAVE_X87 0
