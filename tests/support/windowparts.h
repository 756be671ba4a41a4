// SPDX-License-Identifier: GPL-3.0-or-later
// The widgets of a window found by their object names, as the user finds
// them on screen, and the program's other windows among the top-level ones.
#pragma once

#include <QApplication>
#include <QWidget>
#include <QtGlobal>

template <class T = QWidget>
T *part(const QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

template <class T>
T *topLevel()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (auto *window = qobject_cast<T *>(widget))
            return window;
    }
    qFatal("no %s open", T::staticMetaObject.className());
    return nullptr;
}
