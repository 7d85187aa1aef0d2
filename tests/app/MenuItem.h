#pragma once
// An item of a window's menu bar, found as the user finds it: by the menu's
// and the item's captions.

#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

inline QAction* MenuItem(QMainWindow& w, const char* menu, const char* item)
{
    for (QAction* m : w.menuBar()->actions())
        if (m->text() == QString::fromUtf8(menu) && m->menu())
            for (QAction* a : m->menu()->actions())
                if (a->text() == QString::fromUtf8(item))
                    return a;
    ADD_FAILURE() << "no menu item " << menu << " / " << item;
    static QAction none;
    return &none;
}

// The index-th item of a submenu of a menu bar's menu ("队列(&Q)" / "传输完成(&R)").
inline QAction* SubMenuItem(QMainWindow& w, const char* menu, const char* submenu, int index)
{
    QAction* sub = MenuItem(w, menu, submenu);
    if (!sub->menu() || index >= sub->menu()->actions().size()) {
        ADD_FAILURE() << "no item " << index << " in " << menu << " / " << submenu;
        return sub;
    }
    return sub->menu()->actions().at(index);
}
