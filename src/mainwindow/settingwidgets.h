// SPDX-License-Identifier: GPL-3.0-or-later
// Which of the form's widgets shows each of the device's settings.
#pragma once

#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class Ui_MainWindow;

namespace settings {
struct Key;
}

struct SettingWidgets {
    QLineEdit *field = nullptr; // a value shown as text
    QCheckBox *box = nullptr;   // a flag
    QLabel *label = nullptr;    // the field's name on the form
    QString name() const;       // as messages give it
};

// Nothing for the items the window shows its own way (the mixture unit's
// labels, the sensor's radio buttons).
SettingWidgets widgetsFor(Ui_MainWindow *ui, const settings::Key &key);
