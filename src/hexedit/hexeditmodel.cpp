#include "hexedit/hexeditmodel.h"
