// SPDX-License-Identifier: MIT
// Shared test helper: the invariants every hex editor operation must keep.
#pragma once

#include "hexedit/hexeditmodel.h"

#include <gtest/gtest.h>

inline ::testing::AssertionResult HexEditInvariantsHold(const CHexEditModel& m)
{
    const int len = m.Length();
    if (!m.HasData())
        return ::testing::AssertionSuccess();
    if (len < 0)
        return ::testing::AssertionFailure() << "negative length " << len;
    if (len > 0 && (m.Caret() < 0 || m.Caret() >= len))
        return ::testing::AssertionFailure() << "caret " << m.Caret() << " outside 0.." << len - 1;
    if (len == 0 && m.Caret() != 0)
        return ::testing::AssertionFailure() << "caret " << m.Caret() << " on empty data";
    const bool bothNone = m.SelStart() == -1 && m.SelEnd() == -1;
    const bool bothIn = m.SelStart() >= 0 && m.SelStart() <= len && m.SelEnd() >= 0 && m.SelEnd() <= len;
    if (!bothNone && !bothIn)
        return ::testing::AssertionFailure()
               << "selection " << m.SelStart() << ".." << m.SelEnd() << " with length " << len;
    if (m.TopIndex() < 0 || m.TopIndex() % m.BytesPerRow() != 0)
        return ::testing::AssertionFailure() << "top index " << m.TopIndex();
    if (m.CaretColumn() < CHexEditModel::COL_ADDRESS || m.CaretColumn() > CHexEditModel::COL_HEX_LOW)
        return ::testing::AssertionFailure() << "caret column " << m.CaretColumn();
    return ::testing::AssertionSuccess();
}
