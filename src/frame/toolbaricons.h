// SPDX-License-Identifier: MIT
// Pictures of the tool-bar buttons, drawn at 16 by 15 pixels.
#pragma once

#include <QIcon>

QIcon ToolBarIcon(int nCommandId);
