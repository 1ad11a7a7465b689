#include "buffer/buffersettings.h"
