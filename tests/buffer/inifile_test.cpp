#include "buffer/inifile.h"

#include <gtest/gtest.h>
