#include "richtext/richtextwriter.h"
