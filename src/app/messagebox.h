// The program's one message function: every message box goes through here.
#pragma once

#include <QString>

class QWidget;
