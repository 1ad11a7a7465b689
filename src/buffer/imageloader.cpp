#include "buffer/imageloader.h"
