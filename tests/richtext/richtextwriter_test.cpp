#include "richtext/richtextwriter.h"

#include <gtest/gtest.h>
