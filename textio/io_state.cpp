#include "textio/text_stream.h"

uint16_t ioStatus = 0;
uint32_t lastOsError = 0;

OsHandle stdInputHandle = noHandle;
OsHandle stdOutputHandle = noHandle;
OsHandle stdErrorHandle = noHandle;
