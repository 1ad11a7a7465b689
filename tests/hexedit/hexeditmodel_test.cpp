#include "hexedit/hexeditmodel.h"

#include <gtest/gtest.h>
