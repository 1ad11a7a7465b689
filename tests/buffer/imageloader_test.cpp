#include "buffer/imageloader.h"

#include <gtest/gtest.h>
