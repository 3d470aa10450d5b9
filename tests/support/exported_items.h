#pragma once

#include "panel/exported_menu.h"

#include <gtest/gtest.h>

/// The numeric item id the panel knows the row `rowId` by; fails the test when there is none.
inline int itemIdOf(const ExportedMenu& menu, const QString& rowId)
{
    for (const ExportedMenu::Item& item : menu.items()) {
        if (item.row.id == rowId)
            return item.id;
    }
    ADD_FAILURE() << "no row " << rowId.toStdString();
    return -1;
}
