#include "app/messagebox.h"
