#include "buffer/inifile.h"
